#include "platform/linux/alsa_wave_out.h"

#include "platform/linux/alsa_pcm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace tunefold::platform {

namespace {

using alsa::Params;

// One PCM, written non-blocking by the front's device thread.
class AlsaSink : public PcmSink {
public:
    AlsaSink(snd_pcm_t* pcm, const WAVEFORMATEX& format, const Params& params)
        : pcm_(pcm), block_(format.nBlockAlign), rate_(format.nSamplesPerSec),
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
            // The PCM ran dry: everything written has left it. Behind a sound server the last of
            // it may still be playing there, and a prepare would throw that away; the PCM stays as
            // it is until more is written (Write recovers it) or it is closed (see Stop).
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
        lastDelay_ = frames;
        lastDelayAt_ = std::chrono::steady_clock::now();
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
    // while buffers wait to be heard and nothing else is queued, the PCM is kept from running dry
    // with silence; and a short stream, below the start threshold, is started. The silence goes in
    // only when less than half a period is left: a small queue of headers between two refills
    // must not get silence between its buffers.
    std::chrono::microseconds Drain() override {
        const auto low = static_cast<snd_pcm_sframes_t>(params_.period / 2);
        snd_pcm_sframes_t buffered = -1;
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail >= 0) {
            buffered = static_cast<snd_pcm_sframes_t>(params_.buffer) - avail;
            if (buffered < low) {
                const std::size_t frames =
                    std::min<std::size_t>(params_.period, static_cast<std::size_t>(avail));
                silence_.assign(frames * block_, silenceByte_);
                const snd_pcm_sframes_t n = snd_pcm_writei(pcm_, silence_.data(), frames);
                if (n > 0) {
                    sincePrepare_ += static_cast<std::uint64_t>(n);
                    padTail_ += static_cast<std::uint64_t>(n);
                    buffered += n;
                }
            }
        }
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
            snd_pcm_start(pcm_);
        }
        // Look again when the PCM may be down to the mark.
        const std::uint64_t rate = std::max<std::uint64_t>(rate_, 1);
        const auto above = static_cast<std::uint64_t>(std::max<snd_pcm_sframes_t>(buffered - low, 0));
        return std::chrono::microseconds(std::max<std::uint64_t>(above * 1000000u / rate, 2000));
    }

    void WaitForRoom(std::chrono::milliseconds bound) override {
        snd_pcm_wait(pcm_, static_cast<int>(bound.count()));
    }

    // When the oldest header's last frame is due, but not sooner than a batch: a look per header
    // (a 2048-byte header lasts 11.6 ms) would cost a wake-up of this thread and of the engine's
    // each time, and nothing needs them back sooner than the 30 ms display tick.
    std::chrono::microseconds UntilHeard(std::uint64_t frames, std::uint64_t ahead) override {
        const std::uint64_t rate = std::max<std::uint64_t>(rate_, 1);
        const std::uint64_t dueUs = frames * 1000000u / rate + 1;
        const std::uint64_t batchUs = std::min<std::uint64_t>(25000, ahead * 1000000u / rate / 8);
        return std::chrono::microseconds(std::max(dueUs, batchUs));
    }

    void Close() override {
        Stop();
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }

private:
    // Ends what the PCM plays before it is closed. The front closes a sink only when every frame
    // written was heard or dropped; a PCM that still runs then holds the silence behind the music
    // and perhaps its last frames, when a sound server's estimate of the delay was early: dropping
    // would cut the end of the music, so it plays out (a few tens of milliseconds).
    // A PCM that ran dry cannot be drained: what it last said was still to play is waited for
    // (with a margin for an early estimate, at most a third of a second), then it is dropped.
    void Stop() {
        const snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state == SND_PCM_STATE_RUNNING && snd_pcm_nonblock(pcm_, 0) == 0) {
            snd_pcm_drain(pcm_);
            snd_pcm_nonblock(pcm_, 1);
            return;
        }
        if (state == SND_PCM_STATE_XRUN && lastDelay_ > 0) {
            const auto now = std::chrono::steady_clock::now();
            const auto tail = std::chrono::microseconds(lastDelay_ * 1000000u / std::max<DWORD>(rate_, 1));
            const auto until = std::min(lastDelayAt_ + tail + std::chrono::milliseconds(20),
                                        now + std::chrono::milliseconds(330));
            std::this_thread::sleep_until(until);
        }
        snd_pcm_drop(pcm_);
    }

    void Prepared() {
        sincePrepare_ = 0;
        padTail_ = 0;
        lastDelay_ = 0;
    }

    snd_pcm_t* pcm_;
    DWORD block_;
    DWORD rate_;
    char silenceByte_;
    Params params_;
    std::uint64_t sincePrepare_ = 0; // frames written since the PCM was last prepared
    std::uint64_t padTail_ = 0;      // silence written behind the last frame of real audio
    std::uint64_t lastDelay_ = 0;    // the last delay the PCM told, its silence included
    std::chrono::steady_clock::time_point lastDelayAt_{};
    std::vector<char> silence_;
};

} // namespace

AlsaWaveOut& AlsaWaveOut::Instance() {
    static AlsaWaveOut alsa;
    return alsa;
}

std::string AlsaPlayback::PcmName(int deviceId) {
    return alsa::DeviceList::Instance().PcmName(deviceId);
}

UINT AlsaPlayback::Count() {
    return alsa::DeviceList::Instance().Count();
}

MMRESULT AlsaPlayback::Caps(int deviceId, WAVEOUTCAPS& caps) {
    return alsa::DeviceList::Instance().Caps(deviceId, SND_PCM_STREAM_PLAYBACK, caps);
}

MMRESULT AlsaPlayback::Open(int deviceId, const WAVEFORMATEX& format, PcmOpenMode mode,
                            std::unique_ptr<PcmSink>& sink) {
    const std::string name = PcmName(deviceId);
    if (name.empty()) {
        return MMSYSERR_BADDEVICEID;
    }
    snd_pcm_t* raw = nullptr;
    int err = snd_pcm_open(&raw, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        const MMRESULT result = alsa::FromOpenErrno(err);
        failure_.Remember(result, name, err);
        return result;
    }
    Params params;
    err = alsa::Configure(raw, format, false, params, mode.shortBuffer);
    if (err < 0 || mode.queryOnly) {
        snd_pcm_close(raw);
        return err < 0 ? (err == -EINVAL ? WAVERR_BADFORMAT : alsa::FromErrno(err)) : MMSYSERR_NOERROR;
    }
    sink = std::make_unique<AlsaSink>(raw, format, params);
    return MMSYSERR_NOERROR;
}

std::string AlsaPlayback::OpenFailureReason(MMRESULT code) {
    return failure_.Reason(code);
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
