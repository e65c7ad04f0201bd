// Every test binary's first step: HOME, the XDG folders and the program's folder point at a fresh
// temporary folder, the platform is the virtual one and the locale is C, so no test ever touches
// the real home or hardware.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace tunefold::test {

// The fresh folder (holding home/, config/, data/, runtime/ and program/), or an empty path when
// it could not be made.
inline std::filesystem::path MakeSandbox(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    const std::filesystem::path sandbox = pattern;
    for (const char* sub : {"home", "config", "data", "runtime", "program"}) {
        std::filesystem::create_directories(sandbox / sub);
    }
    std::filesystem::permissions(sandbox / "runtime", std::filesystem::perms::owner_all);
    setenv("HOME", (sandbox / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (sandbox / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (sandbox / "data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (sandbox / "runtime").c_str(), 1);
    setenv("TUNEFOLD_HOME", (sandbox / "program").c_str(), 1);
    setenv("TUNEFOLD_PLATFORM", "virtual", 1);
    setenv("LC_ALL", "C", 1);
    return sandbox;
}

} // namespace tunefold::test
