#include "platform/virtual/virtual_timers.h"

#include <stdexcept>

namespace tunefold::platform {

MMTimerId VirtualTimers::timeSetEvent(UINT delayMs, UINT /*resolutionMs*/, MMTimerCallback callback,
                                      UINT flags) {
    if (delayMs < kTimerPeriodMin || delayMs > kTimerPeriodMax || !callback) {
        return 0;
    }
    std::lock_guard lock(mutex_);
    if (failNext_ > 0) {
        --failNext_;
        return 0;
    }
    MMTimerId id = nextId_++;
    if (nextId_ == 0) {
        nextId_ = 1;
    }
    timers_[id] = Entry{delayMs, (flags & TIME_PERIODIC) != 0, nowUs_ + std::int64_t{delayMs} * 1000,
                        nextOrder_++, std::move(callback)};
    return id;
}

MMRESULT VirtualTimers::timeKillEvent(MMTimerId id) {
    std::unique_lock lock(mutex_);
    if (timers_.erase(id) == 0) {
        return MMSYSERR_INVALPARAM;
    }
    // From inside its own callback the kill only has to keep the timer from firing again.
    if (!(advancing_ && advancer_ == std::this_thread::get_id())) {
        idle_.wait(lock, [&] { return running_ != id; });
    }
    return TIMERR_NOERROR;
}

DWORD VirtualTimers::timeGetTime() {
    std::lock_guard lock(mutex_);
    return static_cast<DWORD>(static_cast<std::uint64_t>(nowUs_ / 1000));
}

std::int64_t VirtualTimers::PerformanceCounter() {
    std::lock_guard lock(mutex_);
    return nowUs_;
}

int VirtualTimers::ActiveTimerCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(timers_.size());
}

void VirtualTimers::Advance(UINT milliseconds) {
    AdvanceMicroseconds(std::int64_t{milliseconds} * 1000);
}

void VirtualTimers::AdvanceMicroseconds(std::int64_t microseconds) {
    std::unique_lock lock(mutex_);
    if (advancing_) {
        throw std::logic_error("VirtualTimers: Advance while the clock is already being advanced");
    }
    advancing_ = true;
    advancer_ = std::this_thread::get_id();
    const std::int64_t target = nowUs_ + (microseconds > 0 ? microseconds : 0);
    for (;;) {
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.dueUs > target) {
                continue;
            }
            if (next == timers_.end() || it->second.dueUs < next->second.dueUs ||
                (it->second.dueUs == next->second.dueUs && it->second.order < next->second.order)) {
                next = it;
            }
        }
        if (next == timers_.end()) {
            break;
        }
        const MMTimerId id = next->first;
        nowUs_ = next->second.dueUs;
        MMTimerCallback callback = next->second.callback;
        if (next->second.periodic) {
            next->second.dueUs += std::int64_t{next->second.period} * 1000;
        } else {
            timers_.erase(next);
        }
        running_ = id;
        ++fired_;
        lock.unlock();
        try {
            callback(id);
        } catch (...) {
            lock.lock();
            running_ = 0;
            advancing_ = false;
            idle_.notify_all();
            throw;
        }
        lock.lock();
        running_ = 0;
        idle_.notify_all();
    }
    nowUs_ = target;
    advancing_ = false;
}

void VirtualTimers::FailNextTimers(int count) {
    std::lock_guard lock(mutex_);
    failNext_ = count;
}

int VirtualTimers::FiredCount() {
    std::lock_guard lock(mutex_);
    return fired_;
}

UINT VirtualTimers::PeriodOf(MMTimerId id) {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second.period;
}

} // namespace tunefold::platform
