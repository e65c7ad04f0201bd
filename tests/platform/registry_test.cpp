// Keys and values through the service, over the in-memory store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/registry_file_store.h"
#include "platform/registry.h"
#include "platform/virtual/virtual_registry.h"

namespace tunefold::platform {
namespace {

class RegistryKeyTest : public testing::Test {
protected:
    void SetUp() override { InstallRegistryStore(store); }
    void TearDown() override { InstallRegistryStore(nullptr); }
    std::shared_ptr<VirtualRegistryStore> store = std::make_shared<VirtualRegistryStore>();
};

TEST_F(RegistryKeyTest, OpensOnlyWhatExistsUnlessAskedToCreate) {
    RegistryKey key;
    EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, "Software\\Brenvik\\Tunefold\\2.0", false));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_TRUE(store->Tree().keys.empty()); // a failed open creates nothing

    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "Software\\Brenvik\\Tunefold\\2.0", true));
    RegistryTree tree = store->Tree();
    EXPECT_EQ(tree.keys.size(), 4u); // the key and its three ancestors
    EXPECT_EQ(tree.keys.count("HKEY_CURRENT_USER\\Software\\Brenvik"), 1u);
    key.Close();

    // A leading "\" names the same key; names compare without case; the ancestors open too.
    for (const char* path :
         {"\\Software\\Brenvik\\Tunefold\\2.0", "software\\BRENVIK\\tunefold\\2.0", "Software", ""}) {
        EXPECT_TRUE(key.Open(HKEY_CURRENT_USER, path, false)) << path;
    }
    // The same path under the other root is another key.
    EXPECT_FALSE(key.Open(HKEY_CLASSES_ROOT, "Software", false));
    EXPECT_FALSE(key.IsOpen()); // a failed open leaves the handle closed, not on the old key
    EXPECT_TRUE(key.Open(HKEY_CLASSES_ROOT, ".mp3", true));

    // Bad paths and roots the store does not hold fail, with or without creating.
    for (const char* path : {"a\\\\b", "a\\", "\\\\a", "a\\b\x01"}) {
        EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, path, true)) << path;
    }
    EXPECT_TRUE(key.Open(HKEY_CURRENT_USER, "\\", false)); // the root itself
    EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, std::string(256, 'k'), true));
    EXPECT_TRUE(key.Open(HKEY_CURRENT_USER, std::string(255, 'k'), true));
    EXPECT_FALSE(key.Open(HKEY_LOCAL_MACHINE, "Software", true));
    EXPECT_FALSE(key.Open(0x1234, "Software", true));
    EXPECT_TRUE(IsPredefinedRoot(HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(IsPredefinedRoot(0x1234));
}

TEST_F(RegistryKeyTest, ValuesHaveOneTypeAndReadersRefuseTheOthers) {
    RegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "Software\\T", true));
    EXPECT_TRUE(key.WriteString("WH", "42"));
    EXPECT_TRUE(key.WriteInteger("Buffers", 0xDEADBEEFu));
    EXPECT_TRUE(key.WriteBinary("Gain", std::string("\x00\x01", 2)));

    EXPECT_EQ(key.ValueType("wh"), REG_SZ);
    EXPECT_EQ(key.ValueType("Buffers"), REG_DWORD);
    EXPECT_EQ(key.ValueType("Gain"), REG_BINARY);
    EXPECT_EQ(key.ValueType("missing"), REG_NONE);
    EXPECT_FALSE(key.ValueExists("missing"));

    std::string text = "unchanged";
    DWORD number = 7;
    std::string bytes = "unchanged";
    EXPECT_FALSE(key.ReadString("Buffers", text));
    EXPECT_FALSE(key.ReadInteger("WH", number));
    EXPECT_FALSE(key.ReadBinary("WH", bytes));
    EXPECT_FALSE(key.ReadString("missing", text));
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(number, 7u);
    EXPECT_EQ(bytes, "unchanged");
    ASSERT_TRUE(key.ReadInteger("BUFFERS", number));
    EXPECT_EQ(number, 0xDEADBEEFu);
    ASSERT_TRUE(key.ReadBinary("Gain", bytes));
    EXPECT_EQ(bytes, std::string("\x00\x01", 2));

    // A write of another type replaces the value and keeps the name's first spelling.
    EXPECT_TRUE(key.WriteInteger("wh", 5));
    EXPECT_EQ(key.ValueType("WH"), REG_DWORD);
    EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"Buffers", "Gain", "WH"}));

    EXPECT_TRUE(key.DeleteValue("gain"));
    EXPECT_FALSE(key.DeleteValue("gain"));
    EXPECT_FALSE(key.ValueExists("Gain"));
    EXPECT_EQ(store->Tree().keys.at("HKEY_CURRENT_USER\\Software\\T").size(), 2u);

    key.Close();
    EXPECT_FALSE(key.WriteString("x", "y"));
    EXPECT_FALSE(key.ValueExists("WH"));
}

TEST_F(RegistryKeyTest, WritesKeepWhatOthersStoredSinceTheOpen) {
    RegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "Software\\T", true));
    // Another process adds a value after our open, and removes the key's sibling.
    RegistryTree other = store->Tree();
    other.keys["HKEY_CURRENT_USER\\Software\\T"].emplace("Param", RegistryValue::String("/music/a.mp3"));
    store->SetTree(other);
    EXPECT_FALSE(key.ValueExists("Param")); // the open read a snapshot

    ASSERT_TRUE(key.WriteString("WH", "0"));
    EXPECT_TRUE(key.ValueExists("Param")); // the write read the store fresh and kept it
    EXPECT_EQ(store->Tree().keys.at("HKEY_CURRENT_USER\\Software\\T").size(), 2u);

    // The key deleted behind our back comes back with the value written into it.
    store->SetTree(RegistryTree{});
    ASSERT_TRUE(key.WriteInteger("Top", 3));
    EXPECT_EQ(store->Tree().keys.count("HKEY_CURRENT_USER\\Software"), 1u);
}

TEST_F(RegistryKeyTest, AFailingStoreFailsEveryCallAndChangesNothing) {
    RegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "Software\\T", true));
    ASSERT_TRUE(key.WriteString("WH", "1"));
    RegistryTree before = store->Tree();

    store->SetWriteFails(true);
    EXPECT_FALSE(key.WriteString("WH", "2"));
    EXPECT_FALSE(key.DeleteValue("WH"));
    std::string text;
    ASSERT_TRUE(key.ReadString("WH", text));
    EXPECT_EQ(text, "1"); // the snapshot is not changed by a failed write either
    RegistryKey created;
    EXPECT_FALSE(created.Open(HKEY_CURRENT_USER, "Software\\New", true));
    EXPECT_TRUE(created.Open(HKEY_CURRENT_USER, "Software\\T", true)); // an existing key needs no write

    store->SetWriteFails(false);
    store->SetReadFails(true);
    EXPECT_FALSE(created.Open(HKEY_CURRENT_USER, "Software\\T", false));
    EXPECT_FALSE(key.WriteString("WH", "3"));
    store->SetReadFails(false);
    EXPECT_EQ(store->Tree(), before);
}

TEST(RegistryAccessor, DefaultIsOneLastingFileStoreInTheConfigFolder) {
    InstallRegistryStore(nullptr);
    auto first = CurrentRegistryStore();
    auto* file = dynamic_cast<FileRegistryStore*>(first.get());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Path(), std::string(std::getenv("XDG_CONFIG_HOME")) + "/tunefold/registry.reg");
    EXPECT_EQ(CurrentRegistryStore(), first);

    auto mine = std::make_shared<VirtualRegistryStore>();
    InstallRegistryStore(mine);
    EXPECT_EQ(CurrentRegistryStore(), mine);
    InstallRegistryStore(nullptr);
    EXPECT_EQ(CurrentRegistryStore(), first);
}

} // namespace
} // namespace tunefold::platform
