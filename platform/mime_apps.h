// The desktop's file-type table: which application opens a MIME type by default, as the XDG
// "mimeapps.list" of the user says ($XDG_CONFIG_HOME/mimeapps.list), and the extensions the player
// knows by their MIME types as shared-mime-info names them.
//
// The list is an INI-style text owned by the desktop: we change only the entries of the
// [Default Applications] group that we set and keep every other byte of it, comments, other groups,
// line ends and unknown lines included.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tunefold::platform {

// The group that names each MIME type's default application.
inline constexpr std::string_view DefaultApplicationsGroup = "Default Applications";

// The MIME type of an extension (".wav" etc., compared exactly); empty for one without a type.
std::string_view MimeTypeOfExtension(std::string_view extension);

// The value of the first `mimeType` entry in a [Default Applications] group of `text` (the text after
// "=", for example "vlc.desktop;mpv.desktop;"); empty when there is none. `found` tells the two apart.
std::string DefaultApplicationEntry(std::string_view text, std::string_view mimeType, bool& found);

// `text` with each (MIME type, value) of `entries` set in [Default Applications]: the first line of
// that key in the group is replaced, later duplicates of it in any such group are dropped, a missing
// key is added at the end of the first such group, and a missing group is added at the end.
std::string SetDefaultApplications(std::string_view text,
                                   const std::vector<std::pair<std::string, std::string>>& entries);

// The list's path: $XDG_CONFIG_HOME/mimeapps.list, or ~/.config/mimeapps.list when that variable is
// unset, empty or not absolute.
std::string MimeAppsListPath();

// `s` without leading and trailing spaces and tabs.
std::string_view TrimBlanks(std::string_view s);

// The largest list we read or rewrite; a bigger one is not ours to touch.
constexpr std::size_t MaxMimeAppsList = 1024 * 1024;

} // namespace tunefold::platform
