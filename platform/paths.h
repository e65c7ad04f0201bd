// Where the program keeps its data and the user's configuration.
#pragma once

#include <string>

namespace tunefold::platform {

// The program's folder (skin, curves, schemes, help): $TUNEFOLD_HOME when set; else the
// executable's folder when it holds the program's data (a build tree, a portable copy); else
// $XDG_DATA_HOME/tunefold (~/.local/share/tunefold), which the program seeds on its first start.
std::string ProgramFolder();

// The folder the program's system-wide files were kept in elsewhere ("the Windows folder"):
// $XDG_CONFIG_HOME/tunefold (~/.config/tunefold).
std::string ConfigFolder();

// `folder` + "/" + `name`, without doubling a "/".
std::string JoinPath(const std::string& folder, const std::string& name);

} // namespace tunefold::platform
