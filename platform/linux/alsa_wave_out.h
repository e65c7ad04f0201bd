// The real wave output: ALSA playback PCMs behind the wave device front. Device -1 is ALSA's
// "default" (PulseAudio or PipeWire where they run), devices 0..n-1 are the playback PCMs ALSA
// lists, in its order.
#pragma once

#include <string>

#include "platform/linux/alsa_pcm.h"
#include "platform/wave_out_front.h"

namespace tunefold::platform {

// The ALSA backend: the device list and PCM sinks opened non-blocking on it.
class AlsaPlayback : public PcmPlayback {
public:
    UINT Count() override;
    MMRESULT Caps(int deviceId, WAVEOUTCAPS& caps) override;
    MMRESULT Open(int deviceId, const WAVEFORMATEX& format, PcmOpenMode mode,
                  std::unique_ptr<PcmSink>& sink) override;
    // The ALSA name behind a device id ("default" for -1); empty when out of range.
    std::string PcmName(int deviceId);
    // ALSA's reason when `code` is what the last failed open returned, else empty.
    std::string OpenFailureReason(MMRESULT code);

private:
    alsa::OpenFailure failure_;
};

namespace detail {
struct AlsaPlaybackHolder {
    AlsaPlayback alsa;
};
} // namespace detail

class AlsaWaveOut : private detail::AlsaPlaybackHolder, public WaveOutFront {
public:
    static AlsaWaveOut& Instance();
    AlsaWaveOut() : WaveOutFront(alsa, 0x2000) {}

    std::string PcmName(int deviceId) { return alsa.PcmName(deviceId); }
    // The text of a result code; for the code of the last device that could not be opened, with
    // ALSA's own reason.
    MMRESULT GetErrorText(MMRESULT code, std::string& text) override;
};

} // namespace tunefold::platform
