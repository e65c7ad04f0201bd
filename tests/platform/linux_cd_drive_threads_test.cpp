// The Linux drive on a machine without one, and on a "device" whose ioctls all fail (a regular
// file): no errors, no hangs, and the worker answers refreshes and ends with the drive.
#include "platform/linux/linux_cd_drive.h"

#include <gtest/gtest.h>

#include "support/files.h"

namespace tunefold::platform {
namespace {

TEST(LinuxCdDrive, NoDriveIsNoErrorAndCommandsAreRefused) {
    const auto folder = test::FreshFolder("nocd");
    LinuxCdDrive drive({(folder / "cdrom").string(), (folder / "sr0").string()});
    EXPECT_FALSE(drive.Open());
    EXPECT_FALSE(drive.IsOpen());
    EXPECT_EQ(drive.State().status, CdDriveStatus::NoDrive);
    EXPECT_FALSE(drive.PlayFrames(150, 300));
    EXPECT_FALSE(drive.Eject());
    EXPECT_FALSE(drive.Refresh(100));
    EXPECT_EQ(drive.OpenReader(), nullptr);
    drive.Close(); // closing what never opened is harmless
}

TEST(LinuxCdDrive, AnUnansweringDeviceReadsAsNoInfoAndTheWorkerFollowsOpensAndCloses) {
    const auto folder = test::FreshFolder("fakecd");
    test::WriteBytes(folder / "sr0", "not a drive");
    LinuxCdDrive drive({(folder / "cdrom").string(), (folder / "sr0").string()});
    ASSERT_TRUE(drive.Open());
    EXPECT_EQ(drive.Name(), (folder / "sr0").string());
    ASSERT_TRUE(drive.Refresh(5000));
    EXPECT_EQ(drive.State().status, CdDriveStatus::NoInfo);
    EXPECT_FALSE(drive.State().tocValid);
    // Commands go to the worker; each is followed by a fresh look at the drive.
    EXPECT_TRUE(drive.PlayFrames(150, 300));
    EXPECT_TRUE(drive.Pause());
    EXPECT_TRUE(drive.Eject());
    const std::uint64_t before = drive.Refreshes();
    ASSERT_TRUE(drive.Refresh(5000));
    EXPECT_GT(drive.Refreshes(), before);
    EXPECT_EQ(drive.OpenReader(), nullptr); // no table of contents, nothing to read

    // A second user shares the descriptor; the drive stays open until the last one closes.
    ASSERT_TRUE(drive.Open());
    drive.Close();
    EXPECT_TRUE(drive.IsOpen());
    EXPECT_TRUE(drive.Refresh(5000));
    drive.Close();
    EXPECT_FALSE(drive.IsOpen());
    EXPECT_EQ(drive.State().status, CdDriveStatus::NoDrive);
    EXPECT_FALSE(drive.Stop());
    // Opened again after the worker let the descriptor go.
    ASSERT_TRUE(drive.Open());
    EXPECT_TRUE(drive.Refresh(5000));
    drive.Close();
}

} // namespace
} // namespace tunefold::platform
