#include "engine/framework/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_loop.h"
#include "platform/thread_priority.h"

namespace tunefold {
namespace {

platform::MessageLoop& Gui() {
    return platform::MessageLoop::Gui();
}

// Runs a function as its Execute. Created suspended and resumed once it is whole, so its Execute
// is never entered while the object is still being built.
class FnThread : public TMMThreadEx {
public:
    FnThread(bool suspended, std::function<void(FnThread&)> fn) : TMMThreadEx(true), fn_(std::move(fn)) {
        if (!suspended) {
            Resume();
        }
    }
    ~FnThread() override {
        Terminate();
        if (!Suspended()) {
            WaitFor(); // Execute uses fn_, which goes with this object
        }
    }
    using TThread::Terminated;

protected:
    void Execute() override { fn_(*this); }

private:
    std::function<void(FnThread&)> fn_;
};

TEST(Thread, SuspendedStartTerminateAndWait) {
    std::atomic<int> runs{0};
    std::atomic<bool> sawTerminate{false};
    {
        FnThread t(true, [&](FnThread& self) {
            ++runs;
            while (!self.Terminated()) {
                std::this_thread::yield();
            }
            sawTerminate = true;
        });
        EXPECT_TRUE(t.Suspended());
        EXPECT_FALSE(t.WaitFor(20)); // suspended: Execute has not even started
        EXPECT_EQ(runs, 0);
        t.Resume();
        EXPECT_FALSE(t.Suspended());
        t.Terminate();
        t.WaitFor();
        EXPECT_TRUE(t.Finished());
    }
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(sawTerminate);

    // A thread that never ran is destroyed without running Execute.
    std::atomic<int> never{0};
    {
        FnThread idle(true, [&](FnThread&) { ++never; });
    }
    EXPECT_EQ(never, 0);
}

// Frees itself on its own thread and tells where its destructor ran.
class SelfFreeing : public TThread {
public:
    SelfFreeing(std::atomic<bool>& freed, std::thread::id& freedOn)
        : TThread(true), freed_(freed), freedOn_(freedOn) {
        SetFreeOnTerminate(true);
    }
    ~SelfFreeing() override {
        freedOn_ = std::this_thread::get_id();
        freed_ = true;
    }

protected:
    void Execute() override { executedOn = std::this_thread::get_id(); }

public:
    std::thread::id executedOn;

private:
    std::atomic<bool>& freed_;
    std::thread::id& freedOn_;
};

TEST(Thread, FreeOnTerminateFreesItselfOnItsOwnThread) {
    for (int i = 0; i < 20; ++i) {
        std::atomic<bool> freed{false};
        std::thread::id freedOn;
        auto* t = new SelfFreeing(freed, freedOn);
        const std::thread::id id = t->ThreadID();
        t->Resume();
        ASSERT_TRUE(Gui().ProcessUntil([&] { return freed.load(); }, 5000));
        EXPECT_EQ(freedOn, id);
        EXPECT_NE(freedOn, std::this_thread::get_id());
    }
}

TEST(Thread, SynchronizeRunsOnTheGuiThreadAndWaitForKeepsItMoving) {
    std::thread::id ranOn;
    std::atomic<bool> after{false};
    FnThread t(true, [&](FnThread& self) {
        self.Synchronize([&] { ranOn = std::this_thread::get_id(); });
        after = true;
    });
    t.Resume();
    // WaitFor on the GUI thread must let the pending Synchronize run, or both would wait forever.
    ASSERT_TRUE(t.WaitFor(5000));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(after);

    // On the GUI thread Synchronize runs at once.
    bool direct = false;
    t.Synchronize([&] { direct = true; });
    EXPECT_TRUE(direct);
}

TEST(Thread, ExceptionFromExecuteGoesToTheHandler) {
    std::atomic<int> handled{0};
    std::string text;
    SetThreadExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& ex) {
            text = ex.what();
        }
        ++handled;
    });
    {
        FnThread t(false, [](FnThread&) { throw std::runtime_error("boom"); });
        ASSERT_TRUE(t.WaitFor(5000));
    }
    SetThreadExceptionHandler(nullptr);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(text, "boom");
}

TEST(ThreadPriority, TableAndApplication) {
    EXPECT_EQ(PlatformThreadPriority(tpIdle), -15);
    EXPECT_EQ(PlatformThreadPriority(tpLowest), -2);
    EXPECT_EQ(PlatformThreadPriority(tpLower), -1);
    EXPECT_EQ(PlatformThreadPriority(tpNormal), 0);
    EXPECT_EQ(PlatformThreadPriority(tpHigher), 1);
    EXPECT_EQ(PlatformThreadPriority(tpHighest), 2);
    EXPECT_EQ(PlatformThreadPriority(tpTimeCritical), 15);

    // Nicer threads for lower priorities, in order; the middle one untouched.
    int previous = 100;
    for (int p : {-15, -2, -1, 0, 1, 2, 15}) {
        EXPECT_LT(platform::NiceValueOf(p), previous) << p;
        previous = platform::NiceValueOf(p);
    }
    EXPECT_EQ(platform::NiceValueOf(0), 0);

    // Set before the start, applied on the new thread. Making a thread nicer is always allowed.
    const int ours = platform::ThreadPriorityOf(platform::CurrentNativeThreadId());
    std::atomic<int> seen{99};
    std::atomic<long> nativeId{0};
    std::atomic<bool> go{false};
    std::atomic<int> seenAfter{99};
    FnThread t(true, [&](FnThread& self) {
        seen = platform::CurrentThreadPriority();
        nativeId = platform::CurrentNativeThreadId();
        while (!go && !self.Terminated()) {
            std::this_thread::yield();
        }
        seenAfter = platform::ThreadPriorityOf(platform::CurrentNativeThreadId());
    });
    t.SetPriority(tpLower);
    t.Resume();
    ASSERT_TRUE(Gui().ProcessUntil([&] { return nativeId != 0; }, 5000));
    EXPECT_EQ(seen, -1);
    EXPECT_EQ(platform::ThreadPriorityOf(nativeId), -1);
    // Changed while it runs: applied at once to that thread, not to ours.
    t.SetPriority(tpLowest);
    EXPECT_EQ(t.Priority(), tpLowest);
    go = true;
    ASSERT_TRUE(t.WaitFor(5000));
    EXPECT_EQ(seenAfter, -2);
    EXPECT_EQ(platform::ThreadPriorityOf(platform::CurrentNativeThreadId()), ours);
}

class StageThread : public TMMDSPThread {
public:
    explicit StageThread(std::function<void(StageThread&)> fn) : TMMDSPThread(nullptr), fn_(std::move(fn)) {}
    using TThread::Terminated;

protected:
    void Execute() override { fn_(*this); }

private:
    std::function<void(StageThread&)> fn_;
};

TEST(StageThreads, ListLifetimeAndWhereEventsRun) {
    ASSERT_FALSE(StageThreadListExists());
    std::thread::id ranOn;
    TNotifyEvent event = [&](TObject*) { ranOn = std::this_thread::get_id(); };

    // No list: called directly, wherever the caller is.
    std::thread plain([&] { RunInGUIThread(event, nullptr); });
    const std::thread::id plainId = plain.get_id();
    plain.join();
    EXPECT_EQ(ranOn, plainId);

    std::atomic<bool> done{false};
    auto* stage = new StageThread([&](StageThread&) {
        RunInGUIThread(event, nullptr);
        done = true;
    });
    EXPECT_TRUE(StageThreadListExists());
    EXPECT_EQ(StageThreadCount(), 1u);
    EXPECT_TRUE(stage->Suspended()); // always created suspended

    // With the list: a worker that is not a stage thread still calls directly...
    std::thread other([&] { RunInGUIThread(event, nullptr); });
    const std::thread::id otherId = other.get_id();
    other.join();
    EXPECT_EQ(ranOn, otherId);
    // ...the GUI thread too...
    RunInGUIThread(event, nullptr);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    // ...and a stage thread hands the event to the GUI thread and waits.
    ranOn = {};
    stage->SetFreeOnTerminate(true);
    stage->Resume();
    ASSERT_TRUE(Gui().ProcessUntil([&] { return done.load() && !StageThreadListExists(); }, 5000));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(StageThreadCount(), 0u);
    RunInGUIThread(TNotifyEvent{}, nullptr); // nothing assigned: nothing happens
}

// One stage thread keeps handing events to the GUI thread while other stage threads come and go,
// removing themselves from the list on their own threads.
TEST(StageThreads, RunInGUIThreadWhileOthersRemoveThemselves) {
    constexpr int kEvents = 300;
    constexpr int kChurn = 150;
    std::atomic<int> onGui{0};
    std::atomic<int> offGui{0};
    const std::thread::id gui = std::this_thread::get_id();
    TNotifyEvent event = [&](TObject*) {
        if (std::this_thread::get_id() == gui) {
            ++onGui;
        } else {
            ++offGui;
        }
    };
    std::atomic<bool> senderDone{false};
    auto* sender = new StageThread([&](StageThread&) {
        for (int i = 0; i < kEvents; ++i) {
            RunInGUIThread(event, nullptr);
        }
        senderDone = true;
    });
    sender->SetFreeOnTerminate(true);

    std::atomic<int> churned{0};
    std::thread churn([&] {
        for (int i = 0; i < kChurn; ++i) {
            auto* t = new StageThread([&](StageThread&) { ++churned; });
            t->SetFreeOnTerminate(true);
            t->Resume();
        }
    });
    sender->Resume();
    ASSERT_TRUE(Gui().ProcessUntil([&] { return senderDone && churned == kChurn && StageThreadCount() == 0; },
                                   30000));
    churn.join();
    EXPECT_EQ(onGui, kEvents);
    EXPECT_EQ(offGui, 0);
    EXPECT_FALSE(StageThreadListExists());
}

} // namespace
} // namespace tunefold
