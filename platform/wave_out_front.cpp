#include "platform/wave_out_front.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/thread_priority.h"
#include "platform/wave_header.h"

namespace tunefold::platform {

struct PlaybackDevice : FrontDevice<PcmSink> {
    struct Written {
        WAVEHDR* header;
        std::uint64_t endFrame; // frames written when its last byte went to the sink
    };
    std::deque<WAVEHDR*> queue; // not yet completely written to the sink
    DWORD headOffset = 0;
    bool headLate = false;       // WOM_LATE went out for the head of the queue
    std::deque<Written> pending; // written, not yet heard
    std::uint64_t written = 0;   // frames since open or the last reset
    std::uint64_t heard = 0;     // never falls between resets
    bool paused = false;
    bool sinkPaused = false; // the sink holds its audio

    void UpdateHeardLocked() {
        if (sinkPaused || streamClosed) {
            return;
        }
        const std::uint64_t delay = std::min(stream->Delay(), written);
        heard = std::max(heard, written - delay);
    }
    bool HeardSomethingLocked() const { return !pending.empty() && pending.front().endFrame <= heard; }
    // Everything queued was written and, as far as the sink's delay tells, heard: what the sink
    // still holds is silence, or the last frames of a delay that a sound server estimated early.
    // Such a sink is neither held nor dropped; it plays out.
    bool AllHeardLocked() {
        UpdateHeardLocked();
        return queue.empty() && heard >= written;
    }

    // Writes queued headers to the sink while it takes them; false when it is full.
    bool FeedLocked() {
        const DWORD block = std::max<DWORD>(format.nBlockAlign, 1);
        while (!queue.empty()) {
            WAVEHDR* header = queue.front();
            if (lateWork && !headLate && callback != nullptr) {
                // The caller's last word on the data, just before it goes out.
                headLate = true;
                callback(handle, WOM_LATE, instance, reinterpret_cast<DWORD_PTR>(header), 0);
            }
            if (headOffset < header->dwBufferLength) {
                const DWORD left = header->dwBufferLength - headOffset;
                const DWORD offer = left >= block ? left / block * block : left;
                const PcmSink::Taken taken = stream->Write(header->lpData + headOffset, offer);
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
            headLate = false;
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

template class WaveFrontBase<PlaybackDevice, PcmPlayback, PcmSink>;

WaveOutFront::WaveOutFront(PcmPlayback& backend, HWAVEOUT firstHandle)
    : WaveFrontBase(backend, firstHandle) {}

WaveOutFront::~WaveOutFront() {
    EndAll();
    {
        std::lock_guard lock(lateMutex_);
        lateQuit_ = true;
    }
    lateWake_.notify_all();
    if (lateThread_.joinable()) {
        lateThread_.join();
    }
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
        lateThread_ = std::thread([this] {
            NameCurrentThread("tf-late-flags");
            LateFlagLoop();
        });
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

void WaveOutFront::DeliverHeard(Device& device) {
    const Delivering delivering(device);
    std::vector<WAVEHDR*> done;
    {
        std::lock_guard lock(device.mutex);
        if (device.streamClosed) {
            return;
        }
        device.UpdateHeardLocked();
        const int late = device.HeardSomethingLocked() ? device.stream->DoneFlagDelayMs() : 0;
        while (device.HeardSomethingLocked()) {
            WAVEHDR* header = device.pending.front().header;
            device.pending.pop_front();
            Finish(header, late);
            done.push_back(header);
        }
    }
    Notify(device, WOM_DONE, done);
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
    const auto due = d.stream->UntilHeard(
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
                d.stream->WaitForRoom(bound);
                lock.lock();
            }
            continue;
        }
        if (!d.pending.empty() && !d.sinkPaused) {
            // Everything is written (or a sink that cannot pause plays out what it holds): wait
            // until the oldest header may have been heard.
            const auto again = d.paused ? PcmSink::Never : d.stream->Drain();
            const auto wait = std::min(
                again, d.stream->UntilHeard(d.pending.front().endFrame - d.heard, d.written - d.heard));
            if (wait != PcmSink::Never) {
                d.wake.wait_for(lock, wait);
                continue;
            }
        }
        d.wake.wait(lock);
    }
    d.EndOfThreadLocked();
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
    return OpenDevice(handle, deviceId, format, callback, instance, flags, WOM_OPEN,
                      [this](const std::shared_ptr<Device>& device) { Run(device); });
}

MMRESULT WaveOutFront::Close(HWAVEOUT handle) {
    return CloseDevice(handle, WOM_CLOSE, [](Device& d) { return !d.queue.empty() || !d.pending.empty(); });
}

void WaveOutFront::ForgetAll() {
    ForgetAllDevices([](Device& d) {
        d.stream->Drop();
        d.queue.clear();
        d.headOffset = 0;
        d.headLate = false;
        d.pending.clear();
    });
    std::lock_guard lock(lateMutex_);
    lateFlags_.clear();
}

MMRESULT WaveOutFront::PrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    return PrepareHeaderOf(handle, header);
}

MMRESULT WaveOutFront::UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    return UnprepareHeaderOf(handle, header, [this](const WAVEHDR* h) { ForgetLateFlag(h); });
}

MMRESULT WaveOutFront::Write(HWAVEOUT handle, WAVEHDR* header) {
    auto device = devices_.Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    bool wake = false;
    {
        std::lock_guard lock(device->mutex);
        if (const MMRESULT refused = CheckQueueable(*device, *header); refused != MMSYSERR_NOERROR) {
            return refused;
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
    auto device = devices_.Find(handle);
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
    device->paused = true;
    device->sinkPaused = !device->AllHeardLocked() && device->stream->Pause(true);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::Restart(HWAVEOUT handle) {
    auto device = devices_.Find(handle);
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
            device->stream->Pause(false);
        }
        device->FeedLocked();
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::Reset(HWAVEOUT handle) {
    auto device = devices_.Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    {
        const Delivering delivering(*device);
        std::vector<WAVEHDR*> done;
        {
            std::lock_guard lock(device->mutex);
            if (device->quit) {
                return MMSYSERR_INVALHANDLE;
            }
            if (device->sinkPaused || !device->AllHeardLocked()) {
                device->stream->Drop();
            }
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
            device->headLate = false;
            device->written = 0;
            device->heard = 0;
        }
        Notify(*device, WOM_DONE, done);
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutFront::Heard(HWAVEOUT handle, std::uint64_t& frames, WORD& blockAlign) {
    auto device = devices_.Find(handle);
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
    if (result == MMSYSERR_NOERROR) {
        Position(frames, block, time);
    }
    return result;
}

bool WaveOutFront::Service(HWAVEOUT handle, const std::function<void(PcmSink&)>& clock) {
    return ServiceDevice(handle, clock, [this](Device& d) { DeliverHeard(d); });
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
