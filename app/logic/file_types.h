// Claiming the player's file types on the first run: the desktop's default application for the
// MIME type of each extension becomes our desktop entry, and what was the default before is kept in
// the settings store as the value "old" of HKEY_CLASSES_ROOT\<extension> (written, never read back:
// it is there for the user). Extensions without a MIME type cannot be claimed and are skipped.
#pragma once

#include <array>
#include <string_view>

namespace tunefold {

// The desktop entry that names the program.
inline constexpr std::string_view DesktopEntryId = "tunefold.desktop";

// The extensions claimed, in the order they are claimed.
inline constexpr std::array<std::string_view, 7> ClaimedExtensions = {".wav", ".mp2", ".mp3", ".l2",
                                                                      ".l3",  ".atx", ".m3u"};

// Sets our entry as the default for every claimable extension whose default it is not yet, in one
// rewrite of the user's mimeapps.list (every other line kept). A list that is no regular file, is too
// large or cannot be read is left alone, and so is the list when the previous defaults could not be
// stored. True when the list holds our claims afterwards (also when nothing had to change).
bool ClaimFileTypes();

} // namespace tunefold
