#include "platform/linux/alsa_wave_in.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace tunefold::platform {

namespace {

// One capture PCM, read non-blocking by the front's device thread.
class AlsaSource : public PcmSource {
public:
    AlsaSource(snd_pcm_t* pcm, const WAVEFORMATEX& format, const alsa::Params& params)
        : pcm_(pcm), block_(format.nBlockAlign), rate_(format.nSamplesPerSec), params_(params) {}

    void Start() override {
        held_.clear();
        heldOffset_ = 0;
        Prepare();
        snd_pcm_start(pcm_);
        running_ = true;
    }

    void Stop() override {
        // What ALSA holds is read first: a stop keeps everything recorded up to it.
        held_.clear();
        if (running_) {
            const snd_pcm_sframes_t avail = snd_pcm_avail(pcm_);
            if (avail > 0) {
                held_.resize(static_cast<std::size_t>(avail) * block_);
                const snd_pcm_sframes_t n =
                    snd_pcm_readi(pcm_, held_.data(), static_cast<snd_pcm_uframes_t>(avail));
                held_.resize(n > 0 ? static_cast<std::size_t>(n) * block_ : 0);
            }
        }
        running_ = false;
        heldOffset_ = 0;
        snd_pcm_drop(pcm_);
    }

    std::uint64_t Read(char* data, std::uint64_t bytes) override {
        if (heldOffset_ < held_.size()) {
            const std::uint64_t n =
                std::min<std::uint64_t>(bytes / block_ * block_, held_.size() - heldOffset_);
            std::copy_n(held_.data() + heldOffset_, n, data);
            heldOffset_ += n;
            return n;
        }
        if (!running_) {
            return 0;
        }
        const snd_pcm_sframes_t n = snd_pcm_readi(pcm_, data, static_cast<snd_pcm_uframes_t>(bytes / block_));
        if (n > 0) {
            return static_cast<std::uint64_t>(n) * block_;
        }
        if (n != -EAGAIN && n != 0) {
            // An overrun (or a suspend): what did not fit is lost, recording goes on.
            if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) {
                Prepare();
            }
            snd_pcm_start(pcm_);
        }
        return 0;
    }

    std::uint64_t Available() override {
        std::uint64_t frames = (held_.size() - heldOffset_) / block_;
        if (running_) {
            const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
            frames += avail > 0 ? static_cast<std::uint64_t>(avail) : 0;
        }
        return frames;
    }

    std::uint64_t Delay() override {
        snd_pcm_sframes_t delay = 0;
        return running_ && snd_pcm_delay(pcm_, &delay) == 0 && delay > 0 ? static_cast<std::uint64_t>(delay)
                                                                         : 0;
    }

    void Drop() override {
        held_.clear();
        heldOffset_ = 0;
        snd_pcm_drop(pcm_);
        running_ = false;
    }

    std::chrono::microseconds UntilAvailable(std::uint64_t frames, std::uint64_t) override {
        // ALSA makes captured audio readable a period at a time: look again after the frames that
        // are missing, at most a period later, at least a little later.
        const std::uint64_t have = Available();
        const std::uint64_t missing = frames > have ? frames - have : 0;
        const std::uint64_t us =
            std::min<std::uint64_t>(missing, params_.period) * 1000000u / std::max<DWORD>(rate_, 1);
        return std::chrono::microseconds(std::max<std::uint64_t>(us, 2000));
    }

    void Close() override {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }

private:
    void Prepare() {
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) {
            snd_pcm_drop(pcm_);
            snd_pcm_prepare(pcm_);
        }
    }

    snd_pcm_t* pcm_;
    DWORD block_;
    DWORD rate_;
    alsa::Params params_;
    bool running_ = false;
    std::vector<char> held_; // read from ALSA at a stop, not yet handed on
    std::size_t heldOffset_ = 0;
};

} // namespace

AlsaWaveIn& AlsaWaveIn::Instance() {
    static AlsaWaveIn alsa;
    return alsa;
}

UINT AlsaCapture::Count() {
    return alsa::DeviceList::Instance().Count();
}

MMRESULT AlsaCapture::Caps(int deviceId, WAVEINCAPS& caps) {
    return alsa::DeviceList::Instance().Caps(deviceId, SND_PCM_STREAM_CAPTURE, caps);
}

MMRESULT AlsaCapture::Open(int deviceId, const WAVEFORMATEX& format, PcmOpenMode mode,
                           std::unique_ptr<PcmSource>& source) {
    const std::string name = alsa::DeviceList::Instance().PcmName(deviceId);
    if (name.empty()) {
        return MMSYSERR_BADDEVICEID;
    }
    snd_pcm_t* raw = nullptr;
    int err = snd_pcm_open(&raw, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err < 0) {
        const MMRESULT result = alsa::FromOpenErrno(err);
        failure_.Remember(result, name, err);
        return result;
    }
    alsa::Params params;
    err = alsa::Configure(raw, format, true, params, false);
    if (err < 0 || mode.queryOnly) {
        snd_pcm_close(raw);
        return err < 0 ? (err == -EINVAL ? WAVERR_BADFORMAT : alsa::FromErrno(err)) : MMSYSERR_NOERROR;
    }
    source = std::make_unique<AlsaSource>(raw, format, params);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveIn::GetErrorText(MMRESULT code, std::string& text) {
    const MMRESULT result = WaveGetErrorText(code, text);
    if (const std::string reason = capture.OpenFailureReason(code);
        result == MMSYSERR_NOERROR && !reason.empty()) {
        text += " (ALSA: " + reason + ")";
    }
    return result;
}

} // namespace tunefold::platform
