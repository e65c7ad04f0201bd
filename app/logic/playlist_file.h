// Playlist files (".lst" and ".m3u" share one layout): 8-bit text, one path per line.
//
// Reading: a line ends at CR, and a LF right after that CR belongs to the line end; a LF on its own is
// an ordinary character of the line. Ctrl-Z (26) ends the file. Empty lines are skipped; every other
// line is an entry exactly as written, blanks and other players' "#EXTM3U" lines included. Lines of
// any length are read whole.
//
// Writing: every entry followed by CR LF, in list order, nothing else.
#pragma once

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

// Appends every non-empty line of `fileName` to `list`. True when at least one line was added; false
// (and `list` unchanged) for an empty name, a file that does not exist, is no regular file (a folder,
// a pipe, a device) or has no entry. A file that
// exists but cannot be opened or read raises EInOutError; `list` is then unchanged too.
bool ReadPlaylist(const std::string& fileName, std::vector<std::string>& list);

// Writes `list` to `fileName`, each entry followed by CR LF; empty entries, which no reader would see,
// are left out. The old file is replaced only once the whole new one is on disk, so a failure returns
// false and leaves the old playlist as it was. An empty name writes nothing and returns true.
bool WritePlaylist(const std::string& fileName, const std::vector<std::string>& list);

} // namespace tunefold
