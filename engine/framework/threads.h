// Worker threads: the framework's thread class, TMMThreadEx with its priority table, the stage
// thread TMMDSPThread with the process-wide stage thread list, and RunInGUIThread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/framework/component.h"
#include "engine/framework/mm_types.h"

namespace tunefold {

class TMMDSPComponent;

// The framework's thread: created running or suspended; Execute runs on the new thread. A thread
// with FreeOnTerminate set frees itself when Execute returns (its std::thread is joined by the
// process-wide reaper, never left detached).
class TThread {
public:
    explicit TThread(bool createSuspended);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Resume();
    bool Suspended() const;
    void Terminate();
    bool Terminated() const;
    // Waits for Execute to return (not allowed for a FreeOnTerminate thread, or from the thread itself).
    void WaitFor();
    bool Finished() const;
    std::thread::id ThreadID() const;
    void SetFreeOnTerminate(bool value);
    bool FreeOnTerminate() const;

    // Runs `fn` on the GUI thread while this thread waits.
    void Synchronize(const std::function<void()>& fn);

protected:
    virtual void Execute() = 0;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// The platform's priority value of each TThreadPriority: -15, -2, -1, 0, 1, 2, 15.
int PlatformThreadPriority(TThreadPriority priority);

class TMMThreadEx : public TThread {
public:
    using TThread::TThread;
    TThreadPriority Priority() const { return priority_; }
    // Applies at once when the thread runs, else when it starts; a refusal of the OS is ignored.
    void SetPriority(TThreadPriority priority);

protected:
    // Derived Execute implementations call this first thing on the new thread.
    void ApplyPriority();

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

} // namespace tunefold
