// What the output and input fronts keep alike: the table of open devices by handle, and the
// threads of devices closed from inside one of their own notifications, which cannot be joined
// where they were closed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tunefold::platform {

// Devices have a `handle` member; handles are handed out in rising order from the first one.
template <class Device>
class WaveDeviceTable {
public:
    explicit WaveDeviceTable(std::uintptr_t firstHandle) : next_(firstHandle) {}

    std::uintptr_t Add(const std::shared_ptr<Device>& device) {
        std::lock_guard lock(mutex_);
        device->handle = next_++;
        open_.push_back(device);
        return device->handle;
    }
    std::shared_ptr<Device> Find(std::uintptr_t handle) {
        std::lock_guard lock(mutex_);
        for (auto& device : open_) {
            if (device->handle == handle) {
                return device;
            }
        }
        return nullptr;
    }
    void Remove(const std::shared_ptr<Device>& device) {
        std::lock_guard lock(mutex_);
        std::erase(open_, device);
    }
    std::vector<std::shared_ptr<Device>> Snapshot() {
        std::lock_guard lock(mutex_);
        return open_;
    }
    std::vector<std::shared_ptr<Device>> TakeAll() {
        std::lock_guard lock(mutex_);
        std::vector<std::shared_ptr<Device>> all;
        all.swap(open_);
        return all;
    }
    std::vector<std::uintptr_t> Handles() {
        std::lock_guard lock(mutex_);
        std::vector<std::uintptr_t> handles;
        for (const auto& device : open_) {
            handles.push_back(device->handle);
        }
        return handles;
    }

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<Device>> open_;
    std::uintptr_t next_;
};

// Threads that are to be joined later, by a thread that is not one of them.
class ThreadGraves {
public:
    void Bury(std::thread thread) {
        std::lock_guard lock(mutex_);
        graves_.push_back(std::move(thread));
    }
    // Joins every buried thread but the calling one, which stays buried.
    void JoinAll() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(graves_);
        }
        for (auto& t : threads) {
            if (t.get_id() == std::this_thread::get_id()) {
                Bury(std::move(t));
            } else if (t.joinable()) {
                t.join();
            }
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::thread> graves_;
};

} // namespace tunefold::platform
