#include "platform/wave_out_front.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/wave_header.h"

namespace tunefold::platform {

struct WaveOutFront::Device {
    HWAVEOUT handle = 0;
    WAVEFORMATEX format{};
    WaveCallback callback = nullptr;
    DWORD_PTR instance = 0;
    std::unique_ptr<PcmSink> sink;

    std::thread thread;
    std::atomic<std::thread::id> threadId{};

    // Guards everything below and every call on the sink; never held while a notification runs.
    std::mutex mutex;
    std::condition_variable wake;
    // Taken before `mutex` by whoever returns headers, and held while their notifications go
    // out: the thread, a reset and a caller that moves the clock never interleave them.
    std::recursive_mutex deliver;
    std::atomic<std::thread::id> deliverer{};

    struct Written {
        WAVEHDR* header;
        std::uint64_t endFrame; // frames written when its last byte went to the sink
    };
    std::deque<WAVEHDR*> queue; // not yet completely written to the sink
    DWORD headOffset = 0;
    std::deque<Written> pending; // written, not yet heard
    std::uint64_t written = 0;   // frames since open or the last reset
    std::uint64_t heard = 0;     // never falls between resets
    bool paused = false;
    bool sinkPaused = false; // the sink holds its audio
    bool quit = false;
    bool sinkClosed = false;
    bool closeByThread = false; // closed from a thread that could not wait for this device's

    void UpdateHeardLocked() {
        if (sinkPaused || sinkClosed) {
            return;
        }
        const std::uint64_t delay = std::min(sink->Delay(), written);
        heard = std::max(heard, written - delay);
    }
    bool HeardSomethingLocked() const { return !pending.empty() && pending.front().endFrame <= heard; }

    // Writes queued headers to the sink while it takes them; false when it is full.
    bool FeedLocked() {
        const DWORD block = std::max<DWORD>(format.nBlockAlign, 1);
        while (!queue.empty()) {
            WAVEHDR* header = queue.front();
            if (headOffset < header->dwBufferLength) {
                const DWORD left = header->dwBufferLength - headOffset;
                const DWORD offer = left >= block ? left / block * block : left;
                const PcmSink::Taken taken = sink->Write(header->lpData + headOffset, offer);
                if (taken.bytes == 0) {
                    return false;
                }
                headOffset += static_cast<DWORD>(taken.bytes);
                written += taken.frames;
                if (headOffset < header->dwBufferLength) {
                    continue;
                }
            }
            queue.pop_front();
            headOffset = 0;
            pending.push_back({header, written});
        }
        return true;
    }
    void FeedUnlessPausedLocked() {
        if (!paused) {
            FeedLocked();
        }
    }
};

WaveOutFront::WaveOutFront(PcmPlayback& backend, HWAVEOUT firstHandle)
    : backend_(backend), devices_(firstHandle) {}

WaveOutFront::~WaveOutFront() {
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
        if (!device->sinkClosed) {
            device->sinkClosed = true;
            device->sink->Close();
        }
    }
    graves_.JoinAll();
    {
        std::lock_guard lock(lateMutex_);
        lateQuit_ = true;
    }
    lateWake_.notify_all();
    if (lateThread_.joinable()) {
        lateThread_.join();
    }
}

std::shared_ptr<WaveOutFront::Device> WaveOutFront::Find(HWAVEOUT handle) {
    return devices_.Find(handle);
}

// ---- returning headers ----

void WaveOutFront::Finish(WAVEHDR* header, int late) {
    if (late == 0) {
        MarkHeaderDone(*header);
        return;
    }
    ChangeHeaderFlags(*header, WHDR_INQUEUE, 0);
    if (late < 0) {
        return;
    }
    std::lock_guard lock(lateMutex_);
    lateFlags_.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(late), header});
    if (!lateThread_.joinable()) {
        lateThread_ = std::thread([this] { LateFlagLoop(); });
    }
    lateWake_.notify_all();
}

void WaveOutFront::ForgetLateFlag(const WAVEHDR* header) {
    // The header is written again or its memory may go away: no late flag may touch it any more.
    std::lock_guard lock(lateMutex_);
    std::erase_if(lateFlags_, [header](const LateFlag& f) { return f.header == header; });
}

void WaveOutFront::LateFlagLoop() {
    std::unique_lock lock(lateMutex_);
    while (!lateQuit_) {
        if (lateFlags_.empty()) {
            lateWake_.wait(lock);
            continue;
        }
        const auto due = lateFlags_.front().due;
        if (std::chrono::steady_clock::now() < due) {
            lateWake_.wait_until(lock, due);
            continue;
        }
        MarkHeaderDone(*lateFlags_.front().header);
        lateFlags_.pop_front();
    }
}

namespace {
void Notify(const WaveOutFront::Device& device, const std::vector<WAVEHDR*>& done) {
    if (device.callback == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < done.size(); ++i) {
        device.callback(device.handle, WOM_DONE, device.instance, reinterpret_cast<DWORD_PTR>(done[i]),
                        static_cast<DWORD_PTR>(done.size() - 1 - i));
    }
}
} // namespace

void WaveOutFront::DeliverHeard(Device& device) {
    std::lock_guard guard(device.deliver);
    const std::thread::id before = device.deliverer.exchange(std::this_thread::get_id());
    std::vector<WAVEHDR*> done;
    {
        std::lock_guard lock(device.mutex);
        if (device.sinkClosed) {
            device.deliverer.store(before);
            return;
        }
        device.UpdateHeardLocked();
        const int late = device.HeardSomethingLocked() ? device.sink->DoneFlagDelayMs() : 0;
        while (device.HeardSomethingLocked()) {
            WAVEHDR* header = device.pending.front().header;
            device.pending.pop_front();
            Finish(header, late);
            done.push_back(header);
        }
    }
    Notify(device, done);
    device.deliverer.store(before);
}

// ---- the device thread ----

namespace {
// While the sink is full, the thread also wakes when the oldest written header may have been heard,
// so headers come back on time; the sink's answer batches them, which saves a wake-up per header.
std::chrono::milliseconds RoomWaitBound(const WaveOutFront::Device& d) {
    constexpr auto longest = std::chrono::milliseconds(100);
    if (d.pending.empty()) {
        return longest;
    }
    const auto due = d.sink->UntilHeard(
        d.pending.front().endFrame - std::min(d.heard, d.pending.front().endFrame), d.written - d.heard);
    if (due == PcmSink::Never) {
        return longest;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due);
    return std::clamp(ms, std::chrono::milliseconds(1), longest);
}
} // namespace

void WaveOutFront::Run(const std::shared_ptr<Device>& device) {
    Device& d = *device;
    std::unique_lock lock(d.mutex);
    while (!d.quit) {
        d.UpdateHeardLocked();
        if (d.HeardSomethingLocked()) {
            lock.unlock();
            DeliverHeard(d);
            lock.lock();
            continue;
        }
        if (!d.paused && !d.queue.empty()) {
            if (!d.FeedLocked()) {
                const auto bound = RoomWaitBound(d);
                lock.unlock();
                d.sink->WaitForRoom(bound);
                lock.lock();
            }
            continue;
        }
        if (!d.pending.empty() && !d.sinkPaused) {
            // Everything is written (or a sink that cannot pause plays out what it holds): wait
            // until the oldest header may have been heard.
            if (!d.paused) {
                d.sink->Drain();
            }
            const auto wait = d.sink->UntilHeard(d.pending.front().endFrame - d.heard, d.written - d.heard);
            if (wait != PcmSink::Never) {
                d.wake.wait_for(lock, wait);
                continue;
            }
        }
        d.wake.wait(lock);
    }
    // Closed from a thread that could not wait for this one (the sink may have been in use here,
    // outside the lock): the sink is closed where nothing uses it any more.
    if (d.closeByThread && !d.sinkClosed) {
        d.sinkClosed = true;
        d.sink->Close();
    }
}

// ---- the API ----

UINT WaveOutFront::GetNumDevs() {
    return backend_.Count();
}

MMRESULT WaveOutFront::GetDevCaps(int deviceId, WAVEOUTCAPS& caps) {
    return backend_.Caps(deviceId, caps);
}

MMRESULT WaveOutFront::Open(HWAVEOUT* handle, int deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                            DWORD_PTR instance, DWORD flags) {
    graves_.JoinAll();
    if (format == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    std::unique_ptr<PcmSink> sink;
    const MMRESULT opened = backend_.Open(deviceId, *format, query, sink);
    if (opened != MMSYSERR_NOERROR || query) {
        return opened;
    }
    if (handle == nullptr || sink == nullptr) {
        if (sink != nullptr) {
            sink->Close();
        }
        return MMSYSERR_INVALPARAM;
    }
    auto device = std::make_shared<Device>();
    device->sink = std::move(sink);
    std::memcpy(&device->format, format, sizeof(WAVEFORMATEX));
    device->format.cbSize = 0;
    device->callback = callback;
    device->instance = instance;
    devices_.Add(device);
    // The thread shares the device: a close that cannot wait for it leaves the rest to it.
    device->thread = std::thread([this, device] { Run(device); });
    device->threadId.store(device->thread.get_id());
    *handle = device->handle;
    if (callback != nullptr) {
        callback(device->handle, WOM_OPEN, instance, 0, 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::Close(HWAVEOUT handle) {
    auto device = Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    // From inside one of the device's own notifications (on its thread, or on a thread that
    // returns its headers and holds the delivery lock the device thread may be waiting for) the
    // thread cannot be waited for here.
    const auto self = std::this_thread::get_id();
    const bool onItsThread = self == device->threadId;
    const bool cannotWait = !onItsThread && device->deliverer.load() == self;
    {
        std::lock_guard lock(device->mutex);
        if (!device->queue.empty() || !device->pending.empty()) {
            return WAVERR_STILLPLAYING;
        }
        device->quit = true;
        device->closeByThread = cannotWait;
    }
    devices_.Remove(device);
    EndDevice(device, cannotWait, onItsThread);
    if (device->callback != nullptr) {
        std::lock_guard guard(device->deliver);
        device->callback(handle, WOM_CLOSE, device->instance, 0, 0);
    }
    return MMSYSERR_NOERROR;
}

void WaveOutFront::EndDevice(const std::shared_ptr<Device>& device, bool cannotWait, bool onItsThread) {
    device->wake.notify_all();
    if (onItsThread || cannotWait) {
        graves_.Bury(std::move(device->thread));
    } else {
        device->thread.join();
        graves_.JoinAll();
    }
    std::lock_guard lock(device->mutex);
    if (!cannotWait && !device->sinkClosed) {
        device->sinkClosed = true;
        device->sink->Close();
    }
}

void WaveOutFront::ForgetAll() {
    const auto self = std::this_thread::get_id();
    for (auto& device : devices_.TakeAll()) {
        const bool onItsThread = self == device->threadId;
        const bool cannotWait = !onItsThread && device->deliverer.load() == self;
        {
            std::lock_guard lock(device->mutex);
            device->sink->Drop();
            device->queue.clear();
            device->pending.clear();
            device->quit = true;
            device->closeByThread = cannotWait;
        }
        EndDevice(device, cannotWait, onItsThread);
    }
    std::lock_guard lock(lateMutex_);
    lateFlags_.clear();
}

MMRESULT WaveOutFront::PrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (Find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    ChangeHeaderFlags(*header, 0, WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    auto device = Find(handle);
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
    ForgetLateFlag(header);
    ChangeHeaderFlags(*header, WHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::Write(HWAVEOUT handle, WAVEHDR* header) {
    auto device = Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
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
        ForgetLateFlag(header);
        ChangeHeaderFlags(*header, WHDR_DONE, WHDR_INQUEUE);
        // Behind other headers the new one changes nothing the thread waits for, unless the sink
        // is full and the thread is to write it.
        wake = device->pending.empty() && device->queue.empty();
        device->queue.push_back(header);
        device->FeedUnlessPausedLocked();
        wake = wake || (!device->paused && !device->queue.empty());
    }
    if (wake) {
        device->wake.notify_all();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::Pause(HWAVEOUT handle) {
    auto device = Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(device->mutex);
    if (device->quit) {
        return MMSYSERR_INVALHANDLE;
    }
    if (device->paused) {
        return MMSYSERR_NOERROR;
    }
    device->UpdateHeardLocked();
    device->paused = true;
    device->sinkPaused = device->sink->Pause(true);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::Restart(HWAVEOUT handle) {
    auto device = Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    {
        std::lock_guard lock(device->mutex);
        if (device->quit) {
            return MMSYSERR_INVALHANDLE;
        }
        device->paused = false;
        if (device->sinkPaused) {
            device->sinkPaused = false;
            device->sink->Pause(false);
        }
        device->FeedLocked();
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::Reset(HWAVEOUT handle) {
    auto device = Find(handle);
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
            device->sink->Drop();
            device->sinkPaused = false;
            for (const auto& w : device->pending) {
                done.push_back(w.header);
            }
            for (WAVEHDR* header : device->queue) {
                done.push_back(header);
            }
            for (WAVEHDR* header : done) {
                MarkHeaderDone(*header);
            }
            device->pending.clear();
            device->queue.clear();
            device->headOffset = 0;
            device->written = 0;
            device->heard = 0;
        }
        Notify(*device, done);
        device->deliverer.store(before);
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::Heard(HWAVEOUT handle, std::uint64_t& frames, WORD& blockAlign) {
    auto device = Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(device->mutex);
    if (device->quit) {
        return MMSYSERR_INVALHANDLE;
    }
    device->UpdateHeardLocked();
    frames = device->heard;
    blockAlign = device->format.nBlockAlign;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::GetPosition(HWAVEOUT handle, MMTIME& time) {
    std::uint64_t frames = 0;
    WORD block = 0;
    const MMRESULT result = Heard(handle, frames, block);
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

bool WaveOutFront::Service(HWAVEOUT handle, const std::function<void(PcmSink&)>& clock) {
    auto device = Find(handle);
    if (device == nullptr) {
        return false;
    }
    std::lock_guard guard(device->deliver);
    {
        std::lock_guard lock(device->mutex);
        if (device->quit || device->sinkClosed) {
            return true;
        }
        clock(*device->sink);
    }
    DeliverHeard(*device);
    return true;
}

void WaveOutFront::WakeAll() {
    for (auto& device : devices_.Snapshot()) {
        { std::lock_guard lock(device->mutex); }
        device->wake.notify_all();
    }
}

std::vector<HWAVEOUT> WaveOutFront::Handles() {
    return devices_.Handles();
}

bool WaveOutFront::IsOpen(HWAVEOUT handle) {
    return Find(handle) != nullptr;
}

int WaveOutFront::QueuedCount() {
    std::size_t n = 0;
    for (auto& device : devices_.Snapshot()) {
        std::lock_guard lock(device->mutex);
        n += device->queue.size() + device->pending.size();
    }
    return static_cast<int>(n);
}

bool WaveOutFront::FirstIsPaused() {
    const auto devices = devices_.Snapshot();
    if (devices.empty()) {
        return false;
    }
    const std::shared_ptr<Device> first = devices.front();
    std::lock_guard lock(first->mutex);
    return first->paused;
}

} // namespace tunefold::platform
