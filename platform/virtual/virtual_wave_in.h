// The virtual card's inputs, for tests and headless use: the card's devices (same numbers, names and
// formats as its outputs) recording a signal a test supplies, a buffer or a generator, on the
// card's clock (a manual Advance moves the inputs and the outputs together). Every call can be made
// to fail, and the open, close and data notifications can go missing. It is a capture backend of
// the wave input front, as the card's outputs are of the output front.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/virtual/virtual_sound_card.h"
#include "platform/wave_in_front.h"

namespace tunefold::platform {

// Fills `bytes` bytes of the recording from byte `first` of the stream (counted from the device's
// open) on.
using VirtualSignal = std::function<void(std::uint64_t first, std::uint8_t* out, std::size_t bytes)>;
// A signal of these bytes, then silence of the format's kind (0x80 for 8 bits, else 0).
VirtualSignal VirtualSignalFromBytes(std::vector<std::uint8_t> bytes, WORD bitsPerSample);

struct VirtualWaveInFaults {
    VirtualFault open, query, add, start, stop, reset, position, close, devCaps;
    bool noOpenNotify = false;
    bool noCloseNotify = false;
    bool noDataNotify = false; // the buffer comes back (done flag) without WIM_DATA
    bool positionInBytesOnly = false;
    std::uint64_t wrapAt = 0; // the 32-bit position counter wraps to 0 here (0: at 2^32)
};

class VirtualWaveIn : public WaveInDevices {
public:
    explicit VirtualWaveIn(VirtualSoundCard& card);
    ~VirtualWaveIn() override;

    // ---- configuration ----
    // What device `deviceId` (-1: device 0) records from its next open on; without one, silence.
    void SetSignal(int deviceId, VirtualSignal signal);
    void SetFaults(const VirtualWaveInFaults& faults);
    VirtualWaveInFaults Faults() const;
    // Frames one device keeps captured while no buffer takes them; older ones are lost beyond it.
    void SetHoldLimit(std::uint64_t frames);
    // No signals, no faults, no counts; a device a test left open is closed without notification.
    void ResetAll();

    // ---- what happened ----
    int OpenCount();
    int QueuedCount();
    // Calls made so far by name ("open", "add", "start", "stop", "reset", ...); "data" counts the
    // data notifications sent.
    int CallCount(const std::string& call) const;
    // Frames captured while no buffer was there to take them.
    std::uint64_t LostFrames() const;

    // ---- WaveInDevices ----
    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(int deviceId, WAVEINCAPS& caps) override;
    MMRESULT Open(HWAVEIN* handle, int deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                  DWORD_PTR instance, DWORD flags) override;
    MMRESULT Close(HWAVEIN handle) override;
    MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* header) override;
    MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* header) override;
    MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* header) override;
    MMRESULT Start(HWAVEIN handle) override;
    MMRESULT Stop(HWAVEIN handle) override;
    MMRESULT Reset(HWAVEIN handle) override;
    MMRESULT GetPosition(HWAVEIN handle, MMTIME& time) override;

private:
    friend class VirtualSoundCard;
    class Capture;
    class Source;
    struct Session {
        VirtualWaveIn* owner;
        WaveCallback callback;
        DWORD_PTR instance;
    };
    // The card's manual clock: `frames` more frames arrive on every started device.
    void Advance(std::uint64_t frames);
    void WakeAll();
    static void Notified(std::uintptr_t handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                         DWORD_PTR param2);
    MMRESULT Admit(HWAVEIN handle, VirtualFault VirtualWaveInFaults::*fault, const char* call);

    VirtualSoundCard& card_;
    mutable std::mutex mutex_;
    VirtualWaveInFaults faults_;
    std::map<int, VirtualSignal> signals_;
    VirtualCallCounts calls_;
    std::map<HWAVEIN, std::unique_ptr<Session>> sessions_;
    std::uint64_t holdLimit_ = std::uint64_t{1} << 20;
    std::shared_ptr<std::atomic<std::uint64_t>> lost_;

    std::unique_ptr<Capture> capture_;
    std::unique_ptr<WaveInFront> front_; // last: its devices go before everything they use
};

} // namespace tunefold::platform
