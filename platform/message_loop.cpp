#include "platform/message_loop.h"
#include "platform/thread_priority.h"

#include <algorithm>
#include <atomic>
#include <exception>

namespace tunefold::platform {

struct MessageWindow::TimerState {
    UINT id = 0;
    UINT periodMs = 0;
    std::atomic<bool> pending{false};
    std::mutex mutex;
    std::condition_variable cond;
    bool stop = false;
    std::thread thread;
};

MessageLoop& MessageLoop::Gui() {
    static MessageLoop loop;
    return loop;
}

MessageLoop::MessageLoop() : guiThread_(std::this_thread::get_id()) {}

void MessageLoop::BindToCurrentThread() {
    std::lock_guard lock(mutex_);
    guiThread_ = std::this_thread::get_id();
}

bool MessageLoop::IsGUIThread() const {
    std::lock_guard lock(mutex_);
    return guiThread_ == std::this_thread::get_id();
}

std::thread::id MessageLoop::GUIThreadId() const {
    std::lock_guard lock(mutex_);
    return guiThread_;
}

void MessageLoop::SetWakeHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    wakeHook_ = std::move(hook);
}

std::size_t MessageLoop::PendingCount() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

void MessageLoop::Enqueue(Message m) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(m));
        hook = wakeHook_;
    }
    cond_.notify_all();
    if (hook) {
        hook();
    }
}

void MessageLoop::RemoveFor(const MessageWindow* window, UINT first, UINT last, bool all) {
    std::lock_guard lock(mutex_);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const Message& m) {
                                    return m.window == window && m.windowSerial == window->serial_ &&
                                           (all || (m.msg >= first && m.msg <= last));
                                }),
                 queue_.end());
}

namespace {
struct SyncState {
    std::mutex mutex;
    std::condition_variable cond;
    bool done = false;
    std::exception_ptr error;
};
} // namespace

void MessageLoop::Synchronize(const std::function<void()>& fn) {
    if (IsGUIThread()) {
        fn();
        return;
    }
    auto state = std::make_shared<SyncState>();
    Message m{nullptr, 0, WM_NULL, 0, 0, [state, &fn] {
                  try {
                      fn();
                  } catch (...) {
                      state->error = std::current_exception();
                  }
                  std::lock_guard lock(state->mutex);
                  state->done = true;
                  state->cond.notify_all();
              }};
    Enqueue(std::move(m));
    std::unique_lock lock(state->mutex);
    state->cond.wait(lock, [&] { return state->done; });
    if (state->error) {
        std::rethrow_exception(state->error);
    }
}

// Takes the front message and runs it with the lock released. Returns false when the queue is empty.
bool MessageLoop::RunOne(std::unique_lock<std::mutex>& lock) {
    if (queue_.empty()) {
        return false;
    }
    Message m = std::move(queue_.front());
    queue_.pop_front();
    if (m.window == nullptr) {
        lock.unlock();
        m.call();
        lock.lock();
        return true;
    }
    auto it = std::find(windows_.begin(), windows_.end(), m.window);
    if (it == windows_.end() || (*it)->serial_ != m.windowSerial) {
        return true; // the window went away; its message is dropped
    }
    MessageWindow* window = m.window;
    lock.unlock();
    if (m.msg == WM_TIMER) {
        std::lock_guard timers(window->timersMutex_);
        for (auto& t : window->timers_) {
            if (t->id == m.wParam) {
                t->pending = false;
            }
        }
    }
    MessageWindow::Handler handler = window->handler_; // a handler may destroy its own window
    handler(m.msg, m.wParam, m.lParam);
    lock.lock();
    return true;
}

int MessageLoop::ProcessMessages() {
    std::unique_lock lock(mutex_);
    // Only what was queued before the call runs, so a handler that posts again cannot spin us forever.
    std::size_t budget = queue_.size();
    int ran = 0;
    while (budget-- > 0 && RunOne(lock)) {
        ++ran;
    }
    return ran;
}

bool MessageLoop::WaitAndProcess(long timeoutMs) {
    {
        std::unique_lock lock(mutex_);
        if (queue_.empty()) {
            cond_.wait_for(lock, std::chrono::milliseconds(std::max(0L, timeoutMs)),
                           [this] { return !queue_.empty(); });
        }
    }
    return ProcessMessages() > 0;
}

bool MessageLoop::ProcessUntil(const std::function<bool()>& done, long timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return done();
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        WaitAndProcess(std::min<long>(static_cast<long>(left), 5));
    }
    return true;
}

// ---- MessageWindow ----

namespace {
std::atomic<std::uintptr_t> nextHandle{0x1000};
}

MessageWindow::MessageWindow(Handler handler)
    : handler_(std::move(handler)), handle_(nextHandle.fetch_add(4)) {
    MessageLoop& loop = MessageLoop::Gui();
    std::lock_guard lock(loop.mutex_);
    serial_ = loop.nextSerial_++;
    loop.windows_.push_back(this);
}

MessageWindow::~MessageWindow() {
    std::vector<std::shared_ptr<TimerState>> timers;
    {
        std::lock_guard lock(timersMutex_);
        timers.swap(timers_);
    }
    for (auto& t : timers) {
        {
            std::lock_guard lock(t->mutex);
            t->stop = true;
        }
        t->cond.notify_all();
        t->thread.join();
    }
    MessageLoop& loop = MessageLoop::Gui();
    std::lock_guard lock(loop.mutex_);
    loop.windows_.erase(std::remove(loop.windows_.begin(), loop.windows_.end(), this), loop.windows_.end());
    loop.queue_.erase(std::remove_if(loop.queue_.begin(), loop.queue_.end(),
                                     [this](const MessageLoop::Message& m) { return m.window == this; }),
                      loop.queue_.end());
}

bool MessageWindow::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    MessageLoop::Gui().Enqueue({this, serial_, msg, wParam, lParam, {}});
    return true;
}

void MessageWindow::RemovePending(UINT first, UINT last) {
    MessageLoop::Gui().RemoveFor(this, first, last, false);
}

LRESULT MessageWindow::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
    return handler_(msg, wParam, lParam);
}

void MessageWindow::SetTimer(UINT id, UINT periodMs) {
    KillTimer(id);
    auto t = std::make_shared<TimerState>();
    t->id = id;
    t->periodMs = std::max<UINT>(periodMs, 1);
    TimerState* raw = t.get();
    t->thread = std::thread([this, raw] {
        NameCurrentThread("tf-timer");
        auto next = std::chrono::steady_clock::now();
        std::unique_lock lock(raw->mutex);
        for (;;) {
            next += std::chrono::milliseconds(raw->periodMs);
            if (raw->cond.wait_until(lock, next, [raw] { return raw->stop; })) {
                return;
            }
            if (!raw->pending.exchange(true)) {
                Post(WM_TIMER, raw->id, 0);
            }
        }
    });
    std::lock_guard lock(timersMutex_);
    timers_.push_back(std::move(t));
}

void MessageWindow::KillTimer(UINT id) {
    std::shared_ptr<TimerState> victim;
    {
        std::lock_guard lock(timersMutex_);
        auto it = std::find_if(timers_.begin(), timers_.end(), [id](auto& t) { return t->id == id; });
        if (it == timers_.end()) {
            return;
        }
        victim = *it;
        timers_.erase(it);
    }
    {
        std::lock_guard lock(victim->mutex);
        victim->stop = true;
    }
    victim->cond.notify_all();
    victim->thread.join();
}

// ---- ThreadMessageQueue ----

void ThreadMessageQueue::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({msg, wParam, lParam});
        unwoken_ = false;
        wake = waiters_ > 0;
    }
    if (wake) {
        cond_.notify_all();
    }
}

void ThreadMessageQueue::PostQuiet(UINT msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(mutex_);
    queue_.push_back({msg, wParam, lParam});
    unwoken_ = true;
}

void ThreadMessageQueue::Wake() {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        wake = unwoken_ && waiters_ > 0;
        unwoken_ = false;
    }
    if (wake) {
        cond_.notify_all();
    }
}

int ThreadMessageQueue::Waiters() {
    std::lock_guard lock(mutex_);
    return waiters_;
}

bool ThreadMessageQueue::Peek(Message& out) {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return false;
    }
    out = queue_.front();
    queue_.pop_front();
    return true;
}

bool ThreadMessageQueue::Wait(Message& out, long timeoutMs) {
    std::unique_lock lock(mutex_);
    auto ready = [this] { return !queue_.empty(); };
    if (!ready()) {
        ++waiters_;
        bool got = true;
        if (timeoutMs < 0) {
            cond_.wait(lock, ready);
        } else {
            got = cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        }
        --waiters_;
        if (!got) {
            return false;
        }
    }
    out = queue_.front();
    queue_.pop_front();
    return true;
}

void ThreadMessageQueue::Clear() {
    std::lock_guard lock(mutex_);
    queue_.clear();
}

} // namespace tunefold::platform
