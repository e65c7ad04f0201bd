#include "platform/wave_header.h"

#include <condition_variable>
#include <mutex>

namespace tunefold::platform {

namespace {
// One wake-up for all headers: a done flag is waited for only when a device misbehaves (it sends
// the notification before the flag), so the waiters are few and the setters pay only for a load
// of the waiter count when nobody waits.
struct DoneWaiters {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<int> count{0};
};
DoneWaiters& Waiters() {
    // Never destroyed: a device thread may set a flag while the program's statics go away.
    static DoneWaiters* const waiters = new DoneWaiters;
    return *waiters;
}
} // namespace

void MarkHeaderDone(WAVEHDR& header) {
    // Sequentially consistent, like the waiter's count: either the waiter sees the flag or this
    // side sees the waiter.
    std::atomic_ref<DWORD> flags(header.dwFlags);
    DWORD old = flags.load();
    while (!flags.compare_exchange_weak(old, (old & ~WHDR_INQUEUE) | WHDR_DONE)) {
    }
    DoneWaiters& w = Waiters();
    if (w.count.load() > 0) {
        { std::lock_guard lock(w.mutex); }
        w.changed.notify_all();
    }
}

bool WaitHeaderDone(const WAVEHDR& header, std::chrono::steady_clock::time_point until) {
    if (HeaderHas(header, WHDR_DONE)) {
        return true;
    }
    DoneWaiters& w = Waiters();
    std::unique_lock lock(w.mutex);
    w.count.fetch_add(1);
    const bool done = w.changed.wait_until(lock, until, [&header] {
        return (std::atomic_ref<DWORD>(const_cast<DWORD&>(header.dwFlags)).load() & WHDR_DONE) != 0;
    });
    w.count.fetch_sub(1);
    return done;
}

} // namespace tunefold::platform
