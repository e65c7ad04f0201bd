// The real wave input: ALSA capture PCMs behind the wave input front. The device numbers are the
// output's: -1 is ALSA's "default" (the sound server's default source where one runs), 0..n-1 the
// PCMs of the output's list, in the same order, opened for capture.
#pragma once

#include <string>

#include "platform/linux/alsa_pcm.h"
#include "platform/wave_in_front.h"

namespace tunefold::platform {

class AlsaCapture : public PcmCapture {
public:
    UINT Count() override;
    MMRESULT Caps(int deviceId, WAVEINCAPS& caps) override;
    MMRESULT Open(int deviceId, const WAVEFORMATEX& format, PcmOpenMode mode,
                  std::unique_ptr<PcmSource>& source) override;
    std::string OpenFailureReason(MMRESULT code) { return failure_.Reason(code); }

private:
    alsa::OpenFailure failure_;
};

namespace detail {
struct AlsaCaptureHolder {
    AlsaCapture capture;
};
} // namespace detail

class AlsaWaveIn : private detail::AlsaCaptureHolder, public WaveInFront {
public:
    static AlsaWaveIn& Instance();
    AlsaWaveIn() : WaveInFront(capture, 0x3000) {}

    // The text of a result code; for the code of the last device that could not be opened, with
    // ALSA's own reason.
    MMRESULT GetErrorText(MMRESULT code, std::string& text) override;
};

} // namespace tunefold::platform
