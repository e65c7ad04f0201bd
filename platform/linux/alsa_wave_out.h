// The real wave output: ALSA playback PCMs. Device -1 is ALSA's "default" (PulseAudio or PipeWire
// where they run), devices 0..n-1 are the playback PCMs ALSA lists, in its order.
//
// Every open device has a feeding thread that alone talks to the PCM: it writes the queued headers
// in order, returns each one (done flag, then notification) once its last frame has been played,
// and carries out pause, restart and reset for the other threads, which wait for it. A call made
// from the feeding thread itself (a notification handler writing its buffer again) runs at once.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wave_device.h"

namespace tunefold::platform {

class AlsaWaveOut : public WaveOutDevices {
public:
    static AlsaWaveOut& Instance();
    AlsaWaveOut();
    ~AlsaWaveOut() override;

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
    // The text of a result code; for the code of the last device that could not be opened, with
    // ALSA's own reason.
    MMRESULT GetErrorText(MMRESULT code, std::string& text) override;

    // The ALSA name behind a device id ("default" for -1); empty when out of range.
    std::string PcmName(int deviceId);

    struct Pcm; // one open device (defined in the source)

private:
    struct Listed {
        std::string name;
        std::string description;
    };
    void Enumerate();
    std::shared_ptr<Pcm> Find(HWAVEOUT handle);

    std::mutex mutex_;
    bool enumerated_ = false;
    std::vector<Listed> listed_;
    std::vector<std::shared_ptr<Pcm>> open_;
    HWAVEOUT nextHandle_ = 0x2000;
    MMRESULT lastOpenFailure_ = MMSYSERR_NOERROR;
    std::string lastOpenReason_;
};

} // namespace tunefold::platform
