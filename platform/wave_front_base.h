// What the output and input fronts do alike: open a device on a stream the backend made and start
// its thread, close it (or leave the close to its thread when that cannot be waited for), forget
// every device, prepare and unprepare headers, return headers in order with their notifications,
// and answer the inspection calls. Only the data path (feeding a sink, filling from a source) and
// the device states of each direction live in the fronts themselves.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/thread_priority.h"
#include "platform/wave_device.h"
#include "platform/wave_device_table.h"
#include "platform/wave_header.h"

namespace tunefold::platform {

// One open device: what both directions keep. `Stream` is the backend's PcmSink or PcmSource.
template <class Stream>
struct FrontDevice {
    std::uintptr_t handle = 0;
    WAVEFORMATEX format{};
    WaveCallback callback = nullptr;
    DWORD_PTR instance = 0;
    bool lateWork = false; // WAVE_LATE_WORK: WOM_LATE before each header goes to the card
    std::unique_ptr<Stream> stream;

    std::thread thread;
    std::atomic<std::thread::id> threadId{};

    // Guards everything of the device and every call on the stream; never held while a
    // notification runs (but for WOM_LATE, which is sent under it).
    std::mutex mutex;
    std::condition_variable wake;
    // Taken before `mutex` by whoever returns headers, and held while their notifications go out:
    // the thread, a reset and a caller that moves the clock never interleave them.
    std::recursive_mutex deliver;
    std::atomic<std::thread::id> deliverer{};

    bool quit = false;
    bool streamClosed = false;
    bool closeByThread = false; // closed from a thread that could not wait for this device's

    void CloseStreamLocked() {
        if (!streamClosed) {
            streamClosed = true;
            stream->Close();
        }
    }
    // The device's thread ends: a close that could not wait for it left the stream to close here,
    // where nothing uses it any more.
    void EndOfThreadLocked() {
        if (closeByThread) {
            CloseStreamLocked();
        }
    }
};

// Held while headers are returned: the delivery lock, and the thread that holds it recorded so a
// close from inside a notification knows it cannot wait for the device's thread.
template <class Device>
class Delivering {
public:
    explicit Delivering(Device& device)
        : device_(device), guard_(device.deliver),
          before_(device.deliverer.exchange(std::this_thread::get_id())) {}
    ~Delivering() { device_.deliverer.store(before_); }
    Delivering(const Delivering&) = delete;
    Delivering& operator=(const Delivering&) = delete;

private:
    Device& device_;
    std::lock_guard<std::recursive_mutex> guard_;
    std::thread::id before_;
};

template <class Device, class Backend, class Stream>
class WaveFrontBase {
protected:
    WaveFrontBase(Backend& backend, std::uintptr_t firstHandle) : backend_(backend), devices_(firstHandle) {}

    // Ends every device's thread and closes its stream. The front's destructor calls it: the
    // threads run the front's code.
    void EndAll() {
        for (auto& device : devices_.TakeAll()) {
            {
                std::lock_guard lock(device->mutex);
                device->quit = true;
            }
            device->wake.notify_all();
            if (device->thread.joinable()) {
                device->thread.join();
            }
            std::lock_guard lock(device->mutex);
            device->CloseStreamLocked();
        }
        graves_.JoinAll();
    }

    // Opens a stream on the backend and the device around it, starts `run` on the device's thread
    // and sends `openMsg`.
    MMRESULT OpenDevice(std::uintptr_t* handle, int deviceId, const WAVEFORMATEX* format,
                        WaveCallback callback, DWORD_PTR instance, DWORD flags, UINT openMsg,
                        std::function<void(const std::shared_ptr<Device>&)> run) {
        graves_.JoinAll();
        if (format == nullptr) {
            return MMSYSERR_INVALPARAM;
        }
        const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
        std::unique_ptr<Stream> stream;
        const PcmOpenMode mode{query, (flags & WAVE_LATE_WORK) != 0};
        const MMRESULT opened = backend_.Open(deviceId, *format, mode, stream);
        if (opened != MMSYSERR_NOERROR || query) {
            return opened;
        }
        if (handle == nullptr || stream == nullptr) {
            if (stream != nullptr) {
                stream->Close();
            }
            return MMSYSERR_INVALPARAM;
        }
        auto device = std::make_shared<Device>();
        device->stream = std::move(stream);
        std::memcpy(&device->format, format, sizeof(WAVEFORMATEX));
        device->format.cbSize = 0;
        device->callback = callback;
        device->instance = instance;
        device->lateWork = mode.shortBuffer;
        devices_.Add(device);
        // The thread shares the device: a close that cannot wait for it leaves the rest to it.
        device->thread = std::thread([run = std::move(run), device] {
            NameCurrentThread("tf-device");
            run(device);
        });
        device->threadId.store(device->thread.get_id());
        *handle = device->handle;
        if (callback != nullptr) {
            callback(device->handle, openMsg, instance, 0, 0);
        }
        return MMSYSERR_NOERROR;
    }

    // Closes a device whose headers have all come back (`busy` false under its lock, which may
    // also change the device's state), then sends `closeMsg`.
    MMRESULT CloseDevice(std::uintptr_t handle, UINT closeMsg, const std::function<bool(Device&)>& busy) {
        auto device = devices_.Find(handle);
        if (device == nullptr) {
            return MMSYSERR_INVALHANDLE;
        }
        // From inside one of the device's own notifications (on its thread, or on a thread that
        // returns its headers and holds the delivery lock the device thread may be waiting for)
        // the thread cannot be waited for here.
        const auto self = std::this_thread::get_id();
        const bool onItsThread = self == device->threadId;
        const bool cannotWait = !onItsThread && device->deliverer.load() == self;
        {
            std::lock_guard lock(device->mutex);
            if (busy(*device)) {
                return WAVERR_STILLPLAYING;
            }
            device->quit = true;
            device->closeByThread = cannotWait;
        }
        devices_.Remove(device);
        EndDevice(device, cannotWait, onItsThread);
        if (device->callback != nullptr) {
            std::lock_guard guard(device->deliver);
            device->callback(handle, closeMsg, device->instance, 0, 0);
        }
        return MMSYSERR_NOERROR;
    }

    // Closes every device without a notification; `drop` forgets its stream's audio and headers
    // under its lock.
    void ForgetAllDevices(const std::function<void(Device&)>& drop) {
        const auto self = std::this_thread::get_id();
        for (auto& device : devices_.TakeAll()) {
            const bool onItsThread = self == device->threadId;
            const bool cannotWait = !onItsThread && device->deliverer.load() == self;
            {
                std::lock_guard lock(device->mutex);
                drop(*device);
                device->quit = true;
                device->closeByThread = cannotWait;
            }
            EndDevice(device, cannotWait, onItsThread);
        }
    }

    MMRESULT PrepareHeaderOf(std::uintptr_t handle, WAVEHDR* header) {
        if (devices_.Find(handle) == nullptr) {
            return MMSYSERR_INVALHANDLE;
        }
        if (header == nullptr) {
            return MMSYSERR_INVALPARAM;
        }
        ChangeHeaderFlags(*header, 0, WHDR_PREPARED);
        return MMSYSERR_NOERROR;
    }

    // `forget` runs under the device's lock before the flag goes: the header may be written again
    // or its memory may go away.
    MMRESULT UnprepareHeaderOf(std::uintptr_t handle, WAVEHDR* header,
                               const std::function<void(const WAVEHDR*)>& forget = nullptr) {
        auto device = devices_.Find(handle);
        if (device == nullptr) {
            return MMSYSERR_INVALHANDLE;
        }
        if (header == nullptr) {
            return MMSYSERR_INVALPARAM;
        }
        std::lock_guard lock(device->mutex);
        if (device->quit) {
            return MMSYSERR_INVALHANDLE;
        }
        if (HeaderHas(*header, WHDR_INQUEUE)) {
            return WAVERR_STILLPLAYING;
        }
        if (forget) {
            forget(header);
        }
        ChangeHeaderFlags(*header, WHDR_PREPARED, 0);
        return MMSYSERR_NOERROR;
    }

    // Checks a header given to the device to be queued; MMSYSERR_NOERROR when it may be.
    static MMRESULT CheckQueueable(const Device& device, const WAVEHDR& header) {
        if (device.quit) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!HeaderHas(header, WHDR_PREPARED)) {
            return WAVERR_UNPREPARED;
        }
        if (HeaderHas(header, WHDR_INQUEUE)) {
            return WAVERR_STILLPLAYING;
        }
        return MMSYSERR_NOERROR;
    }

    // Runs `clock` on the device's stream under its lock, then `deliver` returns what it made
    // ready, on the calling thread. False for an unknown handle.
    bool ServiceDevice(std::uintptr_t handle, const std::function<void(Stream&)>& clock,
                       const std::function<void(Device&)>& deliver) {
        auto device = devices_.Find(handle);
        if (device == nullptr) {
            return false;
        }
        std::lock_guard guard(device->deliver);
        {
            std::lock_guard lock(device->mutex);
            if (device->quit || device->streamClosed) {
                return true;
            }
            clock(*device->stream);
        }
        deliver(*device);
        return true;
    }

    // The headers `done`, oldest first, each with `msg`; param2 counts the ones still to come.
    static void Notify(const Device& device, UINT msg, const std::vector<WAVEHDR*>& done) {
        if (device.callback == nullptr) {
            return;
        }
        for (std::size_t i = 0; i < done.size(); ++i) {
            device.callback(device.handle, msg, device.instance, reinterpret_cast<DWORD_PTR>(done[i]),
                            static_cast<DWORD_PTR>(done.size() - 1 - i));
        }
    }

    // `frames` of a device with `block` bytes a frame as the position in `time`.
    static void Position(std::uint64_t frames, WORD block, MMTIME& time) {
        if (time.wType == TIME_BYTES) {
            time.value = static_cast<DWORD>(frames * block);
        } else {
            time.wType = TIME_SAMPLES;
            time.value = static_cast<DWORD>(frames);
        }
    }

public:
    // The streams' clocks changed how they run: every device thread looks again.
    void WakeAll();
    std::vector<std::uintptr_t> Handles();
    bool IsOpen(std::uintptr_t handle);

protected:
    Backend& backend_;
    WaveDeviceTable<Device> devices_;
    // Threads of devices closed from inside one of their own notifications: they cannot be joined
    // there, so the next open or the end of the front joins them.
    ThreadGraves graves_;

private:
    // Ends the device thread (or leaves that to it) and closes the stream; the device is already
    // out of the table and marked to quit.
    void EndDevice(const std::shared_ptr<Device>& device, bool cannotWait, bool onItsThread) {
        device->wake.notify_all();
        if (onItsThread || cannotWait) {
            graves_.Bury(std::move(device->thread));
        } else {
            device->thread.join();
            graves_.JoinAll();
        }
        std::lock_guard lock(device->mutex);
        if (!cannotWait) {
            device->CloseStreamLocked();
        }
    }
};

// Defined out of the class, so that code which sees the device only declared calls the
// instantiation in the front's source (see the `extern template` in each front's header).
template <class Device, class Backend, class Stream>
void WaveFrontBase<Device, Backend, Stream>::WakeAll() {
    for (auto& device : devices_.Snapshot()) {
        { std::lock_guard lock(device->mutex); }
        device->wake.notify_all();
    }
}

template <class Device, class Backend, class Stream>
std::vector<std::uintptr_t> WaveFrontBase<Device, Backend, Stream>::Handles() {
    return devices_.Handles();
}

template <class Device, class Backend, class Stream>
bool WaveFrontBase<Device, Backend, Stream>::IsOpen(std::uintptr_t handle) {
    return devices_.Find(handle) != nullptr;
}

} // namespace tunefold::platform
