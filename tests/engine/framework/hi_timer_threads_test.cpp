#include "engine/framework/hi_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/message_loop.h"
#include "platform/thread_priority.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_timers.h"

namespace tunefold {
namespace {

platform::MessageLoop& Gui() {
    return platform::MessageLoop::Gui();
}

bool Until(const std::function<bool()>& done) {
    return Gui().ProcessUntil(done, 10000);
}

class HiTimerThreadTest : public ::testing::Test {
protected:
    void SetUp() override { Gui().ProcessMessages(); }
    platform::VirtualTimers clock;
    platform::ScopedTimers useClock{clock};
};

TEST_F(HiTimerThreadTest, SynchronizedStopFromInsideOnTimerDoesNotWaitForItself) {
    TMMHiTimer t;
    t.SetCallBackMode(cmThread);
    t.SetWaitForTerminate(true);
    t.SetSynchronize(true);
    t.SetInterval(30);
    std::atomic<int> calls{0};
    std::thread::id ranOn;
    t.SetOnTimer([&](TObject*) {
        ranOn = std::this_thread::get_id();
        if (++calls == 2) {
            t.SetEnabled(false);
        }
    });
    EXPECT_TRUE(t.ThreadRunning());
    EXPECT_TRUE(t.Running());
    for (int tick = 1; tick <= 2; ++tick) {
        clock.Advance(30);
        ASSERT_TRUE(Until([&] { return calls == tick; }));
    }
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(t.ThreadRunning());
    EXPECT_FALSE(t.Running());
    EXPECT_EQ(t.ThreadWaitTimeouts(), 0); // it skipped the wait instead of timing out on it
    EXPECT_EQ(clock.ActiveTimerCount(), 0);
    EXPECT_EQ(clock.PeriodRequests(), 0);
    clock.Advance(300);
    Gui().ProcessMessages();
    EXPECT_EQ(calls, 2);

    // Started again, and stopped from outside OnTimer: the stop waits for the thread to end.
    t.SetEnabled(true);
    clock.Advance(30);
    ASSERT_TRUE(Until([&] { return calls == 3; }));
    t.SetEnabled(false);
    EXPECT_EQ(t.ThreadWaitTimeouts(), 0);
    EXPECT_FALSE(t.ThreadRunning());
}

TEST_F(HiTimerThreadTest, UnsynchronizedOnTimerRunsOnTheWorkerWithItsPriority) {
    TMMHiTimer t;
    t.SetCallBackMode(cmThread);
    t.SetSynchronize(false);
    t.SetWaitForTerminate(true);
    t.SetPriority(tpLower);
    t.SetInterval(10);
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{false};
    std::atomic<int> priority{99};
    std::atomic<bool> stopped{false};
    const auto main = std::this_thread::get_id();
    t.SetOnTimer([&](TObject*) {
        onMain = onMain || std::this_thread::get_id() == main;
        priority = platform::ThreadPriorityOf(platform::CurrentNativeThreadId());
        if (++calls == 3) {
            t.SetEnabled(false); // from the worker: must neither wait for itself nor hang
            stopped = true;
        }
    });
    clock.Advance(10);
    ASSERT_TRUE(Until([&] { return calls == 1; }));
    EXPECT_EQ(priority, -1);
    // Changed while the worker runs: applied to it at once (lowering is always allowed).
    t.SetPriority(tpIdle);
    clock.Advance(10);
    ASSERT_TRUE(Until([&] { return calls == 2; }));
    EXPECT_EQ(priority, -15);
    clock.Advance(10);
    ASSERT_TRUE(Until([&] { return stopped.load(); }));
    EXPECT_FALSE(onMain);
    EXPECT_FALSE(t.ThreadRunning());
    EXPECT_EQ(t.ThreadWaitTimeouts(), 0);
    EXPECT_EQ(clock.ActiveTimerCount(), 0);
}

// Destroying a synchronized thread-mode timer while its worker waits for the GUI thread: the tick
// that was on its way must not reach the freed timer.
TEST_F(HiTimerThreadTest, DestroyedWhileATickWaitsForTheGui) {
    for (int round = 0; round < 25; ++round) {
        std::atomic<int> calls{0};
        auto t = std::make_unique<TMMHiTimer>();
        t->SetCallBackMode(cmThread);
        t->SetWaitForTerminate(round % 2 == 0);
        t->SetInterval(5);
        t->SetOnTimer([&](TObject*) { ++calls; });
        clock.Advance(5);
        // Let the worker get as far as queueing its Synchronize (or not, in some rounds).
        for (int spin = 0; spin < round * 10; ++spin) {
            std::this_thread::yield();
        }
        t.reset();
        Gui().ProcessUntil([] { return false; }, 5);
        EXPECT_EQ(calls, 0);
    }
}

// The wrapped real timer, counting the callbacks it ran.
class CountingTimers : public platform::TimerService {
public:
    explicit CountingTimers(platform::TimerService& inner) : inner_(inner) {}
    platform::MMTimerId timeSetEvent(UINT delayMs, UINT resolutionMs, platform::MMTimerCallback callback,
                                     UINT flags) override {
        return inner_.timeSetEvent(
            delayMs, resolutionMs,
            [this, callback](platform::MMTimerId id) {
                callback(id);
                std::lock_guard lock(mutex_);
                ++fired_;
                cond_.notify_all();
            },
            flags);
    }
    MMRESULT timeKillEvent(platform::MMTimerId id) override { return inner_.timeKillEvent(id); }
    DWORD timeGetTime() override { return inner_.timeGetTime(); }
    std::int64_t PerformanceCounter() override { return inner_.PerformanceCounter(); }
    int ActiveTimerCount() override { return inner_.ActiveTimerCount(); }
    bool WaitFired(int count) {
        std::unique_lock lock(mutex_);
        return cond_.wait_for(lock, std::chrono::seconds(10), [&] { return fired_ >= count; });
    }

private:
    platform::TimerService& inner_;
    std::mutex mutex_;
    std::condition_variable cond_;
    int fired_ = 0;
};

TEST(HiTimerRealClock, GuiBlockedForASecondGetsAtMostTenTicks) {
    Gui().ProcessMessages();
    CountingTimers counting(platform::RealTimerService());
    platform::ScopedTimers use(counting);
    TMMHiTimer t;
    t.SetInterval(30);
    int calls = 0;
    t.SetOnTimer([&](TObject*) { ++calls; });
    // The GUI thread handles nothing while about a second of ticks (34 of 30 ms) goes by.
    ASSERT_TRUE(counting.WaitFired(34));
    EXPECT_EQ(t.PostedTicks(), 10);
    t.SetInterval(0);                      // stop before looking, so no further tick can join the ten
    EXPECT_EQ(Gui().ProcessMessages(), 0); // a stop drops the queued ticks...
    EXPECT_EQ(calls, 0);

    t.SetInterval(30);
    ASSERT_TRUE(counting.WaitFired(34 + 34));
    Gui().ProcessMessages(); // ...and a GUI that resumes gets the ten that waited
    EXPECT_EQ(calls, 10);
}

} // namespace
} // namespace tunefold
