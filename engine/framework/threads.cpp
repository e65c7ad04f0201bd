#include "engine/framework/threads.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <utility>
#include <vector>

#include "platform/message_loop.h"
#include "platform/thread_priority.h"

namespace tunefold {

namespace {

// Joins the std::thread of every thread that freed itself. Such a thread cannot join itself, and
// detaching it would leave the process unable to know when it is really gone; it hands its handle
// over here as its very last act, and the reaper's own thread joins it.
//
// The reaper is never destroyed: a thread told to stop may still be on its way out while the
// program exits. At exit it waits a little for such threads, joins every one handed over, and
// from then on lets a latecomer go on by itself.
class Reaper {
public:
    static Reaper& Instance() {
        static Reaper* reaper = new Reaper;
        return *reaper;
    }
    // A thread that will free itself: the exit waits for it to be handed over.
    void Expect(int delta) {
        std::lock_guard lock(mutex_);
        expected_ += delta;
        cond_.notify_all();
    }
    void Adopt(std::thread t, bool expected) {
        std::lock_guard lock(mutex_);
        if (expected) {
            --expected_;
        }
        cond_.notify_all();
        if (shutDown_) {
            t.detach();
            return;
        }
        if (!worker_.joinable()) {
            worker_ = std::thread([this] {
                platform::NameCurrentThread("tf-reaper");
                Run();
            });
        }
        queue_.push_back(std::move(t));
    }
    void Shutdown() {
        std::unique_lock lock(mutex_);
        cond_.wait_for(lock, std::chrono::seconds(2), [this] { return expected_ <= 0; });
        shutDown_ = true;
        cond_.notify_all();
        std::thread worker = std::move(worker_);
        lock.unlock();
        if (worker.joinable()) {
            worker.join(); // it joins what is queued before it returns
        }
    }

private:
    Reaper() = default;
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            cond_.wait(lock, [this] { return shutDown_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            std::thread t = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            if (t.joinable()) {
                t.join();
            }
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::thread> queue_;
    std::thread worker_;
    int expected_ = 0;
    bool shutDown_ = false;
};

struct ReaperAtExit {
    ~ReaperAtExit() { Reaper::Instance().Shutdown(); }
};

std::mutex exceptionHandlerMutex;
std::function<void(std::exception_ptr)> exceptionHandler;

} // namespace

void SetThreadExceptionHandler(std::function<void(std::exception_ptr)> handler) {
    std::lock_guard lock(exceptionHandlerMutex);
    exceptionHandler = std::move(handler);
}

void HandleThreadException(std::exception_ptr error) {
    std::function<void(std::exception_ptr)> handler;
    {
        std::lock_guard lock(exceptionHandlerMutex);
        handler = exceptionHandler;
    }
    if (handler) {
        handler(error);
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tunefold: exception in a worker thread: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "tunefold: unknown exception in a worker thread\n");
    }
}

// ---- TThread ----

struct TThread::State {
    std::mutex mutex;
    std::condition_variable cond;
    bool started = false;   // resumed: Execute may run
    bool cancelled = false; // destroyed before it ever ran
    bool finished = false;  // Execute has returned
    bool freeOnTerminate = false;
    bool expectedByReaper = false; // counted by the reaper until handed over
    std::atomic<bool> terminated{false};
    std::atomic<long> nativeId{0};
    std::thread thread;
    std::thread::id id;
    TThread* owner = nullptr;
};

TThread::TThread(bool createSuspended) : state_(std::make_shared<State>()) {
    static ReaperAtExit atExit; // its exit step runs after every static made later is gone
    state_->owner = this;
    state_->thread = std::thread(&TThread::ThreadMain, state_);
    state_->id = state_->thread.get_id();
    if (!createSuspended) {
        Resume();
    }
}

void TThread::ThreadMain(std::shared_ptr<State> state) {
    platform::NameCurrentThread("tf-worker");
    {
        std::unique_lock lock(state->mutex);
        state->cond.wait(lock, [&] { return state->started || state->cancelled; });
        if (state->cancelled) {
            state->finished = true;
            state->cond.notify_all();
            return;
        }
    }
    state->nativeId = platform::CurrentNativeThreadId();
    TThread* self = state->owner;
    try {
        self->ThreadStarted();
        self->Execute();
    } catch (...) {
        HandleThreadException(std::current_exception());
    }
    bool freeIt = false;
    {
        std::lock_guard lock(state->mutex);
        freeIt = state->freeOnTerminate;
        state->finished = true;
        state->cond.notify_all();
    }
    if (freeIt) {
        delete self; // ~TThread sees that it runs on its own thread and hands the handle to the reaper
    }
}

TThread::~TThread() {
    State& s = *state_;
    if (std::this_thread::get_id() == s.id) {
        // Freeing itself: the thread function returns right after this, the reaper joins it.
        bool expected = false;
        {
            std::lock_guard lock(s.mutex);
            expected = std::exchange(s.expectedByReaper, false);
        }
        Reaper::Instance().Adopt(std::move(s.thread), expected);
        return;
    }
    bool neverRan = false;
    {
        std::lock_guard lock(s.mutex);
        if (!s.started) {
            s.cancelled = true;
            neverRan = true;
        }
    }
    s.cond.notify_all();
    if (!neverRan) {
        Terminate();
        WaitFor();
    }
    {
        std::lock_guard lock(s.mutex);
        if (std::exchange(s.expectedByReaper, false)) {
            Reaper::Instance().Expect(-1);
        }
    }
    if (s.thread.joinable()) {
        s.thread.join();
    }
}

void TThread::Resume() {
    // A self-freeing thread may be gone the moment it runs: keep its state alive through our own
    // reference and wake it while still holding the lock, so nothing here is touched afterwards.
    std::shared_ptr<State> s = state_;
    std::lock_guard lock(s->mutex);
    if (s->cancelled) {
        return;
    }
    s->started = true;
    s->cond.notify_all();
}

bool TThread::Suspended() const {
    std::lock_guard lock(state_->mutex);
    return !state_->started;
}

void TThread::Terminate() {
    state_->terminated = true;
}

bool TThread::Terminated() const {
    return state_->terminated;
}

bool TThread::Finished() const {
    std::lock_guard lock(state_->mutex);
    return state_->finished;
}

void TThread::WaitFor() {
    while (!WaitFor(1000)) {
    }
}

bool TThread::WaitFor(long timeoutMs) {
    State& s = *state_;
    if (std::this_thread::get_id() == s.id) {
        return false; // waiting for oneself would never end
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    platform::MessageLoop& gui = platform::MessageLoop::Gui();
    const bool onGui = gui.IsGUIThread();
    std::unique_lock lock(s.mutex);
    for (;;) {
        if (s.finished) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        if (!onGui) {
            s.cond.wait_until(lock, deadline, [&] { return s.finished; });
            continue;
        }
        // The thread may be waiting for us in Synchronize: keep the GUI's queue moving.
        s.cond.wait_for(
            lock, std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::milliseconds(5)),
            [&] { return s.finished; });
        if (!s.finished) {
            lock.unlock();
            gui.ProcessMessages();
            lock.lock();
        }
    }
}

std::thread::id TThread::ThreadID() const {
    return state_->id;
}

void TThread::SetFreeOnTerminate(bool value) {
    std::lock_guard lock(state_->mutex);
    state_->freeOnTerminate = value;
    // Only a thread that has not finished yet will still free itself.
    const bool expect = value && !state_->finished;
    if (expect != state_->expectedByReaper) {
        state_->expectedByReaper = expect;
        Reaper::Instance().Expect(expect ? 1 : -1);
    }
}

bool TThread::FreeOnTerminate() const {
    std::lock_guard lock(state_->mutex);
    return state_->freeOnTerminate;
}

void TThread::Synchronize(const std::function<void()>& fn) {
    platform::MessageLoop::Gui().Synchronize(fn);
}

long TThread::NativeThreadId() const {
    return state_->nativeId;
}

// ---- TMMThreadEx ----

int PlatformThreadPriority(TThreadPriority priority) {
    switch (priority) {
    case tpIdle:
        return platform::THREAD_PRIORITY_IDLE;
    case tpLowest:
        return platform::THREAD_PRIORITY_LOWEST;
    case tpLower:
        return platform::THREAD_PRIORITY_BELOW_NORMAL;
    case tpNormal:
        return platform::THREAD_PRIORITY_NORMAL;
    case tpHigher:
        return platform::THREAD_PRIORITY_ABOVE_NORMAL;
    case tpHighest:
        return platform::THREAD_PRIORITY_HIGHEST;
    case tpTimeCritical:
        return platform::THREAD_PRIORITY_TIME_CRITICAL;
    }
    return platform::THREAD_PRIORITY_NORMAL;
}

void TMMThreadEx::SetPriority(TThreadPriority priority) {
    priority_ = priority;
    const long id = NativeThreadId();
    if (id != 0 && !Finished()) {
        platform::SetThreadPriorityOf(id, PlatformThreadPriority(priority)); // a refusal is ignored
    }
}

void TMMThreadEx::ApplyPriority() {
    platform::SetCurrentThreadPriority(PlatformThreadPriority(priority_)); // a refusal is ignored
}

// ---- the stage thread list ----

namespace {
// Guards the list itself only. RunInGUIThread copies what it needs under it and waits for the GUI
// thread after letting go, so a thread removing itself never waits behind a Synchronize.
std::mutex stageThreadsMutex;
std::unique_ptr<std::vector<TMMDSPThread*>> stageThreads; // exists while it holds a thread
} // namespace

TMMDSPThread::TMMDSPThread(TMMDSPComponent* owner) : TMMThreadEx(true), owner_(owner) {
    std::lock_guard lock(stageThreadsMutex);
    if (!stageThreads) {
        stageThreads = std::make_unique<std::vector<TMMDSPThread*>>();
    }
    stageThreads->push_back(this);
}

TMMDSPThread::~TMMDSPThread() {
    std::lock_guard lock(stageThreadsMutex);
    if (!stageThreads) {
        return;
    }
    stageThreads->erase(std::remove(stageThreads->begin(), stageThreads->end(), this), stageThreads->end());
    if (stageThreads->empty()) {
        stageThreads.reset();
    }
}

void RunInGUIThread(const TNotifyEvent& event, TObject* sender) {
    if (!event) {
        return;
    }
    const bool onGui = platform::MessageLoop::Gui().IsGUIThread();
    TMMDSPThread* own = nullptr;
    if (!onGui) {
        const auto me = std::this_thread::get_id();
        std::lock_guard lock(stageThreadsMutex);
        if (stageThreads) {
            for (TMMDSPThread* t : *stageThreads) {
                if (t->ThreadID() == me) {
                    own = t;
                    break;
                }
            }
        }
    }
    // `own` is the calling thread's own object: it cannot go away while we run on that thread.
    if (own != nullptr) {
        own->Synchronize([&] { event(sender); });
    } else {
        event(sender);
    }
}

bool StageThreadListExists() {
    std::lock_guard lock(stageThreadsMutex);
    return stageThreads != nullptr;
}

std::size_t StageThreadCount() {
    std::lock_guard lock(stageThreadsMutex);
    return stageThreads ? stageThreads->size() : 0;
}

} // namespace tunefold
