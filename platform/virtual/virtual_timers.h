// A timer backend whose clock moves only when the test says so. Advance(ms) runs every callback
// that falls due on the way, on the advancing thread, in order of due time (timers due at the same
// moment in the order they were created), with the clock showing each callback's due time. So a
// test decides exactly how many ticks happen and sees them happen before Advance returns.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

#include "platform/mm_timer.h"

namespace tunefold::platform {

class VirtualTimers : public TimerService {
public:
    explicit VirtualTimers(std::int64_t startMicroseconds = 0) : nowUs_(startMicroseconds) {}

    MMTimerId timeSetEvent(UINT delayMs, UINT resolutionMs, MMTimerCallback callback,
                           UINT flags = TIME_PERIODIC) override;
    MMRESULT timeKillEvent(MMTimerId id) override;
    DWORD timeGetTime() override;
    std::int64_t PerformanceCounter() override;
    int ActiveTimerCount() override;

    // Moves the clock on, firing what falls due. Not to be called from inside a callback.
    void Advance(UINT milliseconds);
    void AdvanceMicroseconds(std::int64_t microseconds);

    // The next `count` timeSetEvent calls fail (return 0), as when the platform has no timer left.
    void FailNextTimers(int count);
    // Callbacks run so far (all timers together).
    int FiredCount();
    // Period of a live timer, 0 when there is none with that id.
    UINT PeriodOf(MMTimerId id);

private:
    struct Entry {
        UINT period;
        bool periodic;
        std::int64_t dueUs;
        std::uint64_t order;
        MMTimerCallback callback;
    };
    std::mutex mutex_;
    std::condition_variable idle_;
    std::map<MMTimerId, Entry> timers_;
    std::int64_t nowUs_;
    MMTimerId nextId_ = 1;
    std::uint64_t nextOrder_ = 0;
    MMTimerId running_ = 0; // the timer whose callback runs now
    std::thread::id advancer_;
    bool advancing_ = false;
    int failNext_ = 0;
    int fired_ = 0;
};

} // namespace tunefold::platform
