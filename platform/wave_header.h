// The flags of a buffer header are shared between the program's threads and the device's feeding
// or notification thread: the device sets the done flag on its own thread while the program may be
// looking at it. Every read and write of `dwFlags` goes through here, atomically, and a thread
// that needs the done flag waits for it on a condition variable instead of polling.
#pragma once

#include <atomic>
#include <chrono>

#include "platform/wave_types.h"

namespace tunefold::platform {

inline DWORD HeaderFlags(const WAVEHDR& header) {
    // atomic_ref needs a non-const object; only loads are made through this one.
    return std::atomic_ref<DWORD>(const_cast<DWORD&>(header.dwFlags)).load(std::memory_order_acquire);
}

inline bool HeaderHas(const WAVEHDR& header, DWORD flags) {
    return (HeaderFlags(header) & flags) != 0;
}

// Replaces the flags in `clear` by those in `set`, in one step.
inline void ChangeHeaderFlags(WAVEHDR& header, DWORD clear, DWORD set) {
    std::atomic_ref<DWORD> flags(header.dwFlags);
    DWORD old = flags.load(std::memory_order_relaxed);
    while (!flags.compare_exchange_weak(old, (old & ~clear) | set, std::memory_order_acq_rel)) {
    }
}

inline void SetHeaderFlags(WAVEHDR& header, DWORD flags) {
    std::atomic_ref<DWORD>(header.dwFlags).store(flags, std::memory_order_release);
}

// The device has finished with the header: out of the queue, done flag set, and whoever waits for
// that flag is woken.
void MarkHeaderDone(WAVEHDR& header);

// Waits until the header's done flag is set, at most `bound`; true when it was.
bool WaitHeaderDone(const WAVEHDR& header, std::chrono::steady_clock::time_point until);
inline bool WaitHeaderDone(const WAVEHDR& header, std::chrono::milliseconds bound) {
    return WaitHeaderDone(header, std::chrono::steady_clock::now() + bound);
}

} // namespace tunefold::platform
