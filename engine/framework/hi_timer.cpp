#include "engine/framework/hi_timer.h"

#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "platform/dialogs.h"
#include "platform/message_loop.h"
#include "platform/sync_event.h"

namespace tunefold {

namespace {
const char* const kThreadError = "HiTimer:\n\rCould not create thread";
const char* const kNoTimers = "Not enough timers available";
const char* const kCallbackRefused = "\"CallBacks\" are called at interrupt time !\n\r"
                                     "This is currently only supported under Windows 95";
} // namespace

// What the timer and its worker thread share. The worker frees itself when it ends, and the timer
// may be gone before that, so neither holds the other: both hold this.
struct TMMHiTimer::ThreadLink {
    std::mutex mutex;
    std::condition_variable cond;
    TMMHiTimer* timer = nullptr; // cleared when the thread is detached from the timer
    bool stop = false;
    bool inSync = false;     // the worker waits for the GUI thread to run OnTimer
    bool delivering = false; // the worker runs OnTimer itself right now
    std::thread::id worker;
    platform::SyncEvent wake{platform::SyncEvent::Reset::Auto};
    platform::SyncEvent ready{platform::SyncEvent::Reset::Auto};
};

class TMMTimerThread : public TMMThreadEx {
public:
    explicit TMMTimerThread(std::shared_ptr<TMMHiTimer::ThreadLink> link)
        : TMMThreadEx(true), link_(std::move(link)) {}

protected:
    void Execute() override;

private:
    void Deliver(std::unique_lock<std::mutex>& lock);
    std::shared_ptr<TMMHiTimer::ThreadLink> link_;
};

void TMMTimerThread::Execute() {
    TMMHiTimer::ThreadLink& l = *link_;
    l.ready.Set();
    while (!Terminated()) {
        // The stop always signals the event; the slice only guards against a lost wake-up.
        if (!l.wake.Wait(1000)) {
            continue;
        }
        if (Terminated()) {
            break;
        }
        std::unique_lock lock(l.mutex);
        if (l.stop || l.timer == nullptr) {
            break;
        }
        Deliver(lock);
    }
    {
        std::lock_guard lock(l.mutex);
        l.timer = nullptr;
    }
    l.ready.Set();
}

// Called with the link locked and the timer attached; returns with the link locked.
void TMMTimerThread::Deliver(std::unique_lock<std::mutex>& lock) {
    TMMHiTimer::ThreadLink& l = *link_;
    TMMHiTimer* timer = l.timer;
    if (timer->synchronize_) {
        l.inSync = true;
        lock.unlock();
        std::shared_ptr<TMMHiTimer::ThreadLink> link = link_;
        try {
            Synchronize([link] {
                // On the GUI thread: the timer may have been stopped (and freed) while this request
                // waited in the queue; detaching happens on this thread too, so the check holds.
                TMMHiTimer* t = nullptr;
                {
                    std::lock_guard guard(link->mutex);
                    t = link->timer;
                }
                if (t != nullptr) {
                    t->DoTimer();
                }
            });
        } catch (...) {
            HandleThreadException(std::current_exception());
        }
        lock.lock();
        l.inSync = false;
        return;
    }
    l.delivering = true;
    lock.unlock();
    try {
        timer->DoTimer();
    } catch (...) {
        HandleThreadException(std::current_exception());
    }
    lock.lock();
    l.delivering = false;
    l.cond.notify_all();
}

// ---- TMMHiTimer ----

TMMHiTimer::TMMHiTimer(TComponent* owner)
    : TMMNonVisualComponent(owner), alive_(std::make_shared<std::atomic<bool>>(true)) {}

TMMHiTimer::~TMMHiTimer() {
    {
        std::lock_guard lock(propsMutex_);
        onTimer_ = nullptr;
        enabled_ = false;
    }
    RestartTimer();
    *alive_ = false;
}

int TMMHiTimer::Interval() const {
    std::lock_guard lock(propsMutex_);
    return interval_;
}

void TMMHiTimer::SetInterval(int value) {
    {
        std::lock_guard lock(propsMutex_);
        if (value == interval_) {
            return;
        }
        interval_ = value;
    }
    RestartTimer();
}

bool TMMHiTimer::Enabled() const {
    std::lock_guard lock(propsMutex_);
    return enabled_;
}

void TMMHiTimer::SetEnabled(bool value) {
    {
        std::lock_guard lock(propsMutex_);
        if (value == enabled_) {
            return;
        }
        enabled_ = value;
    }
    RestartTimer();
}

TNotifyEvent TMMHiTimer::OnTimer() const {
    std::lock_guard lock(propsMutex_);
    return onTimer_;
}

void TMMHiTimer::SetOnTimer(TNotifyEvent value) {
    {
        std::lock_guard lock(propsMutex_);
        onTimer_ = std::move(value);
    }
    RestartTimer();
}

void TMMHiTimer::SetCallBackMode(TMMCBMode value) {
    if (value == cmCallback) {
        // Our timer callbacks run on an ordinary thread, never at interrupt time; the mode that
        // relies on that is refused, as on every platform but the one it was made for.
        platform::MessageBoxRequest box;
        box.caption = "TMMHiTimer";
        box.text = kCallbackRefused;
        box.buttons = platform::MsgButtons::Ok;
        platform::Dialogs().MessageBox(box);
        return;
    }
    if (value == callBackMode_) {
        return;
    }
    callBackMode_ = value;
    RestartTimer();
}

void TMMHiTimer::SetPriority(TThreadPriority value) {
    priority_ = value;
    if (threadRunning_ && thread_ != nullptr) {
        thread_->SetPriority(value);
    }
}

void TMMHiTimer::Loaded() {
    TMMNonVisualComponent::Loaded();
    RestartTimer();
}

void TMMHiTimer::DoTimer() {
    TNotifyEvent event;
    {
        std::lock_guard lock(propsMutex_);
        if (!enabled_ || !onTimer_) {
            return;
        }
        event = onTimer_;
    }
    event(this);
}

void TMMHiTimer::RestartTimer() {
    StopThread();
    StopPlatformTimer();

    int interval = 0;
    bool run = false;
    {
        std::lock_guard lock(propsMutex_);
        interval = interval_;
        run = interval_ != 0 && enabled_ && static_cast<bool>(onTimer_);
    }
    if (!run) {
        return;
    }
    platform::TimerService& service = platform::Timers();
    const TMMCBMode mode = callBackMode_;
    if (mode == cmWindow) {
        window_ = std::make_unique<platform::MessageWindow>(
            [this](UINT msg, WPARAM wParam, LPARAM lParam) { return WindowProc(msg, wParam, lParam); });
    } else if (mode == cmThread) {
        StartThread();
    }
    platform::TIMECAPS caps{};
    service.timeGetDevCaps(&caps, sizeof caps);
    service_ = &service;
    periodBegun_ = service.timeBeginPeriod(caps.wPeriodMin) == platform::TIMERR_NOERROR;
    // The callback gets what it needs now: the GUI thread changes these members only after the
    // platform timer has been killed, and the kill waits for a callback that runs.
    auto callback = [this, mode, window = window_.get(), link = link_](platform::MMTimerId id) {
        TimerCallback(id, mode, window, link.get());
    };
    timerId_ = service.timeSetEvent(static_cast<UINT>(interval), 0, callback, platform::TIME_PERIODIC);
    if (timerId_ == 0) {
        // Leave nothing half started behind the error.
        StopThread();
        StopPlatformTimer();
        throw EOutOfResources(kNoTimers);
    }
}

void TMMHiTimer::StartThread() {
    link_ = std::make_shared<ThreadLink>();
    link_->timer = this;
    try {
        // The thread frees itself when it ends, so it is not owned by anything here.
        thread_ = new TMMTimerThread(link_);
    } catch (const std::system_error&) {
        link_.reset();
        throw EMMHiTimerError(kThreadError);
    }
    thread_->SetPriority(priority_);
    thread_->SetFreeOnTerminate(true);
    {
        std::lock_guard lock(link_->mutex);
        link_->worker = thread_->ThreadID();
    }
    threadRunning_ = true;
    thread_->Resume();
    if (!link_->ready.Wait(kHiTimerThreadWaitMs)) {
        ++waitTimeouts_;
        StopThread();
        throw EMMHiTimerError(kThreadError);
    }
}

void TMMHiTimer::StopThread() {
    if (!threadRunning_) {
        return;
    }
    std::shared_ptr<ThreadLink> link = link_;
    // The thread may end (and free itself) as soon as it sees the termination, so this is the last
    // time it is touched; from here on only the shared link is.
    thread_->Resume();
    thread_->Terminate();
    thread_ = nullptr;
    bool skipWait = false;
    {
        std::unique_lock lock(link->mutex);
        link->stop = true;
        const bool onWorker = link->worker == std::this_thread::get_id();
        // Waiting while the worker waits for us (inside a synchronized OnTimer, or about to enter
        // one) would wait for ourselves; from the worker itself it would too.
        skipWait = link->inSync || onWorker;
        if (!onWorker) {
            // An OnTimer running on the worker itself must be over before the timer changes or
            // goes away.
            if (!link->cond.wait_for(lock, std::chrono::milliseconds(kHiTimerThreadWaitMs),
                                     [&] { return !link->delivering; })) {
                ++waitTimeouts_;
            }
        }
    }
    link->wake.Set();
    if (waitForTerminate_ && !skipWait && !link->ready.Wait(kHiTimerThreadWaitMs)) {
        ++waitTimeouts_;
    }
    {
        std::lock_guard lock(link->mutex);
        link->timer = nullptr;
    }
    link_.reset();
    threadRunning_ = false;
}

void TMMHiTimer::StopPlatformTimer() {
    if (timerId_ != 0) {
        service_->timeKillEvent(timerId_);
        timerId_ = 0;
    }
    if (window_) {
        window_->RemovePending(MM_HITIMER, MM_HITIMER);
        window_.reset();
        posted_ = 0;
    }
    if (periodBegun_) {
        platform::TIMECAPS caps{};
        service_->timeGetDevCaps(&caps, sizeof caps);
        service_->timeEndPeriod(caps.wPeriodMin);
        periodBegun_ = false;
    }
}

// On the platform's timer thread.
void TMMHiTimer::TimerCallback(platform::MMTimerId id, TMMCBMode mode, platform::MessageWindow* window,
                               ThreadLink* link) {
    switch (mode) {
    case cmWindow: {
        int outstanding = posted_.load();
        while (outstanding < kMaxPostedTicks &&
               !posted_.compare_exchange_weak(outstanding, outstanding + 1)) {
        }
        if (outstanding < kMaxPostedTicks && window != nullptr) {
            window->Post(MM_HITIMER, id, 0);
        }
        break;
    }
    case cmCallback:
        try {
            DoTimer();
        } catch (...) {
            HandleThreadException(std::current_exception());
        }
        break;
    case cmThread:
        if (link != nullptr) {
            link->wake.Set();
        }
        break;
    }
}

// On the GUI thread.
LRESULT TMMHiTimer::WindowProc(UINT msg, WPARAM wParam, LPARAM /*lParam*/) {
    if (msg != MM_HITIMER || timerId_ == 0 || wParam != timerId_) {
        return 0;
    }
    std::shared_ptr<std::atomic<bool>> alive = alive_;
    struct CountDown {
        TMMHiTimer* timer;
        std::shared_ptr<std::atomic<bool>>& alive;
        WPARAM id;
        ~CountDown() {
            // OnTimer may have restarted (new timer, fresh count) or destroyed this timer.
            if (*alive && timer->timerId_ == id && timer->posted_.load() > 0) {
                --timer->posted_;
            }
        }
    } countDown{this, alive, wParam};
    DoTimer();
    return 0;
}

} // namespace tunefold
