// The widget tests' main: like every test binary it first points HOME, the XDG folders and the
// program's folder at a fresh temporary folder; then it creates the program's application object
// (offscreen unless the caller chose a platform, so it runs without a display) and makes this
// thread the GUI thread of the platform's message loop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/qt/application.h"
#include "platform/message_loop.h"

int main(int argc, char** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tunefold-qt-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return 3;
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
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    tunefold::qt::Application app(argc, argv);
    app.SetTitle("Audio Play");
    tunefold::platform::MessageLoop::Gui().BindToCurrentThread();
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(sandbox, ignored);
    return status;
}
