#include "platform/linux/alsa_pcm.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tunefold::platform::alsa {

namespace {
// ALSA prints its own diagnostics to stderr (an undefined "default" on a machine without sound, for
// one); every failure already comes back to us as a result code with its text, so they stay quiet.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}
} // namespace

snd_pcm_format_t SampleFormat(const WAVEFORMATEX& format) {
    if (format.wFormatTag != WAVE_FORMAT_PCM) {
        return SND_PCM_FORMAT_UNKNOWN;
    }
    switch (format.wBitsPerSample) {
    case 8:
        return SND_PCM_FORMAT_U8;
    case 16:
        return SND_PCM_FORMAT_S16_LE;
    case 24:
        return SND_PCM_FORMAT_S24_3LE;
    case 32:
        return SND_PCM_FORMAT_S32_LE;
    default:
        return SND_PCM_FORMAT_UNKNOWN;
    }
}

MMRESULT FromErrno(int err) {
    switch (-err) {
    case EBUSY:
        return MMSYSERR_ALLOCATED;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return MMSYSERR_BADDEVICEID;
    case ENOMEM:
        return MMSYSERR_NOMEM;
    case EINVAL:
        return WAVERR_BADFORMAT;
    default:
        return MMSYSERR_ERROR;
    }
}

MMRESULT FromOpenErrno(int err) {
    // No format is to blame when the device cannot even be opened (no card, no sound server).
    return err == -EBUSY ? MMSYSERR_ALLOCATED : err == -ENOMEM ? MMSYSERR_NOMEM : MMSYSERR_NODRIVER;
}

int Configure(snd_pcm_t* pcm, const WAVEFORMATEX& format, bool capture, Params& out, bool shortBuffer) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    int err = snd_pcm_hw_params_any(pcm, hw);
    if (err < 0) {
        return err;
    }
    snd_pcm_format_t sampleFormat = SampleFormat(format);
    if (sampleFormat == SND_PCM_FORMAT_UNKNOWN || format.nChannels == 0 || format.nSamplesPerSec == 0) {
        return -EINVAL;
    }
    if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (err = snd_pcm_hw_params_set_format(pcm, hw, sampleFormat)) < 0 ||
        (err = snd_pcm_hw_params_set_channels(pcm, hw, format.nChannels)) < 0 ||
        (err = snd_pcm_hw_params_set_rate(pcm, hw, format.nSamplesPerSec, 0)) < 0) {
        return -EINVAL;
    }
    unsigned bufferUs = shortBuffer ? 60000 : 500000;
    unsigned periodUs = shortBuffer ? 15000 : 40000;
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, nullptr);
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, nullptr);
    if ((err = snd_pcm_hw_params(pcm, hw)) < 0) {
        return err;
    }
    snd_pcm_hw_params_get_buffer_size(hw, &out.buffer);
    snd_pcm_hw_params_get_period_size(hw, &out.period, nullptr);
    out.canPause = snd_pcm_hw_params_can_pause(hw) != 0;

    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0) {
        return err;
    }
    // Capture starts when asked to, never from a read.
    snd_pcm_sw_params_set_start_threshold(pcm, sw, capture ? out.buffer + 1 : out.period);
    snd_pcm_sw_params_set_avail_min(pcm, sw, out.period);
    return snd_pcm_sw_params(pcm, sw);
}

DeviceList& DeviceList::Instance() {
    static DeviceList list;
    return list;
}

DeviceList::DeviceList() {
    snd_lib_error_set_handler(QuietAlsaErrors);
}

void DeviceList::EnumerateLocked() {
    if (enumerated_) {
        return;
    }
    enumerated_ = true;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) {
        return;
    }
    for (void** hint = hints; *hint != nullptr; ++hint) {
        char* name = snd_device_name_get_hint(*hint, "NAME");
        char* desc = snd_device_name_get_hint(*hint, "DESC");
        char* ioid = snd_device_name_get_hint(*hint, "IOID");
        const bool output = ioid == nullptr || std::strcmp(ioid, "Output") == 0;
        if (name != nullptr && output && std::strcmp(name, "null") != 0) {
            std::string description = desc != nullptr ? desc : name;
            std::replace(description.begin(), description.end(), '\n', ' ');
            listed_.push_back({name, description});
        }
        std::free(name);
        std::free(desc);
        std::free(ioid);
    }
    snd_device_name_free_hint(hints);
}

UINT DeviceList::Count() {
    std::lock_guard lock(mutex_);
    EnumerateLocked();
    return static_cast<UINT>(listed_.size());
}

std::string DeviceList::PcmName(int deviceId) {
    std::lock_guard lock(mutex_);
    EnumerateLocked();
    if (deviceId == WAVE_MAPPER) {
        return "default";
    }
    if (deviceId < 0 || deviceId >= static_cast<int>(listed_.size())) {
        return {};
    }
    return listed_[static_cast<std::size_t>(deviceId)].name;
}

bool DeviceList::FormatFlags(const std::string& name, snd_pcm_stream_t stream, DWORD& flags) {
    const auto key = std::make_pair(name, static_cast<int>(stream));
    if (auto it = flags_.find(key); it != flags_.end()) {
        flags = it->second;
        return true;
    }
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, name.c_str(), stream, SND_PCM_NONBLOCK) < 0) {
        // A PCM that cannot be opened is not tried again at every look at its name (some plugins
        // take long to fail); "default" is, as a sound server behind it may start later.
        if (name != "default") {
            flags_[key] = 0;
        }
        return false;
    }
    snd_pcm_hw_params_t* any = nullptr;
    snd_pcm_hw_params_t* trial = nullptr;
    snd_pcm_hw_params_alloca(&any);
    snd_pcm_hw_params_alloca(&trial);
    flags = 0;
    if (snd_pcm_hw_params_any(pcm, any) >= 0) {
        for (const DWORD rate : {11025u, 22050u, 44100u}) {
            for (const WORD channels : {WORD{1}, WORD{2}}) {
                for (const WORD bits : {WORD{8}, WORD{16}}) {
                    // Each combination is tried in a copy of the full space: one that takes the
                    // format and the channels may still refuse the rate with them.
                    snd_pcm_hw_params_copy(trial, any);
                    const snd_pcm_format_t format = bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
                    if (snd_pcm_hw_params_set_access(pcm, trial, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
                        snd_pcm_hw_params_set_format(pcm, trial, format) >= 0 &&
                        snd_pcm_hw_params_set_channels(pcm, trial, channels) >= 0 &&
                        snd_pcm_hw_params_test_rate(pcm, trial, rate, 0) == 0) {
                        flags |= StandardFormatFlag(rate, channels, bits);
                    }
                }
            }
        }
    }
    snd_pcm_close(pcm);
    flags_[key] = flags;
    return true;
}

MMRESULT DeviceList::Caps(int deviceId, snd_pcm_stream_t stream, WAVEOUTCAPS& caps) {
    std::lock_guard lock(mutex_);
    EnumerateLocked();
    caps = WAVEOUTCAPS{};
    caps.vDriverVersion = ((SND_LIB_MAJOR & 0xFF) << 8) | (SND_LIB_MINOR & 0xFF);
    caps.wChannels = 2;
    std::string name;
    if (deviceId == WAVE_MAPPER) {
        caps.szPname = stream == SND_PCM_STREAM_CAPTURE ? "Default sound input" : "Default sound output";
        name = "default";
    } else if (deviceId < 0 || deviceId >= static_cast<int>(listed_.size())) {
        return MMSYSERR_BADDEVICEID;
    } else {
        const Listed& listed = listed_[static_cast<std::size_t>(deviceId)];
        caps.szPname = listed.description.substr(0, MAXPNAMELEN - 1);
        name = listed.name;
    }
    DWORD flags = 0;
    if (FormatFlags(name, stream, flags)) {
        caps.dwFormats = flags;
    }
    return MMSYSERR_NOERROR;
}

void OpenFailure::Remember(MMRESULT code, const std::string& name, int err) {
    std::lock_guard lock(mutex_);
    code_ = code;
    reason_ = "\"" + name + "\": " + snd_strerror(err);
}

std::string OpenFailure::Reason(MMRESULT code) {
    std::lock_guard lock(mutex_);
    return code != MMSYSERR_NOERROR && code == code_ ? reason_ : std::string();
}

} // namespace tunefold::platform::alsa
