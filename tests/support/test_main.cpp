// Every test binary starts here: before anything else runs, HOME, the XDG folders and the program's
// folder point at a fresh temporary folder, so no test ever touches the real home.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/message_loop.h"
#include "support/test_env.h"

namespace {
std::filesystem::path sandbox;
}

namespace tunefold::test {
const std::filesystem::path& Sandbox() {
    return sandbox;
}
} // namespace tunefold::test

int main(int argc, char** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tunefold-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return 3;
    }
    sandbox = pattern;
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

    tunefold::platform::MessageLoop::Gui().BindToCurrentThread();
    testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(sandbox, ignored);
    return status;
}
