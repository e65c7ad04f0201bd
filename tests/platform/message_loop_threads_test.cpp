#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tunefold::platform {
namespace {

TEST(MessageLoop, PostedMessagesRunInOrderOnTheGuiThread) {
    std::vector<UINT> seen;
    MessageWindow window([&](UINT msg, WPARAM w, LPARAM) {
        EXPECT_TRUE(MessageLoop::Gui().IsGUIThread());
        seen.push_back(msg + static_cast<UINT>(w));
        return 0;
    });
    std::thread worker([&] {
        for (UINT i = 0; i < 100; ++i) {
            window.Post(WM_USER, i);
        }
    });
    worker.join();
    EXPECT_TRUE(MessageLoop::Gui().ProcessUntil([&] { return seen.size() == 100; }, 5000));
    for (UINT i = 0; i < 100; ++i) {
        ASSERT_EQ(seen[i], WM_USER + i);
    }
}

TEST(MessageLoop, RemovePendingAndDestroyedWindowsDropTheirMessages) {
    std::vector<UINT> seen;
    auto handler = [&](UINT msg, WPARAM, LPARAM) {
        seen.push_back(msg);
        return 0;
    };
    MessageWindow keep(handler);
    {
        MessageWindow gone(handler);
        gone.Post(WM_USER + 9);
    }
    keep.Post(WM_USER + 1);
    keep.Post(WM_USER + 2);
    keep.Post(WM_USER + 3);
    keep.RemovePending(WM_USER + 2, WM_USER + 2);
    MessageLoop::Gui().ProcessMessages();
    EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 1, WM_USER + 3}));

    // A handler may destroy its own window.
    std::unique_ptr<MessageWindow> self;
    self = std::make_unique<MessageWindow>([&](UINT, WPARAM, LPARAM) {
        self.reset();
        return 0;
    });
    MessageWindow* raw = self.get();
    raw->Post(WM_USER);
    raw->Post(WM_USER);
    MessageLoop::Gui().ProcessMessages();
    EXPECT_EQ(self, nullptr);
}

TEST(MessageLoop, SynchronizeRunsOnGuiThreadAndCarriesExceptions) {
    std::atomic<int> ran{0};
    std::atomic<bool> threw{false};
    std::thread worker([&] {
        MessageLoop::Gui().Synchronize([&] {
            EXPECT_TRUE(MessageLoop::Gui().IsGUIThread());
            ++ran;
        });
        try {
            MessageLoop::Gui().Synchronize([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            threw = true;
        }
    });
    EXPECT_TRUE(MessageLoop::Gui().ProcessUntil([&] { return threw.load(); }, 5000));
    worker.join();
    EXPECT_EQ(ran, 1);
    // On the GUI thread it runs at once.
    MessageLoop::Gui().Synchronize([&] { ++ran; });
    EXPECT_EQ(ran, 2);
}

TEST(MessageLoop, WindowTimerKeepsAtMostOneTickQueued) {
    std::atomic<int> ticks{0};
    MessageWindow window([&](UINT msg, WPARAM id, LPARAM) {
        if (msg == WM_TIMER && id == 7) {
            ++ticks;
        }
        return 0;
    });
    window.SetTimer(7, 5);
    // Without processing, ticks pile up as one queued message at most.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_LE(MessageLoop::Gui().PendingCount(), 1u);
    EXPECT_TRUE(MessageLoop::Gui().ProcessUntil([&] { return ticks >= 3; }, 5000));
    window.KillTimer(7);
    MessageLoop::Gui().ProcessMessages();
    const int after = ticks;
    MessageLoop::Gui().WaitAndProcess(30);
    EXPECT_EQ(ticks, after) << "no tick after KillTimer";
}

TEST(ThreadMessageQueue, WaitTakesMessagesFromOtherThreads) {
    ThreadMessageQueue queue;
    ThreadMessageQueue::Message m{};
    EXPECT_FALSE(queue.Peek(m));
    EXPECT_FALSE(queue.Wait(m, 1));
    std::thread poster([&] {
        for (UINT i = 0; i < 50; ++i) {
            queue.Post(WM_USER, i, -static_cast<LPARAM>(i));
        }
    });
    for (UINT i = 0; i < 50; ++i) {
        ASSERT_TRUE(queue.Wait(m, 5000));
        EXPECT_EQ(m.wParam, i);
        EXPECT_EQ(m.lParam, -static_cast<LPARAM>(i));
    }
    poster.join();
    queue.Post(1);
    queue.Clear();
    EXPECT_FALSE(queue.Peek(m));
}

// Quiet posts leave the owner asleep until the sender's Wake: none may be lost, whether the owner
// finds them queued or is blocked when they arrive, and they keep their order among loud ones.
TEST(ThreadMessageQueue, QuietPostsReachTheOwnerInOrderAfterOneWake) {
    ThreadMessageQueue queue;
    ThreadMessageQueue::Message m{};
    queue.PostQuiet(WM_USER, 1);
    queue.Post(WM_USER, 2);
    queue.PostQuiet(WM_USER, 3);
    for (WPARAM i = 1; i <= 3; ++i) {
        ASSERT_TRUE(queue.Wait(m, 0));
        EXPECT_EQ(m.wParam, i);
    }
    queue.Wake(); // nothing owed: harmless

    for (int round = 0; round < 20; ++round) {
        std::vector<WPARAM> got;
        std::thread owner([&] {
            ThreadMessageQueue::Message x{};
            for (int i = 0; i < 4; ++i) {
                if (!queue.Wait(x, 10000)) {
                    return;
                }
                got.push_back(x.wParam);
            }
        });
        // The owner is asleep in its wait before anything arrives (or, past the bound, nearly).
        for (int spin = 0; spin < 1000000 && queue.Waiters() == 0; ++spin) {
            std::this_thread::yield();
        }
        for (WPARAM i = 0; i < 4; ++i) {
            queue.PostQuiet(WM_USER, i);
        }
        queue.Wake();
        owner.join();
        ASSERT_EQ(got, (std::vector<WPARAM>{0, 1, 2, 3})) << "round " << round;
    }
    EXPECT_FALSE(queue.Peek(m));
}

} // namespace
} // namespace tunefold::platform
