// Scheme files: what the reader accepts, what makes it fall back to Standard, and that a written
// scheme reads back as it was.
#include "app/logic/colour_scheme.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/files.h"

namespace tunefold {
namespace {

std::string Lines(int count, const std::string& ending = "\r\n") {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        text += std::to_string(i * 1000) + ending;
    }
    return text;
}

TColourSlots Marked() {
    TColourSlots slots;
    slots.fill(0xDEADBEEF);
    return slots;
}

TEST(ColourScheme, StandardTableHoldsTheBuiltInColours) {
    const TColourSlots& s = StandardColours();
    EXPECT_EQ(s[0], 0x808000u);  // Col1 teal
    EXPECT_EQ(s[1], 0xFFFF00u);  // Col2 aqua
    EXPECT_EQ(s[3], 0x00FFFFu);  // Col4 yellow
    EXPECT_EQ(s[11], 0x0000FFu); // Col12 red
    EXPECT_EQ(s[15], 0x808080u); // Col16 gray
    EXPECT_EQ(s[23], 0x008000u); // Col24 green
    EXPECT_EQ(s[26], 0x000080u); // Col27 maroon
    EXPECT_EQ(s[28], 0x000000u); // Col29 black
    EXPECT_EQ(s[29], 0x808000u); // Col30 teal
}

TEST(ColourScheme, TokensLineEndsAndTheEndOfTheText) {
    TColourSlots slots = Marked();
    ASSERT_TRUE(ParseSchemeText(Lines(29), slots)) << "29 lines: the missing value is 0";
    EXPECT_EQ(slots[28], 29000u);
    EXPECT_EQ(slots[29], 0u);

    ASSERT_TRUE(ParseSchemeText("", slots)) << "an empty text is 30 zeros";
    EXPECT_EQ(slots, TColourSlots{});

    // The rest of a line is skipped; blanks and empty lines before a token are passed over; hex after
    // "$"; LF and CR alone end lines too; a negative number is the value's two's complement.
    std::string text = "1 ignored words\r\n\r\n  \t$FF00FF\n-1\r$80000000\r\n-2147483648\n";
    text += Lines(25, "\n");
    ASSERT_TRUE(ParseSchemeText(text, slots));
    EXPECT_EQ(slots[0], 1u);
    EXPECT_EQ(slots[1], 0xFF00FFu);
    EXPECT_EQ(slots[2], 0xFFFFFFFFu);
    EXPECT_EQ(slots[3], 0x80000000u);
    EXPECT_EQ(slots[4], 0x80000000u);
    EXPECT_EQ(slots[29], 25000u);

    // A token is at most 32 characters: the rest of an over-long one belongs to the skipped line.
    std::string longZeros(32, '0');
    ASSERT_TRUE(ParseSchemeText(longZeros + "77\r\n" + Lines(29), slots));
    EXPECT_EQ(slots[0], 0u);
    EXPECT_EQ(slots[1], 1000u);
}

TEST(ColourScheme, ATokenThatIsNoNumberFailsTheWholeFile) {
    const std::vector<std::string> bad = {"word",       "12abc",       "$",          "-",   "$G0",
                                          "2147483648", "-2147483649", "$100000000", "1.5", "0x10"};
    for (const std::string& token : bad) {
        TColourSlots slots = Marked();
        std::string text = Lines(11) + token + "\r\n" + Lines(18);
        EXPECT_FALSE(ParseSchemeText(text, slots)) << token;
        EXPECT_EQ(slots, Marked()) << token << ": nothing applied";
    }
}

TEST(ColourScheme, LoadColorsFallsBackToStandardForEveryUnusableFile) {
    const auto folder = test::FreshFolder("schemes");
    TColourSlots slots = Marked();

    LoadColors(folder.string(), "", slots);
    EXPECT_EQ(slots, StandardColours()) << "no file named \"\" exists";

    test::WriteBytes(folder / "Standard.sc", Lines(30));
    LoadColors(folder.string(), "Standard", slots);
    EXPECT_EQ(slots[29], 30000u) << "a file named Standard wins over the built-in table";

    test::WriteBytes(folder / "Word.sc", Lines(11) + "orange\r\n" + Lines(18));
    LoadColors(folder.string(), "Word", slots);
    EXPECT_EQ(slots, StandardColours()) << "a word on line 12";

    test::WriteBytes(folder / "Short.sc", Lines(29));
    LoadColors(folder.string(), "Short", slots);
    EXPECT_EQ(slots[28], 29000u);
    EXPECT_EQ(slots[29], 0u);

    std::filesystem::create_directory(folder / "Folder.sc");
    slots = Marked();
    LoadColors(folder.string(), "Folder", slots);
    EXPECT_EQ(slots, StandardColours()) << "not a regular file";

    ASSERT_EQ(::mkfifo((folder / "Pipe.sc").c_str(), 0600), 0);
    slots = Marked();
    LoadColors(folder.string(), "Pipe", slots);
    EXPECT_EQ(slots, StandardColours()) << "a pipe is never opened for reading (it would block)";

    test::WriteBytes(folder / "Huge.sc", Lines(30) + std::string(128 * 1024, ' '));
    slots = Marked();
    LoadColors(folder.string(), "Huge", slots);
    EXPECT_EQ(slots, StandardColours()) << "over the size cap";

    // A name never reaches outside the program's folder.
    test::WriteBytes(folder.parent_path() / "outside.sc", Lines(30));
    slots = Marked();
    LoadColors(folder.string(), "../outside", slots);
    EXPECT_EQ(slots, StandardColours());
    EXPECT_FALSE(WriteScheme(folder.string(), "../outside", slots));
    EXPECT_FALSE(WriteScheme(folder.string(), "..", slots));
}

TEST(ColourScheme, AWrittenSchemeReadsBackAndReplacesTheOldFile) {
    const auto folder = test::FreshFolder("schemes");
    TColourSlots slots;
    for (int i = 0; i < ColourSlotCount; ++i) {
        slots[static_cast<std::size_t>(i)] =
            static_cast<std::uint32_t>(i) * 0x01020304u + 0xF0000000u * (i % 2);
    }
    test::WriteBytes(folder / "standard.sc", "old contents");
    ASSERT_TRUE(WriteScheme(folder.string(), "standard", slots)) << "lower case is a name like any other";
    const std::string text = test::ReadWhole(folder / "standard.sc");
    EXPECT_EQ(text.substr(0, 3), "0\r\n");
    EXPECT_NE(text.find("\r\n-"), std::string::npos) << "high values are written as negative numbers";
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 30);
    TColourSlots back = Marked();
    LoadColors(folder.string(), "standard", back);
    EXPECT_EQ(back, slots);

    EXPECT_FALSE(WriteScheme((folder / "missing").string(), "x", slots)) << "a folder that is not there";
}

} // namespace
} // namespace tunefold
