// Worker threads: the framework's thread class, TMMThreadEx with its priority table, the stage
// thread TMMDSPThread with the process-wide stage thread list, and RunInGUIThread.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/framework/component.h"
#include "engine/framework/mm_types.h"

namespace tunefold {

class TMMDSPComponent;

// The framework's thread: created running or suspended; Execute runs on the new thread. A thread
// with FreeOnTerminate set frees itself on its own thread when Execute returns (its std::thread is
// joined by the process-wide reaper, never left detached).
//
// A thread created running starts from TThread's constructor, before any derived constructor has
// run: Execute may then be entered while the object is still being built, which is undefined. A class
// that overrides Execute is created suspended and resumed at the end of its own constructor (or by
// its owner), as every thread of the engine is.
//
// A derived class whose Execute uses its own members must make Execute return before its own
// destructor finishes (Terminate, then WaitFor, in that destructor): by the time ~TThread runs the
// derived part is gone. ~TThread itself only cancels a thread that never started, or terminates and
// joins one that is still running as a last resort.
class TThread {
public:
    explicit TThread(bool createSuspended);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Lets a suspended thread run (a thread starts once; later calls do nothing).
    void Resume();
    bool Suspended() const;
    void Terminate();
    bool Terminated() const;
    // Waits for Execute to return. On the GUI thread the wait keeps running the GUI's messages, so a
    // thread that is inside Synchronize can finish. From the thread itself it returns at once. Not
    // for a FreeOnTerminate thread, which may be gone by then.
    void WaitFor();
    // Like WaitFor, but gives up after `timeoutMs`; true when Execute has returned.
    bool WaitFor(long timeoutMs);
    bool Finished() const;
    std::thread::id ThreadID() const;
    void SetFreeOnTerminate(bool value);
    bool FreeOnTerminate() const;

    // Runs `fn` on the GUI thread while this thread waits (at once when called on the GUI thread).
    void Synchronize(const std::function<void()>& fn);

protected:
    virtual void Execute() = 0;
    // Runs on the new thread just before Execute.
    virtual void ThreadStarted() {}
    // The OS's identifier of the running thread (0 before it started).
    long NativeThreadId() const;

private:
    struct State;
    static void ThreadMain(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// Where an exception that escaped a thread's Execute (or a timer delivery on a worker) goes: the
// application installs its default handler; without one the text goes to stderr.
void SetThreadExceptionHandler(std::function<void(std::exception_ptr)> handler);
void HandleThreadException(std::exception_ptr error);

// The platform's priority value of each TThreadPriority: -15, -2, -1, 0, 1, 2, 15.
int PlatformThreadPriority(TThreadPriority priority);

class TMMThreadEx : public TThread {
public:
    using TThread::TThread;
    TThreadPriority Priority() const { return priority_; }
    // Applies at once when the thread runs, else when it starts; a refusal of the OS is ignored.
    void SetPriority(TThreadPriority priority);

protected:
    // Applies the stored priority to the calling thread; done automatically when the thread starts.
    void ApplyPriority();
    void ThreadStarted() override { ApplyPriority(); }

private:
    std::atomic<TThreadPriority> priority_{tpNormal};
};

// A worker thread owned by a stage; always created suspended, the owner resumes it. It is in the
// stage thread list from construction to destruction.
class TMMDSPThread : public TMMThreadEx {
public:
    explicit TMMDSPThread(TMMDSPComponent* owner);
    ~TMMDSPThread() override;
    TMMDSPComponent* Owner() const { return owner_; }

private:
    TMMDSPComponent* owner_;
};

// Runs `event(sender)` on the GUI thread when called from a stage thread (which waits), else at once.
void RunInGUIThread(const TNotifyEvent& event, TObject* sender);

// The stage thread list as it stands (tests): whether it exists, and how many threads it holds.
bool StageThreadListExists();
std::size_t StageThreadCount();

} // namespace tunefold
