#include "platform/paths.h"

#include <cstdlib>

#include "platform/dynamic_library.h"
#include "platform/input_file.h"

namespace tunefold::platform {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// $XDG_<kind>_HOME, or its default below $HOME.
std::string XdgHome(const char* variable, const char* fallbackBelowHome) {
    std::string folder = Environment(variable);
    if (!folder.empty() && folder[0] == '/') {
        return folder;
    }
    return JoinPath(Environment("HOME"), fallbackBelowHome);
}

} // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    if (folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

std::string ProgramFolder() {
    const std::string home = Environment("TUNEFOLD_HOME");
    if (!home.empty()) {
        return home;
    }
    const std::string exe = ExecutableDirectory();
    if (!exe.empty() && IsRegularFile(JoinPath(exe, "skin0.bmp"))) {
        return exe;
    }
    return JoinPath(XdgHome("XDG_DATA_HOME", ".local/share"), "tunefold");
}

std::string ConfigFolder() {
    return JoinPath(XdgHome("XDG_CONFIG_HOME", ".config"), "tunefold");
}

} // namespace tunefold::platform
