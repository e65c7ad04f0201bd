#include "platform/mm_timer.h"

#include <atomic>

#include "platform/platform_mode.h"
#include "platform/virtual/virtual_timers.h"

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

TimerService& DefaultTimers() {
    if (VirtualPlatformRequested()) {
        static VirtualTimers shared;
        return shared;
    }
    return RealTimerService();
}
} // namespace

TimerService& Timers() {
    TimerService* service = installed.load();
    return service != nullptr ? *service : DefaultTimers();
}

TimerService* SetTimers(TimerService* service) {
    return installed.exchange(service);
}

} // namespace tunefold::platform
