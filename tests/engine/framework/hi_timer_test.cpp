#include "engine/framework/hi_timer.h"

#include <gtest/gtest.h>

#include "platform/message_loop.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_timers.h"

namespace tunefold {
namespace {

platform::MessageLoop& Gui() {
    return platform::MessageLoop::Gui();
}

// Each test gets its own clock and dialogs; the GUI queue starts empty.
class HiTimerTest : public ::testing::Test {
protected:
    void SetUp() override { Gui().ProcessMessages(); }
    platform::VirtualTimers clock;
    platform::ScopedTimers useClock{clock};
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs useDialogs{dialogs};
};

TEST_F(HiTimerTest, RunsOnlyWithIntervalEnabledAndOnTimer) {
    int calls = 0;
    {
        TMMHiTimer t;
        EXPECT_EQ(t.Interval(), 1000);
        EXPECT_TRUE(t.Enabled());
        EXPECT_EQ(t.CallBackMode(), cmWindow);
        EXPECT_EQ(t.Priority(), tpNormal);
        EXPECT_TRUE(t.Synchronize());
        EXPECT_FALSE(t.WaitForTerminate());
        EXPECT_FALSE(t.Running()); // no OnTimer yet

        t.SetInterval(0);
        t.SetOnTimer([&](TObject*) { ++calls; });
        EXPECT_FALSE(t.Running()); // Interval 0
        EXPECT_EQ(clock.ActiveTimerCount(), 0);

        t.SetInterval(30);
        EXPECT_TRUE(t.Running());
        EXPECT_EQ(clock.PeriodOf(t.TimerID()), 30u);
        EXPECT_EQ(clock.PeriodRequests(1), 1); // the finest resolution, while running

        t.SetEnabled(false);
        EXPECT_FALSE(t.Running());
        EXPECT_EQ(clock.ActiveTimerCount(), 0);
        EXPECT_EQ(clock.PeriodRequests(), 0);

        t.SetEnabled(true);
        EXPECT_TRUE(t.Running());
        t.SetOnTimer(nullptr);
        EXPECT_FALSE(t.Running());
        EXPECT_EQ(clock.ActiveTimerCount(), 0);

        clock.Advance(300);
        EXPECT_EQ(Gui().ProcessMessages(), 0);
        EXPECT_EQ(calls, 0);

        t.SetOnTimer([&](TObject*) { ++calls; });
        clock.Advance(90);
        Gui().ProcessMessages();
        EXPECT_EQ(calls, 3);
    }
    // Destruction stops the timer and gives the resolution back.
    EXPECT_EQ(clock.ActiveTimerCount(), 0);
    EXPECT_EQ(clock.PeriodRequests(), 0);
    EXPECT_EQ(clock.BeginPeriodCalls(), 3);
}

TEST_F(HiTimerTest, BlockedGuiSeesAtMostTenTicks) {
    TMMHiTimer t;
    int calls = 0;
    TObject* sender = nullptr;
    t.SetInterval(30);
    t.SetOnTimer([&](TObject* s) {
        ++calls;
        sender = s;
    });
    // A second of ticks while the GUI thread handles nothing: 33 callbacks, 10 messages.
    clock.Advance(1000);
    EXPECT_EQ(clock.FiredCount(), 33);
    EXPECT_EQ(t.PostedTicks(), 10);
    Gui().ProcessUntil([] { return false; }, 0);
    EXPECT_EQ(Gui().ProcessMessages(), 10);
    EXPECT_EQ(calls, 10);
    EXPECT_EQ(sender, &t);
    EXPECT_EQ(t.PostedTicks(), 0);
    // Once the GUI caught up, every tick is delivered again.
    clock.Advance(90);
    Gui().ProcessMessages();
    EXPECT_EQ(calls, 13);
}

TEST_F(HiTimerTest, IntervalChangeRestartsThePeriodAndDropsQueuedTicks) {
    TMMHiTimer t;
    int calls = 0;
    t.SetInterval(100);
    t.SetOnTimer([&](TObject*) { ++calls; });
    clock.Advance(260); // two ticks queued, next one would be due at 300
    EXPECT_EQ(t.PostedTicks(), 2);
    t.SetInterval(50);
    EXPECT_EQ(t.PostedTicks(), 0);
    EXPECT_EQ(Gui().ProcessMessages(), 0); // the old timer's ticks went with its window
    clock.Advance(49);
    EXPECT_EQ(t.PostedTicks(), 0); // not at 300: the period started again at 260
    clock.Advance(1);
    Gui().ProcessMessages();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(clock.ActiveTimerCount(), 1);
    EXPECT_EQ(clock.PeriodRequests(), 1);
}

TEST_F(HiTimerTest, CallbackModeIsRefusedWithAMessageBox) {
    TMMHiTimer t;
    t.SetInterval(30);
    t.SetOnTimer([](TObject*) {});
    const platform::MMTimerId before = t.TimerID();
    t.SetCallBackMode(cmCallback);
    ASSERT_EQ(dialogs.AskedCount(), 1u);
    const auto boxes = dialogs.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "TMMHiTimer");
    EXPECT_EQ(boxes[0].text, "\"CallBacks\" are called at interrupt time !\n\r"
                             "This is currently only supported under Windows 95");
    EXPECT_EQ(t.CallBackMode(), cmWindow);
    EXPECT_EQ(t.TimerID(), before); // nothing else changed, not even a restart
    EXPECT_EQ(clock.BeginPeriodCalls(), 1);
}

TEST_F(HiTimerTest, NoTimerLeftRaisesAndLeavesNothingRunning) {
    TMMHiTimer t;
    t.SetInterval(30);
    clock.FailNextTimers(1);
    try {
        t.SetOnTimer([](TObject*) {});
        FAIL() << "no exception";
    } catch (const EOutOfResources& e) {
        EXPECT_STREQ(e.what(), "Not enough timers available");
    }
    EXPECT_FALSE(t.Running());
    EXPECT_EQ(clock.ActiveTimerCount(), 0);
    EXPECT_EQ(clock.PeriodRequests(), 0);
    // The same in thread mode: the worker that was started for it is stopped again.
    t.SetEnabled(false);
    t.SetCallBackMode(cmThread);
    t.SetWaitForTerminate(true);
    clock.FailNextTimers(1);
    EXPECT_THROW(t.SetEnabled(true), EOutOfResources);
    EXPECT_FALSE(t.ThreadRunning());
    EXPECT_EQ(clock.PeriodRequests(), 0);
    // A negative interval is no period the platform can run.
    TMMHiTimer n;
    n.SetInterval(-5);
    EXPECT_THROW(n.SetOnTimer([](TObject*) {}), EOutOfResources);
    EXPECT_EQ(EMMHiTimerError("HiTimer:\n\rCould not create thread").what(),
              std::string("HiTimer:\n\rCould not create thread"));
}

TEST_F(HiTimerTest, OnTimerMayStopOrDestroyItsTimer) {
    auto t = std::make_unique<TMMHiTimer>();
    int calls = 0;
    t->SetInterval(10);
    t->SetOnTimer([&](TObject*) {
        if (++calls == 2) {
            t->SetEnabled(false);
        }
    });
    clock.Advance(50);
    Gui().ProcessMessages();
    EXPECT_EQ(calls, 2); // the three ticks still queued were dropped by the stop
    EXPECT_FALSE(t->Running());
    EXPECT_EQ(t->PostedTicks(), 0);

    t->SetOnTimer([&](TObject*) {
        ++calls;
        t.reset(); // freed inside its own tick
    });
    t->SetEnabled(true);
    clock.Advance(30);
    Gui().ProcessMessages();
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(clock.ActiveTimerCount(), 0);
    EXPECT_EQ(clock.PeriodRequests(), 0);
}

} // namespace
} // namespace tunefold
