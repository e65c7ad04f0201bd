// The folders the playlist editor browses: the media mount points read from a mount table, and the
// real listing of a folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/folders.h"
#include "support/files.h"

namespace tunefold::platform {
namespace {

namespace fs = std::filesystem;

TEST(Folders, MediaMountPointsAreTheMountsBelowTheMediaFolders) {
    const std::string mounts = "sysfs /sys sysfs rw 0 0\n"
                               "/dev/sda1 / ext4 rw 0 0\n"
                               "/dev/sdb1 /media/u/USB\\040STICK vfat rw 0 0\n"
                               "/dev/sdc1 /run/media/u/CARD exfat rw 0 0\n"
                               "/dev/sdd1 /mnt/backup ext4 rw 0 0\n"
                               "/dev/sdd1 /mnt/backup ext4 rw 0 0\n" // mounted twice: shown once
                               "tmpfs /media tmpfs rw 0 0\n"         // the folder itself is no medium
                               "/dev/sde1 /mediaplayer ext4 rw 0 0\n"
                               "/dev/sdf1 /home/u/mnt/x ext4 rw 0 0\n"
                               "broken-line-without-fields\n"
                               "/dev/sdg1 /mnt/last\\134slash ext4 rw 0 0"; // no line end at the end
    const std::vector<std::string> expected = {"/media/u/USB STICK", "/run/media/u/CARD", "/mnt/backup",
                                               "/mnt/last\\slash"};
    EXPECT_EQ(MediaMountPoints(mounts), expected);
    EXPECT_TRUE(MediaMountPoints("").empty());
    // A cut escape stays as written.
    EXPECT_EQ(MediaMountPoints("d /mnt/a\\04 t 0 0\n"), std::vector<std::string>{"/mnt/a\\04"});
}

TEST(Folders, TheRealListingFollowsLinksAndLeavesHiddenNamesOut) {
    const fs::path folder = test::FreshFolder("listing");
    fs::create_directories(folder / "sub");
    fs::create_directories(folder / ".hidden");
    test::WriteBytes(folder / "a.mp3", "x");
    test::WriteBytes(folder / ".b.mp3", "x");
    fs::create_symlink(folder / "sub", folder / "link-to-sub");
    fs::create_symlink(folder / "a.mp3", folder / "link-to-a.mp3");
    fs::create_symlink(folder / "missing", folder / "dangling.mp3");

    FolderContents c = Folders().List(folder.string());
    ASSERT_TRUE(c.readable);
    std::sort(c.folders.begin(), c.folders.end());
    std::sort(c.files.begin(), c.files.end());
    EXPECT_EQ(c.folders, (std::vector<std::string>{"link-to-sub", "sub"}));
    EXPECT_EQ(c.files, (std::vector<std::string>{"a.mp3", "link-to-a.mp3"}));
    EXPECT_FALSE(Folders().List((folder / "a.mp3").string()).readable);
    EXPECT_FALSE(Folders().List((folder / "none").string()).readable);

    // The places: the home folder first, then the root.
    const std::vector<Place> places = Folders().Places();
    ASSERT_GE(places.size(), 2u);
    EXPECT_EQ(places[0].path, std::getenv("HOME"));
    EXPECT_EQ(places[1].path, "/");
}

} // namespace
} // namespace tunefold::platform
