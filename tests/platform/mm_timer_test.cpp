#include "platform/mm_timer.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/virtual/virtual_timers.h"

namespace tunefold::platform {
namespace {

TEST(VirtualTimers, FireInDueOrderOnTheAdvancingThread) {
    VirtualTimers vt(5'000'000); // starts at 5 s
    std::vector<std::pair<MMTimerId, DWORD>> fired;
    auto record = [&](MMTimerId id) { fired.emplace_back(id, vt.timeGetTime()); };
    const MMTimerId a = vt.timeSetEvent(30, 0, record);
    const MMTimerId b = vt.timeSetEvent(20, 0, record);
    const MMTimerId once = vt.timeSetEvent(25, 0, record, TIME_ONESHOT);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, a);
    EXPECT_EQ(vt.ActiveTimerCount(), 3);

    vt.Advance(59);
    // b at 20 and 40, the one-shot at 25, a at 30; the clock shows each due time.
    std::vector<std::pair<MMTimerId, DWORD>> expected{{b, 5020}, {once, 5025}, {a, 5030}, {b, 5040}};
    EXPECT_EQ(fired, expected);
    EXPECT_EQ(vt.timeGetTime(), 5059u);
    EXPECT_EQ(vt.PerformanceCounter(), 5'059'000);
    EXPECT_EQ(vt.ActiveTimerCount(), 2); // the one-shot is gone

    // Same due time: creation order. a and b are both due at 60.
    fired.clear();
    vt.Advance(1);
    expected = {{a, 5060}, {b, 5060}};
    EXPECT_EQ(fired, expected);

    EXPECT_EQ(vt.timeKillEvent(a), TIMERR_NOERROR);
    EXPECT_NE(vt.timeKillEvent(a), TIMERR_NOERROR);
    EXPECT_NE(vt.timeKillEvent(once), TIMERR_NOERROR);
    fired.clear();
    vt.AdvanceMicroseconds(20'500);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].first, b);
    EXPECT_EQ(vt.PerformanceCounter(), 5'080'500);
    vt.timeKillEvent(b);
    EXPECT_EQ(vt.ActiveTimerCount(), 0);
}

TEST(VirtualTimers, CallbacksMayKillAndStartTimers) {
    VirtualTimers vt;
    int selfTicks = 0;
    int childTicks = 0;
    MMTimerId self = 0;
    self = vt.timeSetEvent(10, 0, [&](MMTimerId id) {
        EXPECT_EQ(id, self);
        if (++selfTicks == 2) {
            // Killing itself from inside must not wait for itself.
            EXPECT_EQ(vt.timeKillEvent(id), TIMERR_NOERROR);
            vt.timeSetEvent(5, 0, [&](MMTimerId) { ++childTicks; });
        }
    });
    vt.Advance(100);
    EXPECT_EQ(selfTicks, 2);
    EXPECT_EQ(childTicks, 16); // started at 20, due every 5 ms up to 100
    EXPECT_EQ(vt.FiredCount(), 18);
}

TEST(VirtualTimers, RefusedRequests) {
    VirtualTimers vt;
    auto noop = [](MMTimerId) {};
    EXPECT_EQ(vt.timeSetEvent(0, 0, noop), 0u);
    EXPECT_EQ(vt.timeSetEvent(kTimerPeriodMax + 1, 0, noop), 0u);
    EXPECT_EQ(vt.timeSetEvent(static_cast<UINT>(-30), 0, noop), 0u);
    EXPECT_EQ(vt.timeSetEvent(10, 0, MMTimerCallback{}), 0u);
    vt.FailNextTimers(1);
    EXPECT_EQ(vt.timeSetEvent(10, 0, noop), 0u);
    const MMTimerId ok = vt.timeSetEvent(10, 0, noop);
    EXPECT_NE(ok, 0u);
    EXPECT_EQ(vt.PeriodOf(ok), 10u);
    vt.timeKillEvent(ok);
    EXPECT_EQ(vt.PeriodOf(ok), 0u);
}

TEST(TimerService, CapsAndPeriodPairing) {
    VirtualTimers vt;
    TIMECAPS caps{};
    EXPECT_EQ(vt.timeGetDevCaps(&caps, sizeof caps), TIMERR_NOERROR);
    EXPECT_EQ(caps.wPeriodMin, 1u);
    EXPECT_EQ(caps.wPeriodMax, kTimerPeriodMax);
    EXPECT_EQ(vt.timeGetDevCaps(nullptr, sizeof caps), TIMERR_STRUCT);
    EXPECT_EQ(vt.timeGetDevCaps(&caps, 4), TIMERR_STRUCT);

    EXPECT_EQ(vt.timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(vt.timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(vt.timeBeginPeriod(25), TIMERR_NOERROR);
    EXPECT_EQ(vt.timeBeginPeriod(0), TIMERR_NOCANDO);
    EXPECT_EQ(vt.PeriodRequests(1), 2);
    EXPECT_EQ(vt.PeriodRequests(), 3);
    EXPECT_EQ(vt.timeEndPeriod(25), TIMERR_NOERROR);
    EXPECT_EQ(vt.timeEndPeriod(25), TIMERR_NOCANDO); // an End without a Begin is caught
    EXPECT_EQ(vt.timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(vt.timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(vt.PeriodRequests(), 0);
    EXPECT_EQ(vt.BeginPeriodCalls(), 3);
}

TEST(TimerService, AccessorFollowsTheInstalledService) {
    // The test binary asks for the virtual platform: the default is a virtual service.
    TimerService& byDefault = Timers();
    EXPECT_NE(dynamic_cast<VirtualTimers*>(&byDefault), nullptr);
    {
        VirtualTimers mine;
        ScopedTimers use(mine);
        EXPECT_EQ(&Timers(), &mine);
        {
            ScopedTimers real(RealTimerService());
            EXPECT_EQ(&Timers(), &RealTimerService());
        }
        EXPECT_EQ(&Timers(), &mine);
    }
    EXPECT_EQ(&Timers(), &byDefault);
}

} // namespace
} // namespace tunefold::platform
