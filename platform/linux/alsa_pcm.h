// What the ALSA playback and capture backends share: one device list for both directions (so a
// device number means the same PCM for output and input), the hardware set-up of a PCM for a wave
// format, the capability flags from ALSA's own hardware-parameter tests, and the mapping of errors.
#pragma once

#include <alsa/asoundlib.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wave_device.h"

namespace tunefold::platform::alsa {

snd_pcm_format_t SampleFormat(const WAVEFORMATEX& format);
MMRESULT FromErrno(int err);
// The result of an open that failed before any format was looked at.
MMRESULT FromOpenErrno(int err);

struct Params {
    snd_pcm_uframes_t buffer = 0;
    snd_pcm_uframes_t period = 0;
    bool canPause = false;
};

// Sets the hardware and software parameters for `format`; a negative errno when the PCM refuses.
// A capture PCM is set up to be read a period at a time, and is started by the caller.
// `shortBuffer`: about 60 ms of buffer instead of half a second, for a player that works late.
int Configure(snd_pcm_t* pcm, const WAVEFORMATEX& format, bool capture, Params& out, bool shortBuffer);

// The PCMs ALSA lists for playback, in its order: devices 0..n-1 of both directions; -1 is
// "default". The list is read once.
class DeviceList {
public:
    static DeviceList& Instance();

    UINT Count();
    // The ALSA name behind a device id ("default" for -1); empty when out of range.
    std::string PcmName(int deviceId);
    // Name, version, channels and the WAVE_FORMAT_* flags the PCM accepts in that direction.
    MMRESULT Caps(int deviceId, snd_pcm_stream_t stream, WAVEOUTCAPS& caps);

private:
    DeviceList();
    struct Listed {
        std::string name;
        std::string description;
    };
    void EnumerateLocked();
    // The flags of the standard formats ALSA says the PCM can take; false when it cannot be opened
    // (remembered, but for "default": a sound server behind it may start later).
    bool FormatFlags(const std::string& name, snd_pcm_stream_t stream, DWORD& flags);

    std::mutex mutex_;
    bool enumerated_ = false;
    std::vector<Listed> listed_;
    std::map<std::pair<std::string, int>, DWORD> flags_;
};

// Keeps the reason of the last open that failed, for the error text.
class OpenFailure {
public:
    void Remember(MMRESULT code, const std::string& name, int err);
    std::string Reason(MMRESULT code);

private:
    std::mutex mutex_;
    MMRESULT code_ = MMSYSERR_NOERROR;
    std::string reason_;
};

} // namespace tunefold::platform::alsa
