#include "platform/wave_in_front.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/wave_header.h"

namespace tunefold::platform {

struct CaptureDevice : FrontDevice<PcmSource> {
    std::deque<WAVEHDR*> queue;  // added, not yet full
    DWORD headFilled = 0;        // bytes recorded into the head of the queue
    std::deque<WAVEHDR*> filled; // out of the queue, to be returned
    std::uint64_t recorded = 0;  // frames since open or the last reset
    bool started = false;

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
            const std::uint64_t got = stream->Read(header->lpData + headFilled, room);
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

template class WaveFrontBase<CaptureDevice, PcmCapture, PcmSource>;

namespace {
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

WaveInFront::WaveInFront(PcmCapture& backend, HWAVEIN firstHandle) : WaveFrontBase(backend, firstHandle) {}

WaveInFront::~WaveInFront() {
    EndAll();
}

void WaveInFront::DeliverFilled(Device& device) {
    const Delivering delivering(device);
    std::vector<WAVEHDR*> done;
    {
        std::lock_guard lock(device.mutex);
        if (!device.streamClosed) {
            device.FillLocked();
            done = TakeFilledLocked(device);
        }
    }
    Notify(device, WIM_DATA, done);
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
            const auto wait = d.stream->UntilAvailable(d.HeadNeedsLocked(), d.RoomLocked());
            if (wait != PcmSource::Never) {
                d.wake.wait_for(lock, wait);
                continue;
            }
        }
        d.wake.wait(lock);
    }
    d.EndOfThreadLocked();
}

UINT WaveInFront::GetNumDevs() {
    return backend_.Count();
}

MMRESULT WaveInFront::GetDevCaps(int deviceId, WAVEINCAPS& caps) {
    return backend_.Caps(deviceId, caps);
}

MMRESULT WaveInFront::Open(HWAVEIN* handle, int deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                           DWORD_PTR instance, DWORD flags) {
    return OpenDevice(handle, deviceId, format, callback, instance, flags, WIM_OPEN,
                      [this](const std::shared_ptr<Device>& device) { Run(device); });
}

MMRESULT WaveInFront::Close(HWAVEIN handle) {
    return CloseDevice(handle, WIM_CLOSE, [](Device& d) {
        if (!d.queue.empty() || !d.filled.empty()) {
            return true;
        }
        d.started = false;
        return false;
    });
}

void WaveInFront::ForgetAll() {
    ForgetAllDevices([](Device& d) {
        d.stream->Stop();
        d.stream->Drop();
        d.queue.clear();
        d.filled.clear();
    });
}

MMRESULT WaveInFront::PrepareHeader(HWAVEIN handle, WAVEHDR* header) {
    return PrepareHeaderOf(handle, header);
}

MMRESULT WaveInFront::UnprepareHeader(HWAVEIN handle, WAVEHDR* header) {
    return UnprepareHeaderOf(handle, header);
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
        if (const MMRESULT refused = CheckQueueable(*device, *header); refused != MMSYSERR_NOERROR) {
            return refused;
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
            device->stream->Start();
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
        const Delivering delivering(*device);
        std::vector<WAVEHDR*> done;
        {
            std::lock_guard lock(device->mutex);
            if (device->quit) {
                return MMSYSERR_INVALHANDLE;
            }
            if (device->started) {
                // What the source captured up to the stop is still read into the queued buffers.
                device->stream->Stop();
                device->FillLocked();
                device->started = false;
            }
            // The buffer being filled comes back with what it holds; empty ones stay queued.
            if (!device->queue.empty() && device->headFilled > 0) {
                device->FinishHeadLocked();
            }
            done = TakeFilledLocked(*device);
        }
        Notify(*device, WIM_DATA, done);
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
        const Delivering delivering(*device);
        std::vector<WAVEHDR*> done;
        {
            std::lock_guard lock(device->mutex);
            if (device->quit) {
                return MMSYSERR_INVALHANDLE;
            }
            device->started = false;
            device->stream->Stop();
            device->stream->Drop();
            while (!device->queue.empty()) {
                device->FinishHeadLocked();
            }
            done = TakeFilledLocked(*device);
            device->recorded = 0;
        }
        Notify(*device, WIM_DATA, done);
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
    if (result == MMSYSERR_NOERROR) {
        Position(frames, block, time);
    }
    return result;
}

bool WaveInFront::Service(HWAVEIN handle, const std::function<void(PcmSource&)>& clock) {
    return ServiceDevice(handle, clock, [this](Device& d) { DeliverFilled(d); });
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
