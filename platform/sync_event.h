// Auto- and manual-reset events, as the worker threads and devices use them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tunefold::platform {

class SyncEvent {
public:
    enum class Reset { Auto, Manual };
    explicit SyncEvent(Reset reset = Reset::Auto, bool signaled = false)
        : manual_(reset == Reset::Manual), signaled_(signaled) {}

    void Set() {
        {
            std::lock_guard lock(mutex_);
            signaled_ = true;
        }
        if (manual_) {
            cond_.notify_all();
        } else {
            cond_.notify_one();
        }
    }
    void ResetEvent() {
        std::lock_guard lock(mutex_);
        signaled_ = false;
    }
    // Waits up to `timeoutMs` (negative: forever); true when the event was signaled.
    bool Wait(long timeoutMs = -1) {
        std::unique_lock lock(mutex_);
        if (timeoutMs == 0) {
            // A poll: a condition-variable wait with a timeout already past still enters the
            // kernel (and the scheduler), which the worker threads would pay for on every message.
            if (!signaled_) {
                return false;
            }
        } else if (timeoutMs < 0) {
            cond_.wait(lock, [this] { return signaled_; });
        } else if (!cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [this] { return signaled_; })) {
            return false;
        }
        if (!manual_) {
            signaled_ = false;
        }
        return true;
    }
    bool IsSet() {
        std::lock_guard lock(mutex_);
        return signaled_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    bool manual_;
    bool signaled_;
};

} // namespace tunefold::platform
