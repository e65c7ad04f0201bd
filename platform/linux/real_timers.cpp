// The real multimedia timer: every timer has a thread of its own that sleeps on the steady clock
// until the next due time. One thread per timer keeps a slow callback (a display refresh waiting
// for its lock) from delaying every other timer of the process. A periodic timer that falls behind
// by more than a period skips the ticks it missed instead of firing them in a burst.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/mm_timer.h"
#include "platform/thread_priority.h"

namespace tunefold::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Far more than the process ever needs; a runaway caller gets "no timer" instead of a thread storm.
constexpr std::size_t kMaxTimers = 256;

struct TimerEntry {
    MMTimerId id = 0;
    UINT period = 0;
    bool periodic = true;
    MMTimerCallback callback;
    std::mutex mutex;
    std::condition_variable cond;
    bool stop = false;
    std::atomic<bool> exited{false};
    std::thread thread;
};

void RunTimer(TimerEntry* e) {
    NameCurrentThread("tf-mmtimer");
    auto next = Clock::now() + std::chrono::milliseconds(e->period);
    std::unique_lock lock(e->mutex);
    for (;;) {
        if (e->cond.wait_until(lock, next, [e] { return e->stop; })) {
            break;
        }
        lock.unlock();
        try {
            e->callback(e->id);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "tunefold: exception in a timer callback: %s\n", error.what());
        } catch (...) {
            std::fprintf(stderr, "tunefold: exception in a timer callback\n");
        }
        lock.lock();
        if (!e->periodic) {
            break;
        }
        next += std::chrono::milliseconds(e->period);
        const auto now = Clock::now();
        if (next + std::chrono::milliseconds(e->period) < now) {
            next = now + std::chrono::milliseconds(e->period);
        }
    }
    e->exited = true;
}

class RealTimers : public TimerService {
public:
    ~RealTimers() override {
        std::map<MMTimerId, std::shared_ptr<TimerEntry>> live;
        std::vector<std::shared_ptr<TimerEntry>> zombies;
        {
            std::lock_guard lock(mutex_);
            live.swap(timers_);
            zombies.swap(zombies_);
        }
        for (auto& [id, e] : live) {
            Stop(*e);
            zombies.push_back(e);
        }
        for (auto& e : zombies) {
            if (e->thread.joinable()) {
                e->thread.join();
            }
        }
    }

    MMTimerId timeSetEvent(UINT delayMs, UINT /*resolutionMs*/, MMTimerCallback callback,
                           UINT flags) override {
        if (delayMs < kTimerPeriodMin || delayMs > kTimerPeriodMax || !callback) {
            return 0;
        }
        std::lock_guard lock(mutex_);
        ReapLocked();
        if (timers_.size() >= kMaxTimers) {
            return 0;
        }
        auto e = std::make_shared<TimerEntry>();
        e->id = nextId_;
        e->period = delayMs;
        e->periodic = (flags & TIME_PERIODIC) != 0;
        e->callback = std::move(callback);
        try {
            e->thread = std::thread(RunTimer, e.get());
        } catch (const std::system_error&) {
            return 0;
        }
        if (++nextId_ == 0) {
            nextId_ = 1;
        }
        timers_[e->id] = e;
        return e->id;
    }

    MMRESULT timeKillEvent(MMTimerId id) override {
        std::shared_ptr<TimerEntry> e;
        {
            std::lock_guard lock(mutex_);
            ReapLocked();
            auto it = timers_.find(id);
            if (it == timers_.end()) {
                return MMSYSERR_INVALPARAM;
            }
            e = it->second;
            timers_.erase(it);
            if (e->thread.get_id() == std::this_thread::get_id()) {
                // Inside its own callback: it stops when the callback returns; joined later.
                Stop(*e);
                zombies_.push_back(e);
                return TIMERR_NOERROR;
            }
        }
        Stop(*e);
        e->thread.join(); // waits for a callback that is running now
        return TIMERR_NOERROR;
    }

    DWORD timeGetTime() override {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
        return static_cast<DWORD>(static_cast<std::uint64_t>(ms.count()));
    }

    std::int64_t PerformanceCounter() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
    }

    int ActiveTimerCount() override {
        std::lock_guard lock(mutex_);
        int count = 0;
        for (const auto& [id, e] : timers_) {
            count += e->exited ? 0 : 1; // a one-shot timer that fired is gone
        }
        return count;
    }

private:
    static void Stop(TimerEntry& e) {
        {
            std::lock_guard lock(e.mutex);
            e.stop = true;
        }
        e.cond.notify_all();
    }

    // Joins the threads that have already left their loop, so joining never waits here.
    void ReapLocked() {
        for (auto it = zombies_.begin(); it != zombies_.end();) {
            if ((*it)->exited) {
                (*it)->thread.join();
                it = zombies_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = timers_.begin(); it != timers_.end();) {
            if (!it->second->periodic && it->second->exited) {
                it->second->thread.join();
                it = timers_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex mutex_;
    std::map<MMTimerId, std::shared_ptr<TimerEntry>> timers_;
    std::vector<std::shared_ptr<TimerEntry>> zombies_;
    MMTimerId nextId_ = 1;
};

} // namespace

TimerService& RealTimerService() {
    static RealTimers service;
    return service;
}

} // namespace tunefold::platform
