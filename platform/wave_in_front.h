// The wave input device API written once, over small capture backends; the input twin of
// WaveOutFront. The front owns handles, the header states and their checks, the queue of added
// buffers, the order they come back in, the notification thread of each open device, the position,
// start, stop, reset and close; it changes a header's flags only through platform/wave_header.h.
// A backend lists its devices and opens PCM sources on them.
//
// Each open device has a thread of its own that reads what the source has captured into the
// buffer at the head of the queue and returns each buffer (done flag, then WIM_DATA) when it is
// full. A caller that moves the source's clock (the virtual card's manual clock) gets the full
// buffers returned on its own thread, as the output front does for played ones.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/wave_device.h"
#include "platform/wave_front_base.h"

namespace tunefold::platform {

// One opened capture stream. The front calls it under the device's lock only.
class PcmSource {
public:
    virtual ~PcmSource() = default;
    // Capturing begins afresh (Start: what an earlier stop left unread is gone) or ends (Stop:
    // what was captured up to it stays readable until Drop or the next Start).
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // Copies up to `bytes` (whole frames) of what has been captured, without blocking; returns the
    // bytes copied.
    virtual std::uint64_t Read(char* data, std::uint64_t bytes) = 0;
    // Frames captured and not read yet.
    virtual std::uint64_t Available() = 0;
    // Frames the device holds that are not readable yet (its latency).
    virtual std::uint64_t Delay() { return 0; }
    // Forgets what was captured and not read.
    virtual void Drop() = 0;
    // How long until `frames` more frames may be readable, with `room` frames of buffers queued
    // in all (a source may wait for several buffers' worth, as a card interrupts once a period);
    // Never when only a caller moves the source's clock (see WaveInFront::Service).
    static constexpr std::chrono::microseconds Never = std::chrono::microseconds::max();
    virtual std::chrono::microseconds UntilAvailable(std::uint64_t frames, std::uint64_t room) = 0;
    virtual void Close() = 0;
};

class PcmCapture {
public:
    virtual ~PcmCapture() = default;
    virtual UINT Count() = 0;
    virtual MMRESULT Caps(int deviceId, WAVEINCAPS& caps) = 0;
    // Opens device `deviceId` for `format`; with `mode.queryOnly` only checks that it would.
    virtual MMRESULT Open(int deviceId, const WAVEFORMATEX& format, PcmOpenMode mode,
                          std::unique_ptr<PcmSource>& source) = 0;
};

struct CaptureDevice; // one open device (defined in the source)
extern template class WaveFrontBase<CaptureDevice, PcmCapture, PcmSource>;

class WaveInFront : public WaveInDevices, public WaveFrontBase<CaptureDevice, PcmCapture, PcmSource> {
public:
    WaveInFront(PcmCapture& backend, HWAVEIN firstHandle);
    ~WaveInFront() override;

    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(int deviceId, WAVEINCAPS& caps) override;
    MMRESULT Open(HWAVEIN* handle, int deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                  DWORD_PTR instance, DWORD flags) override;
    // Fails with WAVERR_STILLPLAYING while buffers are queued.
    MMRESULT Close(HWAVEIN handle) override;
    MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* header) override;
    MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* header) override;
    MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* header) override;
    MMRESULT Start(HWAVEIN handle) override;
    MMRESULT Stop(HWAVEIN handle) override;
    MMRESULT Reset(HWAVEIN handle) override;
    MMRESULT GetPosition(HWAVEIN handle, MMTIME& time) override;

    // For a source whose clock a caller moves: runs `clock` on the device's source under its lock,
    // then returns (and notifies, from this thread) every buffer filled. False for an unknown handle.
    bool Service(HWAVEIN handle, const std::function<void(PcmSource&)>& clock);
    // Closes every open device without a notification, leaving the headers as they are.
    void ForgetAll();

    // ---- inspection ----
    int QueuedCount(); // buffers added and not returned, on all open devices
    // Frames recorded into buffers since open or the last reset, and the block size.
    MMRESULT Recorded(HWAVEIN handle, std::uint64_t& frames, WORD& blockAlign);

    using Device = CaptureDevice;

private:
    void Run(const std::shared_ptr<Device>& device);
    // Returns the filled buffers (done flag, then notification) under the delivery lock.
    void DeliverFilled(Device& device);
};

} // namespace tunefold::platform
