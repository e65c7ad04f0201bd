// A self-freeing thread that is still on its way out when the program exits.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/framework/threads.h"
#include "platform/sync_event.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

// Tells that it has done its work, then takes a while to go, and leaves a mark when it is gone.
class LateLeaver : public TMMThreadEx {
public:
    LateLeaver(platform::SyncEvent& worked, std::filesystem::path mark)
        : TMMThreadEx(true), worked_(worked), mark_(std::move(mark)) {}
    ~LateLeaver() override { std::ofstream(mark_) << "gone"; }

protected:
    void Execute() override {
        worked_.Set();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }

private:
    platform::SyncEvent& worked_;
    std::filesystem::path mark_;
};

// The owner that stopped the thread saw it finish its work and let the program end: the exit
// waits until the thread has freed itself, instead of tearing down what it still uses.
TEST(ThreadsAtExit, ExitWaitsForAThreadThatIsFreeingItself) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child runs this test again in a fresh process with a sandbox of its own: it is told
    // the parent's mark through the environment.
    const char* inherited = std::getenv("TUNEFOLD_LATE_LEAVER_MARK");
    const std::filesystem::path mark =
        inherited != nullptr ? std::filesystem::path(inherited) : test::Sandbox() / "late-leaver-gone";
    setenv("TUNEFOLD_LATE_LEAVER_MARK", mark.c_str(), 1);
    std::filesystem::remove(mark);
    EXPECT_EXIT(
        {
            platform::SyncEvent worked;
            auto* thread = new LateLeaver(worked, mark);
            thread->SetFreeOnTerminate(true);
            thread->Resume();
            worked.Wait(10000);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(std::filesystem::exists(mark));
}

} // namespace
} // namespace tunefold
