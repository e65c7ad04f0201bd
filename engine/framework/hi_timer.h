// TMMHiTimer: raises OnTimer every Interval milliseconds, delivered through a hidden window on the
// GUI thread (cmWindow), on a worker thread that may hand it on to the GUI thread (cmThread), or
// straight from the platform's timer callback (cmCallback, refused on this platform).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"
#include "engine/framework/mm_types.h"
#include "engine/framework/threads.h"
#include "platform/mm_timer.h"

namespace tunefold {

namespace platform {
class MessageWindow;
}

TUNEFOLD_ERROR_CLASS(EMMHiTimerError, EMMError);

// The private message that carries a tick to the hidden window (wParam: the timer's identifier).
constexpr UINT MM_HITIMER = 32778;
// At most this many ticks wait in the GUI's queue; later ones are dropped until it catches up.
constexpr int kMaxPostedTicks = 10;
// How long a start waits for the worker thread to come up, and a stop for it to end.
constexpr long kHiTimerThreadWaitMs = 5000;

class TMMTimerThread;

class TMMHiTimer : public TMMNonVisualComponent {
public:
    explicit TMMHiTimer(TComponent* owner = nullptr);
    ~TMMHiTimer() override;

    int Interval() const;
    void SetInterval(int value);
    bool Enabled() const;
    void SetEnabled(bool value);
    // Assigning the event slot (or clearing it) starts or stops the timer, so it has a setter.
    TNotifyEvent OnTimer() const;
    void SetOnTimer(TNotifyEvent value);
    TMMCBMode CallBackMode() const { return callBackMode_; }
    void SetCallBackMode(TMMCBMode value);
    TThreadPriority Priority() const { return priority_; }
    void SetPriority(TThreadPriority value);
    bool Synchronize() const { return synchronize_; }
    void SetSynchronize(bool value) { synchronize_ = value; }
    bool WaitForTerminate() const { return waitForTerminate_; }
    void SetWaitForTerminate(bool value) { waitForTerminate_ = value; }

    void Loaded() override;

    // ---- state, for tests and diagnostics ----
    platform::MMTimerId TimerID() const { return timerId_.load(); }
    bool Running() const { return timerId_ != 0; }
    bool ThreadRunning() const { return threadRunning_; }
    int PostedTicks() const { return posted_; }
    // Waits for the worker thread that ran out of time (a stuck OnTimer, a thread that never came).
    int ThreadWaitTimeouts() const { return waitTimeouts_; }

protected:
    virtual void DoTimer();

private:
    friend class TMMTimerThread;
    struct ThreadLink;

    void RestartTimer();
    void StopThread();
    void StopPlatformTimer();
    void StartThread();
    void TimerCallback(platform::MMTimerId id, TMMCBMode mode, platform::MessageWindow* window,
                       ThreadLink* link);
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

    // Guards the values a worker thread reads while the GUI thread may change them.
    mutable std::mutex propsMutex_;
    int interval_ = 1000;
    bool enabled_ = true;
    TNotifyEvent onTimer_;
    TMMCBMode callBackMode_ = cmWindow;
    TThreadPriority priority_ = tpNormal;
    std::atomic<bool> synchronize_{true};
    std::atomic<bool> waitForTerminate_{false};

    platform::TimerService* service_ = nullptr; // the service the running timer belongs to
    std::atomic<platform::MMTimerId> timerId_{0};
    bool periodBegun_ = false;
    std::unique_ptr<platform::MessageWindow> window_;
    std::atomic<int> posted_{0};
    std::shared_ptr<ThreadLink> link_;
    TMMTimerThread* thread_ = nullptr;
    std::atomic<bool> threadRunning_{false};
    std::atomic<int> waitTimeouts_{0};
    std::shared_ptr<std::atomic<bool>> alive_;
};

} // namespace tunefold
