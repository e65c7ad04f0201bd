// The watcher on the real timer: polls come from the timer's thread, run on the GUI thread only,
// and a watcher destroyed with a poll still queued leaves nothing behind that runs later.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "cdinfo/cd_info.h"
#include "platform/message_loop.h"
#include "platform/virtual/virtual_cd_drive.h"

namespace tunefold {
namespace {

namespace pf = platform;

TEST(CDInfoThreads, PollsRunOnTheGuiThreadAndStopWithTheWatcher) {
    pf::VirtualCdDrive drive;
    drive.InsertDisc(pf::MakeVirtualDisc({{0, 2, 0}, {3, 10, 40}}, {7, 57, 12}));
    TMMCDPlayer player(nullptr, &drive);
    ASSERT_TRUE(player.Open());
    auto& gui = pf::MessageLoop::Gui();
    const std::thread::id guiThread = std::this_thread::get_id();
    std::atomic<int> polls{0};
    std::atomic<bool> offThread{false};
    std::string readyId;
    {
        TMMCDInfo info;
        info.SetPlayer(&player);
        info.SetInterval(5);
        info.OnReady = [&](TObject*) { readyId = info.DiscID(); };
        info.OnTimer = [&](TObject*) {
            offThread = offThread || std::this_thread::get_id() != guiThread;
            ++polls;
        };
        ASSERT_TRUE(gui.ProcessUntil([&] { return polls.load() >= 5; }, 10000));
        // A busy GUI thread gets one queued poll, not one per tick.
        std::this_thread::yield();
        EXPECT_LE(gui.PendingCount(), 1u);
    }
    const int seen = polls.load();
    gui.ProcessMessages(); // a poll still queued was dropped with the watcher
    EXPECT_EQ(polls.load(), seen);
    EXPECT_FALSE(offThread.load());
    EXPECT_EQ(readyId, "3975D");
}

} // namespace
} // namespace tunefold
