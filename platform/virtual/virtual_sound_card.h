// A deterministic wave output card for tests and headless use. It keeps every byte it played, plays
// on a clock that runs in real time, as fast as possible or only when a test advances it, and can be
// told to fail any of its calls or to misbehave the way real drivers do (missing notifications, a
// done flag that comes late, a position counter that wraps early). It is a playback backend of the
// wave output front: the front keeps the queue and returns the headers, the card's sinks play them on
// its clock; the card adds its faults, counts and recording around the front's calls. Its inputs
// (Capture(), platform/virtual/virtual_wave_in.h) are the same devices on the same clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/virtual/virtual_calls.h"
#include "platform/wave_device.h"
#include "platform/wave_out_front.h"

namespace tunefold::platform {

struct VirtualWaveFormat {
    WORD channels;
    DWORD rate;
    WORD bits;
};

struct VirtualWaveDeviceConfig {
    std::string name = "Tunefold Virtual Sound Card";
    DWORD driverVersion = 0x0100;
    // Formats the device plays; empty means every valid PCM format.
    std::vector<VirtualWaveFormat> formats;
};

struct VirtualWaveFaults {
    VirtualFault open, query, write, pause, restart, reset, position, close, devCaps;
    bool noOpenNotify = false;
    bool noCloseNotify = false;
    // The done flag is set this many milliseconds after the done notification (0: before it).
    int lateDoneFlagMs = 0;
    // The done flag is never set (the notification still comes).
    bool noDoneFlag = false;
    // Position queries are answered in bytes whatever unit was asked for.
    bool positionInBytesOnly = false;
    // The 32-bit sample counter wraps to 0 at this value (0: at 2^32).
    std::uint64_t wrapAt = 0;
};

enum class VirtualClock { Manual, RealTime, Fast };

class VirtualWaveIn;

class VirtualSoundCard : public WaveOutDevices {
public:
    VirtualSoundCard();
    ~VirtualSoundCard() override;

    // The card behind WaveOut() and WaveIn() in a virtual process.
    static VirtualSoundCard& Instance();
    // The card's inputs: the same devices, recording what a test gives them.
    VirtualWaveIn& Capture();

    // ---- configuration (not while a device is open) ----
    void SetDevices(std::vector<VirtualWaveDeviceConfig> devices);
    void SetClock(VirtualClock clock);
    VirtualClock Clock() const;
    void SetFaults(const VirtualWaveFaults& faults);
    VirtualWaveFaults Faults() const;
    // Back to one device, the manual clock, no faults and nothing recorded; a device a test left
    // open is closed without a notification.
    void ResetAll();
    // Also write everything played by the next sessions to this WAV file when a device closes ("" off).
    void RecordToFile(const std::string& path);
    // Recording in memory stops after this many bytes (a headless program may play for hours).
    void SetRecordLimit(std::size_t bytes);

    // ---- the clock, manual mode ----
    // Plays up to `frames` sample frames of what is queued on every open, unpaused device, and lets
    // `frames` frames arrive on every recording input; returns the frames played. Done and data
    // notifications are sent from the calling thread.
    std::uint64_t Advance(std::uint64_t frames);
    // Plays what is queued until nothing is (or `maxFrames` were played).
    std::uint64_t AdvanceAll(std::uint64_t maxFrames = UINT64_MAX);

    // ---- what happened ----
    // Bytes played since the last ResetAll / ClearRecording, over all sessions.
    std::vector<std::uint8_t> Played() const;
    // dwBufferLength of every header played to its end, in order.
    std::vector<DWORD> PlayedHeaderLengths() const;
    void ClearRecording();
    int OpenCount() const;   // devices open now
    int QueuedCount() const; // headers queued on all open devices
    bool IsPaused() const;   // the open device is paused (false when none)
    DWORD LastOpenFlags() const;
    int LastOpenDevice() const; // the device index the last open used (-1 maps to 0)
    // Calls made so far by name ("open", "write", "pause", ...); "written" counts the headers
    // accepted, "done" the done notifications sent.
    int CallCount(const std::string& call) const;

    // ---- WaveOutDevices ----
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

private:
    friend class VirtualWaveIn;
    class Playback;
    class Sink;
    // What the card adds to one open device's notifications: the suppressed ones, the counts.
    struct Session {
        VirtualSoundCard* card;
        WaveCallback callback;
        DWORD_PTR instance;
    };
    static void Notified(std::uintptr_t handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                         DWORD_PTR param2);
    // Checks the handle, then the fault of `call`.
    MMRESULT Admit(HWAVEOUT handle, VirtualFault VirtualWaveFaults::*fault, const char* call);
    bool Plays(int device, const WAVEFORMATEX* format) const;
    // Device caps without faults or counts, with the standard formats the device takes.
    MMRESULT Caps(int deviceId, WAVEOUTCAPS& caps);
    // MMSYSERR_BADDEVICEID, WAVERR_BADFORMAT or MMSYSERR_NOERROR.
    MMRESULT Usable(int deviceId, const WAVEFORMATEX* format);
    void RecordLocked(const std::uint8_t* data, std::size_t bytes);
    void WriteWavFile(const WAVEFORMATEX& format, const std::vector<std::uint8_t>& recorded);

    mutable std::mutex mutex_;
    std::vector<VirtualWaveDeviceConfig> devices_;
    VirtualWaveFaults faults_;
    std::atomic<VirtualClock> clock_{VirtualClock::Manual};
    // What was played, in blocks that are filled and never moved: one growing vector would copy
    // everything recorded so far each time it grows, a cost no real card has.
    std::vector<std::vector<std::uint8_t>> played_;
    std::size_t playedBytes_ = 0;
    std::size_t recordLimit_ = std::size_t{256} << 20;
    std::vector<DWORD> playedLengths_;
    VirtualCallCounts calls_;
    std::string wavPath_;
    DWORD lastFlags_ = 0;
    int lastDevice_ = -1;
    std::map<HWAVEOUT, std::unique_ptr<Session>> sessions_;

    std::unique_ptr<VirtualWaveIn> capture_;
    std::unique_ptr<Playback> playback_;
    std::unique_ptr<WaveOutFront> front_; // last: its devices go before everything they use
};

} // namespace tunefold::platform
