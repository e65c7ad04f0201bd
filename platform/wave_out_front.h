// The wave output device API written once, over small playback backends. The front owns what the
// API promises: handles, the header states and their checks, the queue, the order buffers come
// back in, the notification thread of each open device, the position, pause, reset and close. It
// is the only code that changes a header's flags (through platform/wave_header.h). A backend only
// lists its devices and opens PCM sinks on them.
//
// Each open device has a thread of its own that feeds the queued headers to the sink, returns each
// header (done flag, then notification) once the sink has played its last frame, and waits on a
// condition variable (or, for room in the sink, on the sink) in between. Writes and restarts feed
// the sink at once from the calling thread, so a sink whose clock a caller moves (the virtual card's
// manual clock) holds the audio as soon as Write returns.
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

// One opened playback stream. The front calls it under the device's lock only (WaitForRoom aside),
// so a sink needs no lock of its own for its state.
class PcmSink {
public:
    virtual ~PcmSink() = default;
    static constexpr std::chrono::microseconds Never = std::chrono::microseconds::max();

    struct Taken {
        std::uint64_t bytes = 0;  // of what was offered
        std::uint64_t frames = 0; // frames that count as written (heard later)
    };
    // Takes what it can now without blocking of `bytes`: whole frames, or at the end of a header one
    // partial frame, which the sink plays padded (one frame) or drops (no frame) as it sees fit.
    // The memory stays valid until the frames were heard or the sink was dropped.
    virtual Taken Write(const char* data, std::uint64_t bytes) = 0;
    // Frames written that have not been heard yet.
    virtual std::uint64_t Delay() = 0;
    // Holds (on) or resumes the audio; false when the sink cannot hold it: what it has plays out.
    virtual bool Pause(bool on) = 0;
    // Forgets everything written; the sink is ready for more and not paused.
    virtual void Drop() = 0;
    // Everything queued has been written: keep the stream going until it has been heard. Returns
    // when to call it again at the latest (Never: no need).
    virtual std::chrono::microseconds Drain() { return Never; }
    // Called without the device's lock when the sink took nothing: waits up to `bound` for room.
    virtual void WaitForRoom(std::chrono::milliseconds bound) { (void)bound; }
    // How long until `frames` more frames may have been heard, with `ahead` frames written and not
    // heard in all; Never when only a caller moves the sink's clock (see WaveOutFront::Service).
    virtual std::chrono::microseconds UntilHeard(std::uint64_t frames, std::uint64_t ahead) = 0;
    // When the done flag of a returned header is set: 0 before its notification, a delay in ms
    // after it, negative never (a misbehaving driver, simulated).
    virtual int DoneFlagDelayMs() { return 0; }
    virtual void Close() = 0;
};

class PcmPlayback {
public:
    virtual ~PcmPlayback() = default;
    virtual UINT Count() = 0;
    virtual MMRESULT Caps(int deviceId, WAVEOUTCAPS& caps) = 0;
    // Opens device `deviceId` for `format`; with `mode.queryOnly` only checks that it would.
    virtual MMRESULT Open(int deviceId, const WAVEFORMATEX& format, PcmOpenMode mode,
                          std::unique_ptr<PcmSink>& sink) = 0;
};

struct PlaybackDevice; // one open device (defined in the source)
extern template class WaveFrontBase<PlaybackDevice, PcmPlayback, PcmSink>;

class WaveOutFront : public WaveOutDevices, public WaveFrontBase<PlaybackDevice, PcmPlayback, PcmSink> {
public:
    WaveOutFront(PcmPlayback& backend, HWAVEOUT firstHandle);
    ~WaveOutFront() override;

    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(int deviceId, WAVEOUTCAPS& caps) override;
    MMRESULT Open(HWAVEOUT* handle, int deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                  DWORD_PTR instance, DWORD flags) override;
    MMRESULT Close(HWAVEOUT handle) override;
    MMRESULT PrepareHeader(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT Write(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT Pause(HWAVEOUT handle) override;
    MMRESULT Restart(HWAVEOUT handle) override;
    MMRESULT Reset(HWAVEOUT handle) override;
    MMRESULT GetPosition(HWAVEOUT handle, MMTIME& time) override;

    // For a sink whose clock a caller moves: runs `clock` on the device's sink under its lock, then
    // returns (and notifies, from this thread) every header heard. False for an unknown handle.
    bool Service(HWAVEOUT handle, const std::function<void(PcmSink&)>& clock);
    // Closes every open device without a notification and drops every pending late done flag,
    // leaving the headers as they are: a test fixture starting afresh after one that left a device
    // open.
    void ForgetAll();

    // ---- inspection ----
    int QueuedCount();    // headers queued (written, not returned) on all open devices
    bool FirstIsPaused(); // the first open device is paused
    // Frames heard since open or the last reset, 64 bits, and the block size.
    MMRESULT Heard(HWAVEOUT handle, std::uint64_t& frames, WORD& blockAlign);

    using Device = PlaybackDevice;

private:
    struct LateFlag {
        std::chrono::steady_clock::time_point due;
        WAVEHDR* header;
    };
    void Run(const std::shared_ptr<Device>& device);
    // Returns the headers heard so far (done flag, then notification) under the delivery lock.
    void DeliverHeard(Device& device);
    // Out of the queue; the done flag now, `late` ms later, or (negative) never.
    void Finish(WAVEHDR* header, int late);
    void ForgetLateFlag(const WAVEHDR* header);
    void LateFlagLoop();

    std::mutex lateMutex_;
    std::condition_variable lateWake_;
    std::deque<LateFlag> lateFlags_;
    std::thread lateThread_;
    bool lateQuit_ = false;
};

} // namespace tunefold::platform
