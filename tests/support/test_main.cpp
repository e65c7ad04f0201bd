// Every test binary starts here: before anything else runs, HOME, the XDG folders and the program's
// folder point at a fresh temporary folder, so no test ever touches the real home.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/message_loop.h"
#include "support/sandbox.h"
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
    sandbox = tunefold::test::MakeSandbox("tunefold-test");
    if (sandbox.empty()) {
        return 3;
    }

    tunefold::platform::MessageLoop::Gui().BindToCurrentThread();
    testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(sandbox, ignored);
    return status;
}
