// Playlist files: what a file reads as, what the writer puts in it, and that a failed save never costs
// the user the list they had.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/logic/playlist_file.h"
#include "engine/framework/errors.h"
#include "support/files.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;
using List = std::vector<std::string>;
using test::WriteBytes;

fs::path Folder() {
    return test::FreshFolder("playlists");
}

List ReadText(std::string_view bytes) {
    fs::path file = Folder() / "list.lst";
    WriteBytes(file, bytes);
    List list;
    ReadPlaylist(file.string(), list);
    return list;
}

TEST(PlaylistRead, LineEndsAsTheLayoutGivesThem) {
    // Four lines: an entry, an empty line, two blanks, another player's comment line.
    EXPECT_EQ(ReadText("a.mp3\r\n\r\n  \r\n#EXTINF:123,x\r\n"), (List{"a.mp3", "  ", "#EXTINF:123,x"}));
    // CR alone ends a line; the last line needs no line end.
    EXPECT_EQ(ReadText("a\rb\r\rc"), (List{"a", "b", "c"}));
    // LF alone ends a line too, as lists made on this system have it; CR LF is one line end.
    EXPECT_EQ(ReadText("#EXTM3U\na.mp3\nb.mp3\nc.mp3\n"), (List{"#EXTM3U", "a.mp3", "b.mp3", "c.mp3"}));
    EXPECT_EQ(ReadText("a\r\n\nb\r\n"), (List{"a", "b"}));
    EXPECT_EQ(ReadText("a\n\r\nb\n\rc"), (List{"a", "b", "c"}));
    // Ctrl-Z ends the file, even in the middle of a line; what stood before it on that line counts.
    EXPECT_EQ(ReadText("a\r\nb\x1a\r\nc\r\n"), (List{"a", "b"}));
    EXPECT_EQ(ReadText("a\r\x1a\nb"), (List{"a"}));
    // Other control bytes and 8-bit text stand as they are.
    EXPECT_EQ(ReadText("\t\x01\xE9t\xE9.mp3\r\n"), (List{"\t\x01\xE9t\xE9.mp3"}));
}

TEST(PlaylistRead, OnlyTextOfSaneSizeIsAList) {
    fs::path folder = Folder();
    List list{"kept"};
    // A NUL byte anywhere in the first 64 KiB marks a file that is not text (a picture, a program).
    std::string binary = "a.mp3\r\n" + std::string(kPlaylistTextProbe - 8, 'x');
    binary += '\0';
    WriteBytes(folder / "binary.lst", binary);
    EXPECT_EQ(ReadPlaylistFile((folder / "binary.lst").string(), list), TPlaylistRead::NotAList);
    // Past the probe a NUL is just a byte of a long line.
    binary.insert(0, "y");
    WriteBytes(folder / "late.lst", binary);
    EXPECT_EQ(ReadPlaylistFile((folder / "late.lst").string(), list), TPlaylistRead::Ok);
    EXPECT_EQ(list.size(), 3u);
    list = {"kept"};
    // The cap: exactly 16 MiB is read, one byte more is not a list.
    std::string big(kPlaylistFileCap, 'b');
    big[0] = 'a';
    big[1] = '\n';
    WriteBytes(folder / "big.lst", big);
    EXPECT_EQ(ReadPlaylistFile((folder / "big.lst").string(), list), TPlaylistRead::Ok);
    EXPECT_EQ(list.size(), 3u);
    big += 'b';
    WriteBytes(folder / "big.lst", big);
    EXPECT_EQ(ReadPlaylistFile((folder / "big.lst").string(), list), TPlaylistRead::NotAList);
    EXPECT_EQ(list.size(), 3u);
    WriteBytes(folder / "blank.lst", "\r\n\n");
    EXPECT_EQ(ReadPlaylistFile((folder / "blank.lst").string(), list), TPlaylistRead::NoEntries);
}

TEST(PlaylistRead, ResultAndTheListAreLeftAloneWhenNothingIsRead) {
    List list{"kept"};
    fs::path folder = Folder();
    EXPECT_FALSE(ReadPlaylist("", list));
    EXPECT_FALSE(ReadPlaylist((folder / "missing.lst").string(), list));
    EXPECT_FALSE(ReadPlaylist(folder.string(), list)); // a folder is no playlist
    ASSERT_EQ(::mkfifo((folder / "pipe.lst").c_str(), 0600), 0);
    EXPECT_FALSE(ReadPlaylist((folder / "pipe.lst").string(), list)); // would wait for a writer
    EXPECT_FALSE(ReadPlaylist("/dev/zero", list));                    // would never end
    for (std::string_view empty : {"", "\r\n\r\r\n",
                                   "\x1a"
                                   "a.mp3\r\n"}) {
        WriteBytes(folder / "empty.lst", empty);
        EXPECT_FALSE(ReadPlaylist((folder / "empty.lst").string(), list));
    }
    EXPECT_EQ(list, List{"kept"});
}

TEST(PlaylistRead, ReadingAppends) {
    fs::path file = Folder() / "twice.m3u";
    WriteBytes(file, "one.mp3\r\ntwo.wav\r\n");
    List list{"first"};
    EXPECT_TRUE(ReadPlaylist(file.string(), list));
    EXPECT_TRUE(ReadPlaylist(file.string(), list));
    EXPECT_EQ(list, (List{"first", "one.mp3", "two.wav", "one.mp3", "two.wav"}));
}

TEST(PlaylistRead, LongLinesAreReadWholeAcrossEveryReadBoundary) {
    fs::path file = Folder() / "long.lst";
    const std::string huge(10 * 1024 * 1024, 'x');
    // The CR LF pair of the first line straddles the reader's 64 KiB pieces.
    const std::string first(65535, 'f');
    WriteBytes(file, first + "\r\n" + huge + "\r\nend");
    List list;
    ASSERT_TRUE(ReadPlaylist(file.string(), list));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0], first);
    EXPECT_EQ(list[1].size(), huge.size());
    EXPECT_EQ(list[1], huge);
    EXPECT_EQ(list[2], "end");
}

TEST(PlaylistRead, SplittingDoesNotDependOnHowTheBytesArrive) {
    const std::string text = "a\r\nbb\r\r\n\nccc\rd\n\r\n\r\ne\x1a"
                             "after";
    List whole;
    PlaylistLineSplitter all(whole);
    all.Feed(text);
    all.Finish();
    for (std::size_t piece = 1; piece <= 4; ++piece) {
        List pieces;
        PlaylistLineSplitter splitter(pieces);
        for (std::size_t at = 0; at < text.size(); at += piece) {
            splitter.Feed(std::string_view(text).substr(at, piece));
        }
        splitter.Finish();
        EXPECT_EQ(pieces, whole) << "pieces of " << piece;
    }
    EXPECT_EQ(whole, (List{"a", "bb", "ccc", "d", "e"}));
}

TEST(PlaylistRead, ReadErrorRaisesAndLeavesTheListAlone) {
    // The first page of a process's memory is never mapped: reading it is an I/O error.
    List list{"kept"};
    EXPECT_THROW(ReadPlaylist("/proc/self/mem", list), EInOutError);
    EXPECT_EQ(list, List{"kept"});
}

TEST(PlaylistWrite, EveryEntryEndsWithCRLFAndReadsBack) {
    fs::path file = Folder() / "out.lst";
    const List list{"C:\\Music\\a.mp3", "", "  ", "#EXTM3U", "\xE9t\xE9.wav"};
    ASSERT_TRUE(WritePlaylist(file.string(), list));
    EXPECT_EQ(test::ReadWhole(file),
              "C:\\Music\\a.mp3\r\n  \r\n#EXTM3U\r\n\xE9t\xE9.wav\r\n"); // no empty line
    List back;
    ASSERT_TRUE(ReadPlaylist(file.string(), back));
    EXPECT_EQ(back, (List{"C:\\Music\\a.mp3", "  ", "#EXTM3U", "\xE9t\xE9.wav"}));

    // An empty list truncates; an empty name writes nothing and succeeds.
    ASSERT_TRUE(WritePlaylist(file.string(), {}));
    EXPECT_EQ(test::ReadWhole(file), "");
    EXPECT_TRUE(WritePlaylist("", list));
    // Only the list file itself is in the folder: no temporary file is left.
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}

TEST(PlaylistWrite, ReplacingKeepsTheFilesModeAndLinks) {
    fs::path folder = Folder();
    fs::path real = folder / "real.m3u";
    WriteBytes(real, "old\r\n");
    ::chmod(real.c_str(), 0640);
    fs::create_symlink(real, folder / "link.m3u");
    ASSERT_TRUE(WritePlaylist((folder / "link.m3u").string(), {"new"}));
    EXPECT_TRUE(fs::is_symlink(folder / "link.m3u"));
    EXPECT_EQ(test::ReadWhole(real), "new\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(PlaylistWrite, AFailedWriteReturnsFalseAndLeavesTheOldFileWhole) {
    fs::path folder = Folder();
    const List list{"a.mp3", "b.mp3"};

    // The target is a folder.
    fs::create_directories(folder / "dir.lst" / "inside");
    EXPECT_FALSE(WritePlaylist((folder / "dir.lst").string(), list));
    EXPECT_TRUE(fs::exists(folder / "dir.lst" / "inside"));
    // The folder does not exist.
    EXPECT_FALSE(WritePlaylist((folder / "nowhere" / "x.lst").string(), list));

    // The disk fills up halfway through the list (a file size limit stands in for the full disk,
    // since it binds every user, root included).
    fs::path file = folder / "keep.lst";
    const std::string old = "old entry 1\r\nold entry 2\r\n";
    WriteBytes(file, old);
    pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        List big(1000, std::string(100, 'n'));
        ::_exit(WritePlaylist(file.string(), big) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write was reported as a success";
    EXPECT_EQ(test::ReadWhole(file), old);

    // A folder that does not let us write (root may write anywhere, so only for other users).
    if (::geteuid() != 0) {
        fs::path locked = Folder();
        WriteBytes(locked / "ro.lst", old);
        ::chmod(locked.c_str(), 0500);
        EXPECT_FALSE(WritePlaylist((locked / "ro.lst").string(), list));
        ::chmod(locked.c_str(), 0700);
        EXPECT_EQ(test::ReadWhole(locked / "ro.lst"), old);
    }
    // Nothing but what the test made is left in the folder.
    std::size_t entries = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    EXPECT_EQ(entries, 2u);
}

} // namespace
} // namespace tunefold
