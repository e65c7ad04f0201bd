#include "platform/mm_timer.h"

#include <atomic>

namespace tunefold::platform {

MMRESULT TimerService::timeGetDevCaps(TIMECAPS* caps, UINT size) const {
    if (caps == nullptr || size < sizeof(TIMECAPS)) {
        return TIMERR_STRUCT;
    }
    caps->wPeriodMin = kTimerPeriodMin;
    caps->wPeriodMax = kTimerPeriodMax;
    return TIMERR_NOERROR;
}

MMRESULT TimerService::timeBeginPeriod(UINT periodMs) {
    if (periodMs < kTimerPeriodMin || periodMs > kTimerPeriodMax) {
        return TIMERR_NOCANDO;
    }
    std::lock_guard lock(periodMutex_);
    ++periods_[periodMs];
    ++beginCalls_;
    return TIMERR_NOERROR;
}

MMRESULT TimerService::timeEndPeriod(UINT periodMs) {
    std::lock_guard lock(periodMutex_);
    auto it = periods_.find(periodMs);
    if (it == periods_.end() || it->second == 0) {
        return TIMERR_NOCANDO; // an End without its Begin
    }
    if (--it->second == 0) {
        periods_.erase(it);
    }
    return TIMERR_NOERROR;
}

int TimerService::PeriodRequests(UINT periodMs) {
    std::lock_guard lock(periodMutex_);
    auto it = periods_.find(periodMs);
    return it == periods_.end() ? 0 : it->second;
}

int TimerService::PeriodRequests() {
    std::lock_guard lock(periodMutex_);
    int total = 0;
    for (const auto& [period, count] : periods_) {
        total += count;
    }
    return total;
}

int TimerService::BeginPeriodCalls() {
    std::lock_guard lock(periodMutex_);
    return beginCalls_;
}

namespace {
std::atomic<TimerService*> installed{nullptr};
} // namespace

TimerService& Timers() {
    TimerService* service = installed.load();
    // Timers need no hardware, so even the virtual platform runs on the real clock by default: a
    // headless program keeps its displays moving. Tests that want a clock of their own install one.
    return service != nullptr ? *service : RealTimerService();
}

TimerService* SetTimers(TimerService* service) {
    return installed.exchange(service);
}

} // namespace tunefold::platform
