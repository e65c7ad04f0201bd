#include "platform/mm_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/message_loop.h"
#include "platform/virtual/virtual_timers.h"

namespace tunefold::platform {
namespace {

bool WaitFor(const std::function<bool()>& done, long timeoutMs = 5000) {
    return MessageLoop::Gui().ProcessUntil(done, timeoutMs);
}

TEST(RealTimers, PeriodicCallbacksOnATimerThreadAndClocks) {
    TimerService& rt = RealTimerService();
    std::atomic<int> ticks{0};
    std::atomic<bool> otherThread{true};
    const auto main = std::this_thread::get_id();
    const MMTimerId id = rt.timeSetEvent(2, 0, [&](MMTimerId) {
        if (std::this_thread::get_id() == main) {
            otherThread = false;
        }
        ++ticks;
    });
    ASSERT_NE(id, 0u);
    EXPECT_GE(rt.ActiveTimerCount(), 1);
    ASSERT_TRUE(WaitFor([&] { return ticks >= 5; }));
    EXPECT_EQ(rt.timeKillEvent(id), TIMERR_NOERROR);
    const int after = ticks;
    EXPECT_NE(rt.timeKillEvent(id), TIMERR_NOERROR);
    EXPECT_TRUE(otherThread);
    // No callback runs once the kill has returned.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ticks, after);

    const std::int64_t us0 = rt.PerformanceCounter();
    const DWORD ms0 = rt.timeGetTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    EXPECT_GT(rt.PerformanceCounter(), us0);
    EXPECT_GE(static_cast<DWORD>(rt.timeGetTime() - ms0), 2u);
    EXPECT_EQ(rt.PerformanceFrequency(), 1000000);
}

TEST(RealTimers, KillWaitsForARunningCallbackUnlessCalledFromIt) {
    TimerService& rt = RealTimerService();
    std::mutex m;
    std::condition_variable cv;
    bool inside = false;
    bool release = false;
    std::atomic<bool> finished{false};
    std::atomic<int> calls{0};
    const MMTimerId id = rt.timeSetEvent(1, 0, [&](MMTimerId) {
        if (++calls > 1) {
            return;
        }
        std::unique_lock lock(m);
        inside = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        finished = true;
    });
    ASSERT_NE(id, 0u);
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return inside; }));
    }
    std::atomic<bool> killed{false};
    std::thread killer([&] {
        rt.timeKillEvent(id);
        killed = true;
        EXPECT_TRUE(finished); // the kill came back only after the callback was done
    });
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    killer.join();
    EXPECT_TRUE(killed);
    EXPECT_EQ(calls, 1);

    // From inside its own callback the kill returns at once, and the timer fires no more.
    std::atomic<int> selfCalls{0};
    std::atomic<bool> selfKilled{false};
    MMTimerId self = 0;
    std::atomic<bool> ready{false};
    self = rt.timeSetEvent(1, 0, [&](MMTimerId tid) {
        while (!ready) {
            std::this_thread::yield();
        }
        ++selfCalls;
        if (!selfKilled) {
            rt.timeKillEvent(tid);
            selfKilled = true;
        }
    });
    ASSERT_NE(self, 0u);
    ready = true;
    ASSERT_TRUE(WaitFor([&] { return selfKilled.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(selfCalls, 1);
}

// A kill from another thread waits for the callback that the advancing thread is running.
TEST(VirtualTimers, KillFromAnotherThreadWaitsForTheCallback) {
    VirtualTimers vt;
    std::mutex m;
    std::condition_variable cv;
    bool inside = false;
    bool release = false;
    bool finished = false;
    const MMTimerId id = vt.timeSetEvent(10, 0, [&](MMTimerId) {
        std::unique_lock lock(m);
        inside = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        finished = true;
    });
    std::thread advancer([&] { vt.Advance(10); });
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return inside; }));
    }
    std::thread killer([&] {
        vt.timeKillEvent(id);
        std::lock_guard lock(m);
        EXPECT_TRUE(finished);
    });
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    killer.join();
    advancer.join();
    EXPECT_EQ(vt.ActiveTimerCount(), 0);
}

} // namespace
} // namespace tunefold::platform
