// Claiming the file types edits only our entries of the user's mimeapps.list and keeps what the
// defaults were before.
#include "app/logic/file_types.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/mime_apps.h"
#include "platform/registry.h"
#include "platform/virtual/virtual_registry.h"
#include "support/files.h"

namespace tunefold {
namespace {

using platform::RegistryValue;

TEST(MimeApps, SettingDefaultsKeepsEveryOtherLineAndSection) {
    const std::string text = "# kept comment\r\n"
                             "[Added Associations]\r\n"
                             "audio/mpeg=vlc.desktop;\r\n"
                             "\r\n"
                             "[Default Applications]\r\n"
                             "text/plain=gedit.desktop\r\n"
                             "audio/mpeg = vlc.desktop;mpv.desktop;\r\n"
                             "strange line without equals\r\n"
                             "audio/mpeg=duplicate.desktop\r\n"
                             "\r\n"
                             "[Removed Associations]\r\n"
                             "audio/x-wav=foo.desktop;";
    bool found = false;
    EXPECT_EQ(platform::DefaultApplicationEntry(text, "audio/mpeg", found), "vlc.desktop;mpv.desktop;");
    EXPECT_TRUE(found) << "only [Default Applications] counts, spaces around '=' are allowed";
    EXPECT_EQ(platform::DefaultApplicationEntry(text, "audio/x-wav", found), "");
    EXPECT_FALSE(found) << "an entry of another group is not a default";

    const std::string edited = platform::SetDefaultApplications(
        text, {{"audio/mpeg", "tunefold.desktop;"}, {"audio/x-wav", "tunefold.desktop;"}});
    EXPECT_EQ(edited, "# kept comment\r\n"
                      "[Added Associations]\r\n"
                      "audio/mpeg=vlc.desktop;\r\n"
                      "\r\n"
                      "[Default Applications]\r\n"
                      "text/plain=gedit.desktop\r\n"
                      "audio/mpeg=tunefold.desktop;\r\n"
                      "strange line without equals\r\n"
                      "audio/x-wav=tunefold.desktop;\r\n"
                      "\r\n"
                      "[Removed Associations]\r\n"
                      "audio/x-wav=foo.desktop;");

    // No group yet, and a last line without its line end.
    EXPECT_EQ(platform::SetDefaultApplications("[Added Associations]\nx/y=a.desktop", {{"audio/mp2", "t;"}}),
              "[Added Associations]\nx/y=a.desktop\n\n[Default Applications]\naudio/mp2=t;\n");
    EXPECT_EQ(platform::SetDefaultApplications("", {{"audio/mp2", "t;"}}),
              "[Default Applications]\naudio/mp2=t;\n");
    EXPECT_EQ(platform::SetDefaultApplications("[Default Applications]", {{"a/b", "t;"}}),
              "[Default Applications]\na/b=t;\n");
}

class ClaimFileTypesTest : public testing::Test {
protected:
    void SetUp() override {
        platform::InstallRegistryStore(store);
        folder = test::FreshFolder("xdg-config");
        saved = std::getenv("XDG_CONFIG_HOME");
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        list = folder / "mimeapps.list";
    }
    void TearDown() override {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
        platform::InstallRegistryStore(nullptr);
    }
    std::string Old(const std::string& extension) {
        const auto tree = store->Tree();
        auto key = tree.keys.find("HKEY_CLASSES_ROOT\\" + extension);
        if (key == tree.keys.end()) {
            return "(no key)";
        }
        auto value = key->second.find("old");
        return value == key->second.end() ? "(no value)" : value->second.data;
    }

    std::shared_ptr<platform::VirtualRegistryStore> store =
        std::make_shared<platform::VirtualRegistryStore>();
    std::filesystem::path folder;
    std::filesystem::path list;
    std::string saved;
};

TEST_F(ClaimFileTypesTest, ClaimsTheFourTypesKeepsThePreviousDefaultsAndIsDoneOnce) {
    test::WriteBytes(list, "[Default Applications]\n"
                           "audio/mpeg=vlc.desktop;mpv.desktop\n"
                           "image/png=eog.desktop\n"
                           "[Other]\n"
                           "keep=me\n");
    ASSERT_TRUE(ClaimFileTypes());
    EXPECT_EQ(test::ReadWhole(list), "[Default Applications]\n"
                                     "audio/mpeg=tunefold.desktop;vlc.desktop;mpv.desktop;\n"
                                     "image/png=eog.desktop\n"
                                     "audio/x-wav=tunefold.desktop;\n"
                                     "audio/mp2=tunefold.desktop;\n"
                                     "audio/x-mpegurl=tunefold.desktop;\n"
                                     "[Other]\n"
                                     "keep=me\n");
    EXPECT_EQ(Old(".mp3"), "vlc.desktop;mpv.desktop");
    EXPECT_EQ(Old(".wav"), "") << "no default before: an empty old value";
    EXPECT_EQ(Old(".m3u"), "");
    EXPECT_EQ(Old(".l2"), "(no key)") << "no MIME type: skipped";
    EXPECT_EQ(Old(".atx"), "(no key)");
    EXPECT_EQ(store->WriteCount(), 1) << "all old values in one update";

    // Claimed already: nothing is written again, and the kept defaults are not overwritten by ours.
    const auto before = std::filesystem::last_write_time(list);
    ASSERT_TRUE(ClaimFileTypes());
    EXPECT_EQ(store->WriteCount(), 1);
    EXPECT_EQ(Old(".mp3"), "vlc.desktop;mpv.desktop");
    EXPECT_EQ(std::filesystem::last_write_time(list), before);
}

TEST_F(ClaimFileTypesTest, AListThatIsNotOursToRewriteIsLeftAlone) {
    ASSERT_TRUE(ClaimFileTypes()) << "a missing list is created";
    EXPECT_NE(test::ReadWhole(list).find("audio/mpeg=tunefold.desktop;"), std::string::npos);

    std::filesystem::remove(list);
    std::filesystem::create_directory(list);
    EXPECT_FALSE(ClaimFileTypes()) << "a folder";
    EXPECT_TRUE(std::filesystem::is_directory(list));
    std::filesystem::remove(list);

    const std::string huge = "[Default Applications]\n" + std::string(platform::MaxMimeAppsList, '#');
    test::WriteBytes(list, huge);
    EXPECT_FALSE(ClaimFileTypes()) << "too large";
    EXPECT_EQ(test::ReadWhole(list), huge);
    std::filesystem::remove(list);

    // When the old defaults cannot be kept, the list is not changed either: they would be lost.
    test::WriteBytes(list, "[Default Applications]\naudio/mpeg=vlc.desktop\n");
    store->SetWriteFails(true);
    EXPECT_FALSE(ClaimFileTypes());
    EXPECT_EQ(test::ReadWhole(list), "[Default Applications]\naudio/mpeg=vlc.desktop\n");
}

} // namespace
} // namespace tunefold
