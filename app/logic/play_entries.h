// What a file the user opens stands for when it is played: an audio file plays itself; a text file
// that is no audio file is a playlist whose entries play in order. The player and tunefold-render
// both go through here, so a list plays the same in either.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tunefold {

// A playlist entry as the player resolves it: "\" separators, a leading "\" dropped when the path
// it makes does not exist (the M3U flavour's "below the program folder"), relative entries against
// the list's folder, then the program's folder.
std::string ResolvePlaylistEntry(std::string entry, const std::string& listFile);
// The same against a given program folder.
std::string ResolvePlaylistEntry(std::string entry, const std::string& listFile,
                                 const std::string& programFolder);

struct TPlayItems {
    // The files to play, in order: existing regular files (whether they are audio is found out when
    // each is opened).
    std::vector<std::string> files;
    // The opened file itself is to be reported once as "<name> is not a valid Audiofile": it does not
    // exist, or is neither audio nor a playlist (binary, too large, no entries, or named as audio).
    bool notValid = false;
};

// The entries of `fileName` read as a playlist, as they stand: false (and `list` left alone) when the
// file may not be read as one - no regular file, named as audio, binary, too large, or without an
// entry.
bool ReadPlayerList(const std::string& fileName, std::vector<std::string>& list);

// Comment lines ("#EXTM3U", "#EXTINF:...") and entries that name no existing file are skipped
// silently, as other players do.
TPlayItems PlayItemsFor(const std::string& fileName);

// A name, entry or other outside text as a message may repeat it: control characters, and bytes
// that are not UTF-8, are shown as \xNN; a text longer than `limit` bytes is cut and ends in "...".
std::string PrintableText(std::string_view text, std::size_t limit = 300);

} // namespace tunefold
