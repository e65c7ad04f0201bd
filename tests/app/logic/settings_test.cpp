// Reading a setting never fails: whatever goes wrong gives the default. Every kind of value reads back
// exactly as written.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>

#include "app/logic/settings.h"
#include "platform/linux/registry_file_store.h"
#include "platform/virtual/virtual_registry.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_CURRENT_USER;
using platform::RegistryKey;
using platform::RegistryValue;

// One default of every kind, chosen so that no stored value below equals it by accident.
std::vector<SettingValue> Defaults() {
    return {SettingValue(std::int32_t{-17}),      SettingValue(2.5),
            SettingValue(CurrencyValue{123456}),  SettingValue(DateTimeValue{45000.25}),
            SettingValue(std::string("default")), SettingValue(true)};
}

bool SameBits(const SettingValue& a, const SettingValue& b) {
    if (a.index() != b.index()) {
        return false;
    }
    if (auto* x = std::get_if<double>(&a)) {
        return std::bit_cast<std::uint64_t>(*x) == std::bit_cast<std::uint64_t>(std::get<double>(b));
    }
    if (auto* x = std::get_if<DateTimeValue>(&a)) {
        return std::bit_cast<std::uint64_t>(x->days) ==
               std::bit_cast<std::uint64_t>(std::get<DateTimeValue>(b).days);
    }
    return a == b;
}

class SettingsTest : public testing::Test {
protected:
    void SetUp() override { platform::InstallRegistryStore(store); }
    void TearDown() override { platform::InstallRegistryStore(nullptr); }

    SettingValue Read(std::string_view name, const SettingValue& fallback) {
        return ReadSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, name, fallback);
    }

    std::shared_ptr<platform::VirtualRegistryStore> store =
        std::make_shared<platform::VirtualRegistryStore>();
};

TEST_F(SettingsTest, EveryFailureGivesTheDefaultForEveryKind) {
    for (const SettingValue& fallback : Defaults()) {
        SCOPED_TRACE(testing::Message() << "kind " << fallback.index());
        // No key at all.
        EXPECT_TRUE(SameBits(Read("Buffers", fallback), fallback));
        EXPECT_TRUE(store->Tree().keys.empty()); // reading never creates the key

        // The key without the value.
        RegistryKey key;
        ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, SettingsKeyPath, true));
        EXPECT_TRUE(SameBits(Read("Buffers", fallback), fallback));

        // A value of every other registry type than the one this kind is stored as.
        const RegistryValue others[] = {RegistryValue::String("132"), RegistryValue::Integer(132),
                                        RegistryValue::Binary("12345678"), RegistryValue::Binary("1234"),
                                        RegistryValue{2, "%x%"}};
        for (const RegistryValue& other : others) {
            bool matches = false;
            switch (TagOf(fallback)) {
            case SettingTag::Integer:
            case SettingTag::Boolean:
                matches = other.type == platform::REG_DWORD;
                break;
            case SettingTag::String:
                matches = other.type == platform::REG_SZ;
                break;
            default:
                matches = other.type == platform::REG_BINARY && other.data.size() == 8;
            }
            if (matches) {
                continue;
            }
            platform::RegistryTree tree = store->Tree();
            tree.keys["HKEY_CURRENT_USER\\Software\\Brenvik\\Tunefold\\2.0"].insert_or_assign("Buffers",
                                                                                              other);
            store->SetTree(tree);
            EXPECT_TRUE(SameBits(Read("Buffers", fallback), fallback)) << "type " << other.type;
        }

        // A store that cannot be read.
        WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "Stored",
                          Defaults()[(fallback.index() + 1) % 6]);
        store->SetReadFails(true);
        EXPECT_TRUE(SameBits(Read("Stored", fallback), fallback));
        store->SetReadFails(false);
        store->SetTree({});
    }
}

TEST_F(SettingsTest, EveryKindRoundTripsExactly) {
    const SettingValue values[] = {
        SettingValue(std::int32_t{0}),
        SettingValue(std::int32_t{132}),
        SettingValue(std::numeric_limits<std::int32_t>::min()),
        SettingValue(std::numeric_limits<std::int32_t>::max()),
        SettingValue(std::int32_t{-1}),
        SettingValue(0.1),
        SettingValue(-0.0),
        SettingValue(std::numeric_limits<double>::denorm_min()),
        SettingValue(std::numeric_limits<double>::infinity()),
        SettingValue(std::bit_cast<double>(std::uint64_t{0x7FF8DEADBEEF0001})), // a NaN with payload
        SettingValue(CurrencyValue{std::numeric_limits<std::int64_t>::min()}),
        SettingValue(CurrencyValue{-12345678901234}),
        SettingValue(DateTimeValue{45999.999988425926}),
        SettingValue(DateTimeValue{-693593.0}),
        SettingValue(std::string()),
        SettingValue(std::string("C:\\Music\\\"x\"\r\n\t\x01\xFF end")),
        SettingValue(std::string(70000, 'z')),
        SettingValue(false),
        SettingValue(true),
    };
    // Through the file store too, so the text layout is part of the round trip.
    auto fileStore = std::make_shared<platform::FileRegistryStore>(
        (test::Sandbox() / "settings-roundtrip" / "registry.reg").string());
    for (auto backend : {std::shared_ptr<platform::RegistryStore>(store),
                         std::shared_ptr<platform::RegistryStore>(fileStore)}) {
        platform::InstallRegistryStore(backend);
        for (std::size_t i = 0; i < std::size(values); ++i) {
            const std::string name = "v" + std::to_string(i);
            WriteSettingValue(HKEY_CURRENT_USER, "\\Software\\Brenvik\\Tunefold\\2.0", name, values[i]);
            // The default must be of the same kind but differ, or a read that failed would pass.
            SettingValue fallback = Defaults()[values[i].index()];
            if (std::holds_alternative<bool>(values[i])) {
                fallback = !std::get<bool>(values[i]);
            }
            SettingValue back = Read(name, fallback);
            EXPECT_TRUE(SameBits(back, values[i])) << name;
        }
    }
}

TEST_F(SettingsTest, KindsAreStoredAsTheirDocumentedRegistryTypes) {
    WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "Buffers", std::int32_t{-2});
    WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "Scheme", std::string("Y"));
    WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "On", true);
    WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "Gain", 1.0);
    WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "Price", CurrencyValue{10000});
    WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "When", DateTimeValue{2.0});
    const platform::RegistryTree stored = store->Tree();
    const auto& values = stored.keys.at("HKEY_CURRENT_USER\\Software\\Brenvik\\Tunefold\\2.0");
    EXPECT_EQ(values.at("Buffers"), RegistryValue::Integer(0xFFFFFFFEu));
    EXPECT_EQ(values.at("Scheme"), RegistryValue::String("Y"));
    EXPECT_EQ(values.at("On"), RegistryValue::Integer(1));
    EXPECT_EQ(values.at("Gain"), RegistryValue::Binary(std::string("\0\0\0\0\0\0\xF0\x3F", 8)));
    EXPECT_EQ(values.at("Price"), RegistryValue::Binary(std::string("\x10\x27\0\0\0\0\0\0", 8)));
    EXPECT_EQ(values.at("When"), RegistryValue::Binary(std::string("\0\0\0\0\0\0\0\x40", 8)));

    // Another program's non-zero number is true, as a boolean stored as a number should be.
    platform::RegistryTree tree = store->Tree();
    tree.keys["HKEY_CURRENT_USER\\Software\\Brenvik\\Tunefold\\2.0"].insert_or_assign(
        "On", RegistryValue::Integer(5));
    store->SetTree(tree);
    EXPECT_EQ(Read("On", false), SettingValue(true));
}

TEST_F(SettingsTest, RootsAndFailingWrites) {
    // A handle that is no predefined root stands for the current user.
    WriteSettingValue(0x1234, SettingsKeyPath, "Left", std::int32_t{10});
    EXPECT_EQ(Read("Left", std::int32_t{0}), SettingValue(std::int32_t{10}));
    EXPECT_EQ(ReadSettingValue(0, SettingsKeyPath, "Left", std::int32_t{0}), SettingValue(std::int32_t{10}));
    // The other root is another tree.
    EXPECT_EQ(ReadSettingValue(HKEY_CLASSES_ROOT, SettingsKeyPath, "Left", std::int32_t{0}),
              SettingValue(std::int32_t{0}));
    // A predefined root the store does not hold is applied, and fails quietly.
    WriteSettingValue(platform::HKEY_LOCAL_MACHINE, SettingsKeyPath, "Top", std::int32_t{3});
    EXPECT_EQ(ReadSettingValue(platform::HKEY_LOCAL_MACHINE, SettingsKeyPath, "Top", std::int32_t{9}),
              SettingValue(std::int32_t{9}));
    EXPECT_EQ(Read("Top", std::int32_t{9}), SettingValue(std::int32_t{9}));

    // A store that refuses writes: nothing escapes, nothing changes.
    store->SetWriteFails(true);
    EXPECT_NO_THROW(WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "Left", std::int32_t{99}));
    EXPECT_NO_THROW(WriteSettingValue(HKEY_CURRENT_USER, "Software\\Other", "Left", std::int32_t{99}));
    store->SetWriteFails(false);
    EXPECT_EQ(Read("Left", std::int32_t{0}), SettingValue(std::int32_t{10}));
    EXPECT_EQ(store->Tree().keys.count("HKEY_CURRENT_USER\\Software\\Other"), 0u);
}

TEST(SettingsFileStore, UnreadableAndBrokenStoresGiveDefaults) {
    const auto folder = test::Sandbox() / "settings-broken";
    const auto path = folder / "registry.reg";
    auto fileStore = std::make_shared<platform::FileRegistryStore>(path.string());
    platform::InstallRegistryStore(fileStore);
    WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "Buffers", std::int32_t{8});

    std::filesystem::remove(path);
    std::filesystem::create_directories(path); // cannot be read at all
    EXPECT_EQ(ReadSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "Buffers", std::int32_t{132}),
              SettingValue(std::int32_t{132}));
    EXPECT_NO_THROW(WriteSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "Buffers", std::int32_t{9}));
    std::filesystem::remove(path);

    // Torn after a good value: the store is refused as a whole, the good value is not used.
    {
        std::ofstream(path) << "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Brenvik\\Tunefold\\2.0]\n"
                               "\"Buffers\"=dword:00000008\n\"Sche";
    }
    EXPECT_EQ(ReadSettingValue(HKEY_CURRENT_USER, SettingsKeyPath, "Buffers", std::int32_t{132}),
              SettingValue(std::int32_t{132}));
    platform::InstallRegistryStore(nullptr);
}

} // namespace
} // namespace tunefold
