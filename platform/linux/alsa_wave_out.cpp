#include "platform/linux/alsa_wave_out.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tunefold::platform {

namespace {

snd_pcm_format_t AlsaFormat(const WAVEFORMATEX& format) {
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

struct Params {
    snd_pcm_uframes_t buffer = 0;
    snd_pcm_uframes_t period = 0;
    bool canPause = false;
};

// Sets the hardware and software parameters for `format`; a negative errno when the PCM refuses.
int Configure(snd_pcm_t* pcm, const WAVEFORMATEX& format, Params& out) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    int err = snd_pcm_hw_params_any(pcm, hw);
    if (err < 0) {
        return err;
    }
    snd_pcm_format_t sampleFormat = AlsaFormat(format);
    if (sampleFormat == SND_PCM_FORMAT_UNKNOWN || format.nChannels == 0 || format.nSamplesPerSec == 0) {
        return -EINVAL;
    }
    if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (err = snd_pcm_hw_params_set_format(pcm, hw, sampleFormat)) < 0 ||
        (err = snd_pcm_hw_params_set_channels(pcm, hw, format.nChannels)) < 0 ||
        (err = snd_pcm_hw_params_set_rate(pcm, hw, format.nSamplesPerSec, 0)) < 0) {
        return -EINVAL;
    }
    unsigned bufferUs = 200000;
    unsigned periodUs = 20000;
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
    snd_pcm_sw_params_set_start_threshold(pcm, sw, out.period);
    snd_pcm_sw_params_set_avail_min(pcm, sw, out.period);
    return snd_pcm_sw_params(pcm, sw);
}

// One PCM, written non-blocking by the front's device thread.
class AlsaSink : public PcmSink {
public:
    AlsaSink(snd_pcm_t* pcm, const WAVEFORMATEX& format, const Params& params)
        : pcm_(pcm), block_(format.nBlockAlign),
          silenceByte_(format.wBitsPerSample == 8 ? char(0x80) : char(0)), params_(params) {}

    Taken Write(const char* data, std::uint64_t bytes) override {
        const std::uint64_t frames = bytes / block_;
        if (frames == 0) {
            return {bytes, 0}; // a trailing partial frame cannot be played
        }
        const snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, static_cast<snd_pcm_uframes_t>(frames));
        if (n == -EAGAIN || n == 0) {
            return {};
        }
        if (n < 0) {
            // An underrun (or a suspend): everything written so far has been heard.
            if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) {
                snd_pcm_prepare(pcm_);
            }
            Prepared();
            return {};
        }
        sincePrepare_ += static_cast<std::uint64_t>(n);
        padTail_ = 0;
        return {static_cast<std::uint64_t>(n) * block_, static_cast<std::uint64_t>(n)};
    }

    // Frames of real audio not heard yet: the silence written behind the last of them (see Drain)
    // does not count.
    std::uint64_t Delay() override {
        const snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state == SND_PCM_STATE_XRUN) {
            // Everything written was played out: make the PCM ready for more.
            snd_pcm_prepare(pcm_);
            Prepared();
            return 0;
        }
        if (state == SND_PCM_STATE_PREPARED) {
            // Not started yet: nothing was heard.
            return sincePrepare_ > padTail_ ? sincePrepare_ - padTail_ : 0;
        }
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm_, &delay) != 0) {
            snd_pcm_prepare(pcm_);
            Prepared();
            return 0;
        }
        const auto frames = static_cast<std::uint64_t>(std::max<snd_pcm_sframes_t>(delay, 0));
        return frames > padTail_ ? frames - padTail_ : 0;
    }

    bool Pause(bool on) override {
        if (on) {
            // Without a pause in the PCM the front just stops writing: what ALSA holds plays out,
            // and nothing of the queue is lost.
            return params_.canPause && snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING &&
                   snd_pcm_pause(pcm_, 1) == 0;
        }
        if (snd_pcm_pause(pcm_, 0) < 0) {
            snd_pcm_prepare(pcm_);
            Prepared();
        }
        return false;
    }

    void Drop() override {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
        Prepared();
    }

    // Written frames that ran out of ALSA's buffer are not yet heard when a sound server lies
    // behind it: an underrun there would make the plugin drop what the server still holds. So
    // while buffers wait to be heard and nothing else is queued, the PCM is kept fed with silence;
    // and a short stream, below the start threshold, is started.
    void Drain() override {
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail >= 0) {
            const auto buffered = static_cast<snd_pcm_sframes_t>(params_.buffer) - avail;
            if (buffered < static_cast<snd_pcm_sframes_t>(2 * params_.period)) {
                const std::size_t frames =
                    std::min<std::size_t>(params_.period, static_cast<std::size_t>(avail));
                silence_.assign(frames * block_, silenceByte_);
                const snd_pcm_sframes_t n = snd_pcm_writei(pcm_, silence_.data(), frames);
                if (n > 0) {
                    sincePrepare_ += static_cast<std::uint64_t>(n);
                    padTail_ += static_cast<std::uint64_t>(n);
                }
            }
        }
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
            snd_pcm_start(pcm_);
        }
    }

    void WaitForRoom(std::chrono::milliseconds bound) override {
        snd_pcm_wait(pcm_, static_cast<int>(bound.count()));
    }

    std::chrono::microseconds UntilHeard(std::uint64_t, std::uint64_t) override {
        // The delay ALSA reports moves a period at a time; a look every few milliseconds returns
        // each buffer close to when its last frame was heard.
        return std::chrono::milliseconds(5);
    }

    void Close() override {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }

private:
    void Prepared() {
        sincePrepare_ = 0;
        padTail_ = 0;
    }

    snd_pcm_t* pcm_;
    DWORD block_;
    char silenceByte_;
    Params params_;
    std::uint64_t sincePrepare_ = 0; // frames written since the PCM was last prepared
    std::uint64_t padTail_ = 0;      // silence written behind the last frame of real audio
    std::vector<char> silence_;
};

// ALSA prints its own diagnostics to stderr (an undefined "default" on a machine without sound, for
// one); every failure already comes back to us as a result code with its text, so they stay quiet.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

} // namespace

AlsaWaveOut& AlsaWaveOut::Instance() {
    static AlsaWaveOut alsa;
    return alsa;
}

AlsaPlayback::AlsaPlayback() {
    snd_lib_error_set_handler(QuietAlsaErrors);
}

void AlsaPlayback::EnumerateLocked() {
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

std::string AlsaPlayback::PcmName(int deviceId) {
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

UINT AlsaPlayback::Count() {
    std::lock_guard lock(mutex_);
    EnumerateLocked();
    return static_cast<UINT>(listed_.size());
}

MMRESULT AlsaPlayback::Caps(int deviceId, WAVEOUTCAPS& caps) {
    std::lock_guard lock(mutex_);
    EnumerateLocked();
    caps = WAVEOUTCAPS{};
    caps.vDriverVersion = ((SND_LIB_MAJOR & 0xFF) << 8) | (SND_LIB_MINOR & 0xFF);
    caps.wChannels = 2;
    if (deviceId == WAVE_MAPPER) {
        caps.szPname = "Default sound output";
        return MMSYSERR_NOERROR;
    }
    if (deviceId < 0 || deviceId >= static_cast<int>(listed_.size())) {
        return MMSYSERR_BADDEVICEID;
    }
    caps.szPname = listed_[static_cast<std::size_t>(deviceId)].description.substr(0, MAXPNAMELEN - 1);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaPlayback::Open(int deviceId, const WAVEFORMATEX& format, bool queryOnly,
                            std::unique_ptr<PcmSink>& sink) {
    const std::string name = PcmName(deviceId);
    if (name.empty()) {
        return MMSYSERR_BADDEVICEID;
    }
    snd_pcm_t* raw = nullptr;
    int err = snd_pcm_open(&raw, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        // No format is to blame when the device cannot even be opened (no card, no sound server).
        const MMRESULT result = err == -EBUSY    ? MMSYSERR_ALLOCATED
                                : err == -ENOMEM ? MMSYSERR_NOMEM
                                                 : MMSYSERR_NODRIVER;
        std::lock_guard lock(mutex_);
        lastOpenFailure_ = result;
        lastOpenReason_ = "\"" + name + "\": " + snd_strerror(err);
        return result;
    }
    Params params;
    err = Configure(raw, format, params);
    if (err < 0 || queryOnly) {
        snd_pcm_close(raw);
        return err < 0 ? (err == -EINVAL ? WAVERR_BADFORMAT : FromErrno(err)) : MMSYSERR_NOERROR;
    }
    sink = std::make_unique<AlsaSink>(raw, format, params);
    return MMSYSERR_NOERROR;
}

std::string AlsaPlayback::OpenFailureReason(MMRESULT code) {
    std::lock_guard lock(mutex_);
    return code != MMSYSERR_NOERROR && code == lastOpenFailure_ ? lastOpenReason_ : std::string();
}

MMRESULT AlsaWaveOut::GetErrorText(MMRESULT code, std::string& text) {
    const MMRESULT result = WaveGetErrorText(code, text);
    if (const std::string reason = alsa.OpenFailureReason(code);
        result == MMSYSERR_NOERROR && !reason.empty()) {
        text += " (ALSA: " + reason + ")";
    }
    return result;
}

} // namespace tunefold::platform
