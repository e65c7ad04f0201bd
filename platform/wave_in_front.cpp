#include "platform/wave_in_front.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/wave_header.h"

namespace tunefold::platform {

struct WaveInFront::Device {
    HWAVEIN handle = 0;
    WAVEFORMATEX format{};
    WaveCallback callback = nullptr;
    DWORD_PTR instance = 0;
    std::unique_ptr<PcmSource> source;

    std::thread thread;
    std::atomic<std::thread::id> threadId{};

    // Guards everything below and every call on the source; never held while a notification runs.
    std::mutex mutex;
    std::condition_variable wake;
    // Taken before `mutex` by whoever returns buffers, and held while their notifications go out.
    std::recursive_mutex deliver;
    std::atomic<std::thread::id> deliverer{};

    std::deque<WAVEHDR*> queue;  // added, not yet full
    DWORD headFilled = 0;        // bytes recorded into the head of the queue
    std::deque<WAVEHDR*> filled; // out of the queue, to be returned
    std::uint64_t recorded = 0;  // frames since open or the last reset
    bool started = false;
    bool quit = false;
    bool sourceClosed = false;
    bool closeByThread = false;

    DWORD Block() const { return std::max<DWORD>(format.nBlockAlign, 1); }

    void FinishHeadLocked() {
        WAVEHDR* header = queue.front();
        queue.pop_front();
        header->dwBytesRecorded = headFilled;
        headFilled = 0;
        filled.push_back(header);
    }

    // Reads what the source holds into the queued buffers; full ones move to `filled`.
    void FillLocked() {
        const DWORD block = Block();
        while (started && !queue.empty()) {
            WAVEHDR* header = queue.front();
            const DWORD room = (header->dwBufferLength - headFilled) / block * block;
            if (room == 0) {
                FinishHeadLocked(); // full, or too short for another frame
                continue;
            }
            const std::uint64_t got = source->Read(header->lpData + headFilled, room);
            if (got == 0) {
                return;
            }
            headFilled += static_cast<DWORD>(got);
            recorded += got / block;
        }
    }

    // Frames the head buffer still takes.
    std::uint64_t HeadNeedsLocked() const {
        if (queue.empty()) {
            return 0;
        }
        return (queue.front()->dwBufferLength - headFilled) / Block();
    }
    // Frames all queued buffers still take.
    std::uint64_t RoomLocked() const {
        std::uint64_t bytes = 0;
        for (const WAVEHDR* header : queue) {
            bytes += header->dwBufferLength;
        }
        return (bytes - headFilled) / Block();
    }
};

namespace {
void Notify(const WaveInFront::Device& device, const std::vector<WAVEHDR*>& done) {
    if (device.callback == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < done.size(); ++i) {
        device.callback(device.handle, WIM_DATA, device.instance, reinterpret_cast<DWORD_PTR>(done[i]),
                        static_cast<DWORD_PTR>(done.size() - 1 - i));
    }
}

// Takes the filled buffers out, done flag set: they are the caller's to notify.
std::vector<WAVEHDR*> TakeFilledLocked(WaveInFront::Device& device) {
    std::vector<WAVEHDR*> done(device.filled.begin(), device.filled.end());
    device.filled.clear();
    for (WAVEHDR* header : done) {
        MarkHeaderDone(*header);
    }
    return done;
}
} // namespace

WaveInFront::WaveInFront(PcmCapture& backend, HWAVEIN firstHandle)
    : backend_(backend), devices_(firstHandle) {}

WaveInFront::~WaveInFront() {
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
        if (!device->sourceClosed) {
            device->sourceClosed = true;
            device->source->Close();
        }
    }
    graves_.JoinAll();
}

void WaveInFront::DeliverFilled(Device& device) {
    std::lock_guard guard(device.deliver);
    const std::thread::id before = device.deliverer.exchange(std::this_thread::get_id());
    std::vector<WAVEHDR*> done;
    {
        std::lock_guard lock(device.mutex);
        if (!device.sourceClosed) {
            device.FillLocked();
            done = TakeFilledLocked(device);
        }
    }
    Notify(device, done);
    device.deliverer.store(before);
}

void WaveInFront::Run(const std::shared_ptr<Device>& device) {
    Device& d = *device;
    std::unique_lock lock(d.mutex);
    while (!d.quit) {
        d.FillLocked();
        if (!d.filled.empty()) {
            lock.unlock();
            DeliverFilled(d);
            lock.lock();
            continue;
        }
        if (d.started && !d.queue.empty()) {
            const auto wait = d.source->UntilAvailable(d.HeadNeedsLocked(), d.RoomLocked());
            if (wait != PcmSource::Never) {
                d.wake.wait_for(lock, wait);
                continue;
            }
        }
        d.wake.wait(lock);
    }
    if (d.closeByThread && !d.sourceClosed) {
        d.sourceClosed = true;
        d.source->Close();
    }
}

UINT WaveInFront::GetNumDevs() {
    return backend_.Count();
}

MMRESULT WaveInFront::GetDevCaps(int deviceId, WAVEINCAPS& caps) {
    return backend_.Caps(deviceId, caps);
}

MMRESULT WaveInFront::Open(HWAVEIN* handle, int deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                           DWORD_PTR instance, DWORD flags) {
    graves_.JoinAll();
    if (format == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    std::unique_ptr<PcmSource> source;
    const MMRESULT opened = backend_.Open(deviceId, *format, query, source);
    if (opened != MMSYSERR_NOERROR || query) {
        return opened;
    }
    if (handle == nullptr || source == nullptr) {
        if (source != nullptr) {
            source->Close();
        }
        return MMSYSERR_INVALPARAM;
    }
    auto device = std::make_shared<Device>();
    device->source = std::move(source);
    std::memcpy(&device->format, format, sizeof(WAVEFORMATEX));
    device->format.cbSize = 0;
    device->callback = callback;
    device->instance = instance;
    devices_.Add(device);
    device->thread = std::thread([this, device] { Run(device); });
    device->threadId.store(device->thread.get_id());
    *handle = device->handle;
    if (callback != nullptr) {
        callback(device->handle, WIM_OPEN, instance, 0, 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInFront::Close(HWAVEIN handle) {
    auto device = devices_.Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    const auto self = std::this_thread::get_id();
    const bool onItsThread = self == device->threadId;
    const bool cannotWait = !onItsThread && device->deliverer.load() == self;
    {
        std::lock_guard lock(device->mutex);
        if (!device->queue.empty() || !device->filled.empty()) {
            return WAVERR_STILLPLAYING;
        }
        device->quit = true;
        device->started = false;
        device->closeByThread = cannotWait;
    }
    devices_.Remove(device);
    EndDevice(device, cannotWait, onItsThread);
    if (device->callback != nullptr) {
        std::lock_guard guard(device->deliver);
        device->callback(handle, WIM_CLOSE, device->instance, 0, 0);
    }
    return MMSYSERR_NOERROR;
}

void WaveInFront::EndDevice(const std::shared_ptr<Device>& device, bool cannotWait, bool onItsThread) {
    device->wake.notify_all();
    if (onItsThread || cannotWait) {
        graves_.Bury(std::move(device->thread));
    } else {
        device->thread.join();
        graves_.JoinAll();
    }
    std::lock_guard lock(device->mutex);
    if (!cannotWait && !device->sourceClosed) {
        device->sourceClosed = true;
        device->source->Close();
    }
}

void WaveInFront::ForgetAll() {
    const auto self = std::this_thread::get_id();
    for (auto& device : devices_.TakeAll()) {
        const bool onItsThread = self == device->threadId;
        const bool cannotWait = !onItsThread && device->deliverer.load() == self;
        {
            std::lock_guard lock(device->mutex);
            device->source->Stop();
            device->source->Drop();
            device->queue.clear();
            device->filled.clear();
            device->quit = true;
            device->closeByThread = cannotWait;
        }
        EndDevice(device, cannotWait, onItsThread);
    }
}

MMRESULT WaveInFront::PrepareHeader(HWAVEIN handle, WAVEHDR* header) {
    if (devices_.Find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    ChangeHeaderFlags(*header, 0, WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInFront::UnprepareHeader(HWAVEIN handle, WAVEHDR* header) {
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
    ChangeHeaderFlags(*header, WHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInFront::AddBuffer(HWAVEIN handle, WAVEHDR* header) {
    auto device = devices_.Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || header->lpData == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    bool wake = false;
    {
        std::lock_guard lock(device->mutex);
        if (device->quit) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!HeaderHas(*header, WHDR_PREPARED)) {
            return WAVERR_UNPREPARED;
        }
        if (HeaderHas(*header, WHDR_INQUEUE)) {
            return WAVERR_STILLPLAYING;
        }
        header->dwBytesRecorded = 0;
        ChangeHeaderFlags(*header, WHDR_DONE, WHDR_INQUEUE);
        wake = device->queue.empty();
        device->queue.push_back(header);
        // Filled from what is already captured; the device's thread returns it once it is full.
        device->FillLocked();
        wake = wake || !device->filled.empty();
    }
    if (wake) {
        device->wake.notify_all();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInFront::Start(HWAVEIN handle) {
    auto device = devices_.Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    {
        std::lock_guard lock(device->mutex);
        if (device->quit) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!device->started) {
            device->started = true;
            device->source->Start();
        }
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInFront::Stop(HWAVEIN handle) {
    auto device = devices_.Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    {
        std::lock_guard guard(device->deliver);
        const std::thread::id before = device->deliverer.exchange(std::this_thread::get_id());
        std::vector<WAVEHDR*> done;
        {
            std::lock_guard lock(device->mutex);
            if (device->quit) {
                device->deliverer.store(before);
                return MMSYSERR_INVALHANDLE;
            }
            if (device->started) {
                // What the source captured up to the stop is still read into the queued buffers.
                device->source->Stop();
                device->FillLocked();
                device->started = false;
            }
            // The buffer being filled comes back with what it holds; empty ones stay queued.
            if (!device->queue.empty() && device->headFilled > 0) {
                device->FinishHeadLocked();
            }
            done = TakeFilledLocked(*device);
        }
        Notify(*device, done);
        device->deliverer.store(before);
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInFront::Reset(HWAVEIN handle) {
    auto device = devices_.Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    {
        std::lock_guard guard(device->deliver);
        const std::thread::id before = device->deliverer.exchange(std::this_thread::get_id());
        std::vector<WAVEHDR*> done;
        {
            std::lock_guard lock(device->mutex);
            if (device->quit) {
                device->deliverer.store(before);
                return MMSYSERR_INVALHANDLE;
            }
            device->started = false;
            device->source->Stop();
            device->source->Drop();
            while (!device->queue.empty()) {
                device->FinishHeadLocked();
            }
            done = TakeFilledLocked(*device);
            device->recorded = 0;
        }
        Notify(*device, done);
        device->deliverer.store(before);
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInFront::Recorded(HWAVEIN handle, std::uint64_t& frames, WORD& blockAlign) {
    auto device = devices_.Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(device->mutex);
    if (device->quit) {
        return MMSYSERR_INVALHANDLE;
    }
    frames = device->recorded;
    blockAlign = device->format.nBlockAlign;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInFront::GetPosition(HWAVEIN handle, MMTIME& time) {
    std::uint64_t frames = 0;
    WORD block = 0;
    const MMRESULT result = Recorded(handle, frames, block);
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    if (time.wType == TIME_BYTES) {
        time.value = static_cast<DWORD>(frames * block);
    } else {
        time.wType = TIME_SAMPLES;
        time.value = static_cast<DWORD>(frames);
    }
    return MMSYSERR_NOERROR;
}

bool WaveInFront::Service(HWAVEIN handle, const std::function<void(PcmSource&)>& clock) {
    auto device = devices_.Find(handle);
    if (device == nullptr) {
        return false;
    }
    std::lock_guard guard(device->deliver);
    {
        std::lock_guard lock(device->mutex);
        if (device->quit || device->sourceClosed) {
            return true;
        }
        clock(*device->source);
    }
    DeliverFilled(*device);
    return true;
}

void WaveInFront::WakeAll() {
    for (auto& device : devices_.Snapshot()) {
        { std::lock_guard lock(device->mutex); }
        device->wake.notify_all();
    }
}

std::vector<HWAVEIN> WaveInFront::Handles() {
    return devices_.Handles();
}

bool WaveInFront::IsOpen(HWAVEIN handle) {
    return devices_.Find(handle) != nullptr;
}

int WaveInFront::QueuedCount() {
    std::size_t n = 0;
    for (auto& device : devices_.Snapshot()) {
        std::lock_guard lock(device->mutex);
        n += device->queue.size() + device->filled.size();
    }
    return static_cast<int>(n);
}

} // namespace tunefold::platform
