// The multimedia timer and clocks: periodic (or one-shot) timers whose callbacks run on a timer
// thread of ours, timer resolution requests, the millisecond clock and a microsecond performance
// counter.
//
// Two backends: RealTimers (steady clock, one thread per timer) and VirtualTimers
// (platform/virtual/virtual_timers.h), whose clock moves only when a test advances it. Code reaches
// the one in force through Timers(); tests install their own with ScopedTimers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "platform/wave_types.h"

namespace tunefold::platform {

constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;
constexpr MMRESULT TIMERR_STRUCT = 129;

constexpr UINT TIME_ONESHOT = 0;
constexpr UINT TIME_PERIODIC = 1;

// Finest and coarsest period a timer may have, in milliseconds.
constexpr UINT kTimerPeriodMin = 1;
constexpr UINT kTimerPeriodMax = 1000000;

struct TIMECAPS {
    UINT wPeriodMin;
    UINT wPeriodMax;
};

// 0 means "no timer".
using MMTimerId = UINT;
// Called with the timer's identifier on the timer thread.
using MMTimerCallback = std::function<void(MMTimerId id)>;

class TimerService {
public:
    virtual ~TimerService() = default;

    // Starts a timer that calls `callback` after `delayMs` (and every `delayMs` with TIME_PERIODIC).
    // `resolutionMs` is accepted and ignored. Returns 0 when the delay is outside
    // kTimerPeriodMin..kTimerPeriodMax, the callback is empty, or no timer can be had.
    virtual MMTimerId timeSetEvent(UINT delayMs, UINT resolutionMs, MMTimerCallback callback,
                                   UINT flags = TIME_PERIODIC) = 0;
    // Stops a timer. Unless called from inside that timer's own callback, it returns only after a
    // callback that is running has finished, and no callback of the timer starts afterwards.
    virtual MMRESULT timeKillEvent(MMTimerId id) = 0;
    // Milliseconds since an arbitrary start (wraps after 49.7 days, as the platform's does).
    virtual DWORD timeGetTime() = 0;
    // Microseconds since an arbitrary start; PerformanceFrequency ticks per second.
    virtual std::int64_t PerformanceCounter() = 0;
    std::int64_t PerformanceFrequency() const { return 1000000; }
    // Number of timers that exist now.
    virtual int ActiveTimerCount() = 0;

    MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size) const;

    // Resolution requests change nothing here (our timers always run at their best); they are
    // counted so that callers can be checked for pairing every Begin with an End.
    MMRESULT timeBeginPeriod(UINT periodMs);
    MMRESULT timeEndPeriod(UINT periodMs);
    // Outstanding Begin requests for one period, and for all periods together.
    int PeriodRequests(UINT periodMs);
    int PeriodRequests();
    // Every Begin ever made (tests).
    int BeginPeriodCalls();

private:
    std::mutex periodMutex_;
    std::map<UINT, int> periods_;
    int beginCalls_ = 0;
};

// The backend in force: the one installed with SetTimers, else the process's default (virtual when
// the virtual platform was requested, real otherwise).
TimerService& Timers();
// Installs `service` (nullptr: back to the default) and returns the one installed before. The
// caller keeps ownership and must restore the old one before `service` goes away.
TimerService* SetTimers(TimerService* service);
// The process's real backend.
TimerService& RealTimerService();

// Installs a service for the life of a scope (a test, usually).
class ScopedTimers {
public:
    explicit ScopedTimers(TimerService& service) : previous_(SetTimers(&service)) {}
    ~ScopedTimers() { SetTimers(previous_); }
    ScopedTimers(const ScopedTimers&) = delete;
    ScopedTimers& operator=(const ScopedTimers&) = delete;

private:
    TimerService* previous_;
};

} // namespace tunefold::platform
