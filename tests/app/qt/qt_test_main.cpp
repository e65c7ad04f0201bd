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
#include "support/sandbox.h"

int main(int argc, char** argv) {
    const std::filesystem::path sandbox = tunefold::test::MakeSandbox("tunefold-qt-test");
    if (sandbox.empty()) {
        return 3;
    }
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
