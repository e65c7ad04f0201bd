// What a file the user opens plays: audio itself, or the entries of a text playlist. Lists made on
// this system, other players' comment lines, files that only pretend to be lists, and the way names
// from outside are shown in messages.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/logic/play_entries.h"
#include "support/files.h"
#include "support/pull.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;
using List = std::vector<std::string>;
using test::WriteBytes;

fs::path Folder() {
    return test::FreshFolder("entries");
}

TEST(PlayItems, ListsMadeHerePlayTheirExistingEntriesInOrder) {
    const fs::path folder = Folder();
    fs::create_directories(folder / "sub");
    fs::copy_file(test::Fixture("pcm8_stereo_22050.wav"), folder / "sub" / "a.wav");
    fs::copy_file(test::Fixture("l2_mono_96_48000.mp2"), folder / "b.mp2");
    WriteBytes(folder / "notes.txt", "just text\n");
    // LF line ends, the extended M3U lines, a vanished file, and a file that is no audio.
    WriteBytes(folder / "list.m3u", "#EXTM3U\n#EXTINF:12,Someone - A\nsub/a.wav\nmissing.mp3\n"
                                    "#EXTINF:3,B\r\n" +
                                        (folder / "b.mp2").string() + "\nnotes.txt\n");
    const TPlayItems items = PlayItemsFor((folder / "list.m3u").string());
    EXPECT_FALSE(items.notValid);
    EXPECT_EQ(items.files, (List{(folder / "sub" / "a.wav").string(), (folder / "b.mp2").string(),
                                 (folder / "notes.txt").string()}));
    // "\" separators of lists made elsewhere.
    WriteBytes(folder / "dos.lst", "sub\\a.wav\r\n");
    EXPECT_EQ(PlayItemsFor((folder / "dos.lst").string()).files, List{(folder / "sub" / "a.wav").string()});
    // An audio file plays itself.
    const TPlayItems audio = PlayItemsFor((folder / "b.mp2").string());
    EXPECT_EQ(audio.files, List{(folder / "b.mp2").string()});
    // A list of nothing that exists is a list with nothing to play, not an error of the list.
    WriteBytes(folder / "gone.lst", "#EXTM3U\ngone.mp3\n");
    const TPlayItems gone = PlayItemsFor((folder / "gone.lst").string());
    EXPECT_FALSE(gone.notValid);
    EXPECT_TRUE(gone.files.empty());
}

TEST(PlayItems, FilesThatAreNoListAreReportedOnce) {
    const fs::path folder = Folder();
    fs::copy_file(test::Fixture("pcm8_stereo_22050.wav"), folder / "real.wav");
    const std::string real = (folder / "real.wav").string();
    // A picture: a NUL among its first bytes.
    WriteBytes(folder / "cover.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + real + "\n");
    // A damaged "mp3" that happens to hold a path must not play that other file.
    WriteBytes(folder / "x.mp3", real + "\n");
    WriteBytes(folder / "X.WAV", real + "\n");
    WriteBytes(folder / "empty.lst", "");
    ::mkfifo((folder / "pipe.lst").c_str(), 0600);
    for (const char* name : {"cover.png", "x.mp3", "X.WAV", "empty.lst", "pipe.lst", "missing.lst", "."}) {
        const TPlayItems items = PlayItemsFor((folder / name).string());
        EXPECT_TRUE(items.notValid) << name;
        EXPECT_TRUE(items.files.empty()) << name;
    }
    EXPECT_TRUE(PlayItemsFor("/dev/zero").notValid);
    // The same path in a text file with a list's name plays.
    WriteBytes(folder / "x.lst", real + "\n");
    EXPECT_EQ(PlayItemsFor((folder / "x.lst").string()).files, List{real});
}

TEST(PrintableText, ControlsAndBrokenTextAreEscapedAndLongTextIsCut) {
    EXPECT_EQ(PrintableText("plain name.mp3"), "plain name.mp3");
    EXPECT_EQ(PrintableText("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"),
              "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5");
    // A terminal's escape sequences, line ends, DEL, a C1 CSI in UTF-8 and alone, a lone byte.
    EXPECT_EQ(PrintableText("\x1b[2Ja\nb\r\x7f"), "\\x1b[2Ja\\x0ab\\x0d\\x7f");
    EXPECT_EQ(PrintableText("\xC2\x9B"
                            "1m \x9B \xFF \xC3"),
              "\\xc2\\x9b1m \\x9b \\xff \\xc3");
    // Overlong forms and surrogates are not text.
    EXPECT_EQ(PrintableText("\xC0\xAF \xED\xA0\x80"), "\\xc0\\xaf \\xed\\xa0\\x80");
    EXPECT_EQ(PrintableText(std::string(3, '\0')), "\\x00\\x00\\x00");
    const std::string longLine(20 * 1024 * 1024, 'a');
    const std::string shown = PrintableText(longLine, 300);
    EXPECT_EQ(shown, std::string(300, 'a') + "...");
}

} // namespace
} // namespace tunefold
