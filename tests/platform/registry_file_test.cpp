// The store's text layout: everything the program can store comes back unchanged, and text that is not
// in the layout is refused as a whole rather than read in part.
#include <gtest/gtest.h>

#include "platform/registry_file.h"

namespace tunefold::platform {
namespace {

constexpr const char* kUser = "HKEY_CURRENT_USER\\Software\\Brenvik\\Tunefold\\2.0";

RegistryTree Parse(std::string_view text) {
    RegistryTree tree;
    EXPECT_TRUE(ParseRegistryFile(text, tree)) << text;
    return tree;
}

TEST(RegistryFile, EveryKindOfValueRoundTripsByteForByte) {
    std::string allBytes;
    for (int b = 0; b < 256; ++b) {
        allBytes += static_cast<char>(b);
    }
    RegistryTree tree;
    auto& values = tree.keys[kUser];
    values.emplace("WH", RegistryValue::String("12345"));
    values.emplace("", RegistryValue::String("Tunefold")); // the unnamed default value
    values.emplace("quote\"back\\slash", RegistryValue::String("C:\\Music\\\"odd\".mp3"));
    values.emplace("every byte", RegistryValue::String(allBytes));
    values.emplace(std::string("nul\0name", 8), RegistryValue::String(std::string("a\0b", 3)));
    values.emplace("empty", RegistryValue::String(""));
    values.emplace("Buffers", RegistryValue::Integer(132));
    values.emplace("max", RegistryValue::Integer(0xFFFFFFFFu));
    values.emplace("bin", RegistryValue::Binary(allBytes));
    values.emplace("nobytes", RegistryValue::Binary(""));
    values.emplace("expand", RegistryValue{2, "%HOME%"});            // a type we do not use ourselves
    values.emplace("short dword", RegistryValue{REG_DWORD, "\x01"}); // not four bytes: kept as it is
    tree.keys["HKEY_CLASSES_ROOT\\.mp3"].emplace("", RegistryValue::String("Tunefold"));
    tree.keys["HKEY_CLASSES_ROOT\\odd]name[\\x"]; // brackets inside key names, an empty key
    tree.keys["HKEY_CURRENT_USER"].emplace("at root", RegistryValue::Integer(7));
    // Ancestors exist as keys of their own, as the registry keeps them.
    for (const char* key :
         {"HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\Brenvik",
          "HKEY_CURRENT_USER\\Software\\Brenvik\\Tunefold", "HKEY_CLASSES_ROOT\\odd]name["}) {
        tree.keys[key];
    }

    std::string text = FormatRegistryFile(tree);
    RegistryTree back;
    ASSERT_TRUE(ParseRegistryFile(text, back)) << text;
    EXPECT_EQ(back, tree);
    EXPECT_EQ(FormatRegistryFile(back), text);
    // No value may break the line structure: one line per key, value, header and separator.
    std::size_t lines = 0;
    for (char c : text) {
        lines += c == '\n';
    }
    std::size_t expected = 1;
    for (const auto& [name, keyValues] : tree.keys) {
        expected += 2 + keyValues.size();
    }
    EXPECT_EQ(lines, expected);
}

TEST(RegistryFile, ReadsTheLayoutAsWrittenByHandAndByOtherTools) {
    RegistryTree tree = Parse("\xEF\xBB\xBFREGEDIT4\r\n"
                              "; settings of the player\r\n"
                              "\r\n"
                              "[hkey_current_user\\Software\\Brenvik\\Tunefold\\2.0]\r\n"
                              "\"Buffers\"=dword:0000ABcd\r\n"
                              "\"Gain\"=hex:00,FF\r\n"
                              "\"Tab\"=\"a\\tb\\x41\\n\"\r\n"
                              "\"buffers\"=dword:00000001\r\n" // same name in other case: last wins
                              "   \r\n");
    // The root's name is canonical; ancestors exist; the first spelling of a value name stays.
    ASSERT_EQ(tree.keys.count("HKEY_CURRENT_USER\\Software\\Brenvik"), 1u);
    const auto& values = tree.keys.at(kUser);
    EXPECT_EQ(tree.keys.find(kUser)->first, kUser);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values.begin()->first, "Buffers");
    EXPECT_EQ(values.at("BUFFERS"), RegistryValue::Integer(1));
    EXPECT_EQ(values.at("gain"), RegistryValue::Binary(std::string("\x00\xFF", 2)));
    EXPECT_EQ(values.at("Tab"), RegistryValue::String("a\tbA\n"));

    // A key listed again later adds to the first listing.
    RegistryTree twice =
        Parse("REGEDIT4\n[HKEY_CLASSES_ROOT\\.wav]\n@=\"x\"\n[HKEY_CLASSES_ROOT\\.WAV]\n\"old\"=\"y\"\n");
    EXPECT_EQ(twice.keys.at("HKEY_CLASSES_ROOT\\.wav").size(), 2u);
    // A header alone is an empty store.
    EXPECT_TRUE(Parse("REGEDIT4").keys.empty());
}

TEST(RegistryFile, RefusesAnythingOutsideTheLayoutAsAWhole) {
    const char* broken[] = {
        "",                                           // no header
        "REGEDIT5\n",                                 // other header
        "Windows Registry Editor Version 5.00\n",     // a layout we do not write
        "REGEDIT4\n\"v\"=\"outside any key\"\n",      // value before a key
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n", // root we do not hold
        "REGEDIT4\n[HKEY_CURRENT_USER\\a\\\\b]\n",    // empty component
        "REGEDIT4\n[HKEY_CURRENT_USER\\a\\]\n",       // trailing separator
        "REGEDIT4\n[HKEY_CURRENT_USER\\]\n",          // empty path after the root
        "REGEDIT4\n[HKEY_CURRENT_USER\\a\x01]\n",     // control character in a key name
        "REGEDIT4\n[HKEY_CURRENT_USER\\a\n",          // unclosed bracket
        "REGEDIT4\n[-HKEY_CURRENT_USER\\a]\n",        // deletions are not ours
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=\"open\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=\"x\"junk\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=\"bad \\q escape\"\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=\"half \\x4\"\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=\"ends in \\\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=dword:1\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=dword:000000001\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=dword:0000000g\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=hex:1,2\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=hex:01,\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=hex:01,02\\\n", // continuation lines are not written by us
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=hex(:01\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=hex(2:01\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\"=\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\nv=\"unquoted name\"\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\a]\n\"v\" = \"spaces\"\n",
    };
    for (const char* text : broken) {
        RegistryTree tree;
        tree.keys["HKEY_CURRENT_USER\\stale"];
        EXPECT_FALSE(ParseRegistryFile(text, tree)) << text;
        EXPECT_TRUE(tree.keys.empty()) << text; // nothing of a refused store is used
    }
}

} // namespace
} // namespace tunefold::platform
