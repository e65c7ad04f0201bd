// Playlist files (".lst" and ".m3u" share one layout): 8-bit text, one path per line.
//
// Reading: a line ends at CR LF, CR, or LF, so lists written here and on other systems read alike.
// Ctrl-Z (26) ends the file. Empty lines are skipped; every other line is an entry exactly as
// written, blanks and other players' "#EXTM3U" lines included (the editor keeps them; playing skips
// them). Lines of any length are read whole. A playlist is text: a file with a NUL byte in its first
// 64 KiB, or larger than 16 MiB, is not one.
//
// Writing: every entry followed by CR LF, in list order, nothing else.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tunefold {

// Cuts playlist text into entries as it arrives, in pieces of any size: what a file reads as does not
// depend on how it is read.
class PlaylistLineSplitter {
public:
    explicit PlaylistLineSplitter(std::vector<std::string>& entries) : entries_(entries) {}

    // Takes the next bytes. False once Ctrl-Z has been seen: everything after it is ignored.
    bool Feed(std::string_view bytes);
    // The end of the text: the last line needs no CR.
    void Finish();

private:
    void EndLine();

    std::vector<std::string>& entries_;
    std::string line_;
    bool afterCR_ = false;
    bool ended_ = false;
};

constexpr std::size_t kPlaylistFileCap = 16 * 1024 * 1024;
// How much of the file is looked at for a NUL byte, the mark of a file that is not text.
constexpr std::size_t kPlaylistTextProbe = 64 * 1024;

enum class TPlaylistRead {
    Ok,        // at least one entry was added
    NoEntries, // a text file with no entry
    NotAList,  // no such file, no regular file (a folder, a pipe, a device), not text, or too large
};

// Appends every non-empty line of `fileName` to `list`; `list` is unchanged unless the result is Ok.
// A file that exists but cannot be opened or read raises EInOutError; `list` is then unchanged too.
TPlaylistRead ReadPlaylistFile(const std::string& fileName, std::vector<std::string>& list);

// The same, true when at least one line was added.
bool ReadPlaylist(const std::string& fileName, std::vector<std::string>& list);

// True when `bytes` (the start of a file) may be a playlist: no NUL among its first 64 KiB.
bool LooksLikePlaylistText(std::string_view bytes);

// Writes `list` to `fileName`, each entry followed by CR LF; empty entries, which no reader would see,
// are left out. The old file is replaced only once the whole new one is on disk, so a failure returns
// false and leaves the old playlist as it was. An empty name writes nothing and returns true.
bool WritePlaylist(const std::string& fileName, const std::vector<std::string>& list);

} // namespace tunefold
