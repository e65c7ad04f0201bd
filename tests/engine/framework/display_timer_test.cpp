#include "engine/framework/display_timer.h"

#include <gtest/gtest.h>

#include <vector>

#include <stdexcept>

#include "engine/framework/threads.h"
#include "platform/virtual/virtual_timers.h"

namespace tunefold {
namespace {

class DisplayTimerTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(TimerClientCount(), 0) << "a test left clients behind"; }
    platform::VirtualTimers clock;
    platform::ScopedTimers useClock{clock};
};

TEST_F(DisplayTimerTest, IntervalsAndSuspension) {
    TComponent meter;
    int slow = 0;
    int fast = 0;
    int held = 0;
    TComponent* seen = nullptr;
    PMMTimerClient seenClient = nullptr;
    PMMTimerClient a = AddTimerClient(
        100, 0,
        [&](PMMTimerClient c, TComponent* comp) {
            ++slow;
            seen = comp;
            seenClient = c;
        },
        &meter);
    PMMTimerClient b = AddTimerClient(
        10, 0, [&](PMMTimerClient, TComponent*) { ++fast; }, nullptr);
    PMMTimerClient c = AddTimerClient(
        50, 1, [&](PMMTimerClient, TComponent*) { ++held; }, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(a->Interval, 100);
    EXPECT_EQ(b->Interval, 25); // never finer than the shared period
    EXPECT_EQ(TimerClientCount(), 3);
    EXPECT_EQ(clock.ActiveTimerCount(), 1); // one platform timer for all of them
    EXPECT_EQ(clock.PeriodRequests(25), 1);

    for (int tick = 1; tick <= 12; ++tick) {
        clock.Advance(25);
        EXPECT_EQ(slow, tick / 4) << tick; // every fourth tick
        EXPECT_EQ(fast, tick) << tick;     // every tick
    }
    EXPECT_EQ(held, 0); // suspended: never
    EXPECT_EQ(seen, &meter);
    EXPECT_EQ(seenClient, a);

    // Resumed, it counts from 0: called on its second tick, not at once.
    ResumeTimerClient(c);
    clock.Advance(25);
    EXPECT_EQ(held, 0);
    clock.Advance(25);
    EXPECT_EQ(held, 1);

    // Suspending twice needs two resumes; a suspension also restarts the count.
    clock.Advance(25); // c has 25 of its 50
    SuspendTimerClient(c);
    SuspendTimerClient(c);
    clock.Advance(100);
    ResumeTimerClient(c);
    clock.Advance(100);
    EXPECT_EQ(held, 1);
    ResumeTimerClient(c);
    ResumeTimerClient(c); // below 0 it does not go
    clock.Advance(25);
    EXPECT_EQ(held, 1);
    clock.Advance(25);
    EXPECT_EQ(held, 2);
    EXPECT_EQ(c->SuspendCount, 0);

    // A new interval restarts the count as well: a has 25 ms counted, and with 60 it is called on
    // the third tick from now, not the second.
    SetTimerClientInterval(a, 60);
    const int slowBefore = slow;
    clock.Advance(50);
    EXPECT_EQ(slow, slowBefore);
    clock.Advance(25);
    EXPECT_EQ(slow, slowBefore + 1);

    RemoveTimerClient(a);
    RemoveTimerClient(b);
    RemoveTimerClient(c);
}

TEST_F(DisplayTimerTest, TheLastClientStopsTheTimerAndTheFirstStartsIt) {
    int calls = 0;
    auto count = [&](PMMTimerClient, TComponent*) { ++calls; };
    EXPECT_FALSE(DisplayTimerRunning());
    PMMTimerClient a = AddTimerClient(25, 0, count, nullptr);
    PMMTimerClient b = AddTimerClient(25, 0, count, nullptr);
    EXPECT_TRUE(DisplayTimerRunning());
    RemoveTimerClient(a);
    EXPECT_EQ(clock.ActiveTimerCount(), 1);
    RemoveTimerClient(b);
    EXPECT_FALSE(DisplayTimerRunning());
    EXPECT_EQ(clock.ActiveTimerCount(), 0);
    EXPECT_EQ(clock.PeriodRequests(), 0); // the 25 ms resolution was given back
    clock.Advance(100);
    EXPECT_EQ(calls, 2 * 0);

    // The operations do nothing without clients, or for a client that is gone.
    RemoveTimerClient(b);
    SuspendTimerClient(a);
    ResumeTimerClient(nullptr);
    SetTimerClientInterval(nullptr, 100);
    EXPECT_EQ(TimerClientCount(), 0);

    PMMTimerClient again = AddTimerClient(25, 0, count, nullptr);
    EXPECT_TRUE(DisplayTimerRunning());
    EXPECT_EQ(clock.ActiveTimerCount(), 1);
    EXPECT_EQ(clock.PeriodRequests(25), 1);
    clock.Advance(50);
    EXPECT_EQ(calls, 2);
    RemoveTimerClient(again);
    EXPECT_EQ(clock.BeginPeriodCalls(), 2);
}

TEST_F(DisplayTimerTest, WithNobodyToCallTheTimerStopsUntilAClientWakesOrResumes) {
    int a = 0;
    int b = 0;
    PMMTimerClient resting = AddTimerClient(
        25, 0,
        [&](PMMTimerClient self, TComponent*) {
            ++a;
            RestTimerClient(self); // from inside its own tick, as a meter does
        },
        nullptr);
    PMMTimerClient held = AddTimerClient(
        50, 0, [&](PMMTimerClient, TComponent*) { ++b; }, nullptr);
    clock.Advance(50);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
    EXPECT_TRUE(DisplayTimerRunning()); // the second still wants its calls
    SuspendTimerClient(held);
    clock.Advance(25);
    EXPECT_FALSE(DisplayTimerRunning());
    EXPECT_EQ(clock.ActiveTimerCount(), 0);
    clock.Advance(1000);
    EXPECT_EQ(a + b, 2);

    // A wake starts it again, the interval counted from the wake; so does a resume.
    clock.Advance(10);
    WakeTimerClient(resting);
    EXPECT_TRUE(DisplayTimerRunning());
    clock.Advance(24);
    EXPECT_EQ(a, 1);
    clock.Advance(1);
    EXPECT_EQ(a, 2);
    clock.Advance(25);
    EXPECT_FALSE(DisplayTimerRunning());
    ResumeTimerClient(held);
    EXPECT_TRUE(DisplayTimerRunning());
    clock.Advance(50);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(a, 2);

    // A client added beside resting ones is called; the resolution is given back at the end
    // whether the timer runs or not.
    SuspendTimerClient(held);
    clock.Advance(25);
    ASSERT_FALSE(DisplayTimerRunning());
    int c = 0;
    PMMTimerClient added = AddTimerClient(
        25, 0, [&](PMMTimerClient, TComponent*) { ++c; }, nullptr);
    clock.Advance(25);
    EXPECT_EQ(c, 1);
    RemoveTimerClient(added);
    clock.Advance(25);
    EXPECT_FALSE(DisplayTimerRunning());
    RemoveTimerClient(resting);
    RemoveTimerClient(held);
    EXPECT_EQ(clock.PeriodRequests(), 0);
    EXPECT_EQ(clock.ActiveTimerCount(), 0);
}

TEST_F(DisplayTimerTest, NoPlatformTimerMeansNoClient) {
    clock.FailNextTimers(1);
    EXPECT_EQ(AddTimerClient(
                  25, 0, [](PMMTimerClient, TComponent*) {}, nullptr),
              nullptr);
    EXPECT_EQ(TimerClientCount(), 0);
    EXPECT_EQ(clock.PeriodRequests(), 0);
    EXPECT_FALSE(DisplayTimerRunning());
}

TEST_F(DisplayTimerTest, ClientsMayRemoveThemselvesAndOthersInsideATick) {
    std::vector<char> order;
    PMMTimerClient b = nullptr;
    PMMTimerClient a = AddTimerClient(
        25, 0,
        [&](PMMTimerClient self, TComponent*) {
            order.push_back('a');
            RemoveTimerClient(self);
            RemoveTimerClient(b); // the next one in the list: not called any more
        },
        nullptr);
    b = AddTimerClient(
        25, 0, [&](PMMTimerClient, TComponent*) { order.push_back('b'); }, nullptr);
    PMMTimerClient c = AddTimerClient(
        25, 0,
        [&](PMMTimerClient self, TComponent*) {
            order.push_back('c');
            RemoveTimerClient(self); // the last one: stops the timer from inside its tick
        },
        nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(c, nullptr);
    clock.Advance(25);
    EXPECT_EQ(order, (std::vector<char>{'a', 'c'}));
    EXPECT_EQ(TimerClientCount(), 0);
    EXPECT_FALSE(DisplayTimerRunning());
    EXPECT_EQ(clock.ActiveTimerCount(), 0);
    EXPECT_EQ(clock.PeriodRequests(), 0);
    clock.Advance(100);
    EXPECT_EQ(order.size(), 2u);
}

TEST_F(DisplayTimerTest, AClientThatThrowsDoesNotStopTheOthers) {
    int handled = 0;
    SetThreadExceptionHandler([&](std::exception_ptr) { ++handled; });
    int calls = 0;
    PMMTimerClient bad = AddTimerClient(
        25, 0, [](PMMTimerClient, TComponent*) { throw std::runtime_error("meter gone"); }, nullptr);
    PMMTimerClient good = AddTimerClient(
        25, 0, [&](PMMTimerClient, TComponent*) { ++calls; }, nullptr);
    clock.Advance(75);
    SetThreadExceptionHandler(nullptr);
    EXPECT_EQ(handled, 3);
    EXPECT_EQ(calls, 3); // no tick was lost to the failing client
    RemoveTimerClient(bad);
    RemoveTimerClient(good);
}

} // namespace
} // namespace tunefold
