#include "platform/linux/alsa_wave_out.h"

#include "platform/wave_header.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

namespace tunefold::platform {

namespace {

// Threads whose device was closed from inside their own notification: they cannot join themselves,
// so the next close or the end of the process joins them.
class Graveyard {
public:
    ~Graveyard() { JoinAll(); }
    void Add(std::thread thread) {
        std::lock_guard lock(mutex_);
        threads_.push_back(std::move(thread));
    }
    void JoinAll() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& t : threads) {
            if (t.get_id() == std::this_thread::get_id()) {
                Add(std::move(t));
            } else if (t.joinable()) {
                t.join();
            }
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};
Graveyard& Graves() {
    static Graveyard graves;
    return graves;
}

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

} // namespace

struct AlsaWaveOut::Pcm {
    HWAVEOUT handle = 0;
    snd_pcm_t* pcm = nullptr;
    WAVEFORMATEX format{};
    WaveCallback callback = nullptr;
    DWORD_PTR instance = 0;
    Params params;

    std::thread thread;
    std::thread::id threadId;

    // Guards everything below and every call on `pcm`; never held while a notification runs.
    std::mutex mutex;
    std::condition_variable wake;
    // Done notifications go out under this lock, so the feeder and a reset never interleave them.
    std::recursive_mutex deliver;

    struct Written {
        WAVEHDR* header;
        std::uint64_t endFrame; // frames written when its last frame went to ALSA
    };
    std::deque<WAVEHDR*> queue; // not yet completely handed to ALSA
    DWORD headOffset = 0;
    std::deque<Written> pending; // handed to ALSA, not yet heard
    std::uint64_t written = 0;   // frames handed to ALSA since open or the last reset
    std::uint64_t played = 0;    // frames heard, never falling between resets
    // Silence written to keep the PCM running while the last buffers are heard (see Pad), and
    // the position reported so far in frames of the headers' own audio.
    std::uint64_t padded = 0;
    std::uint64_t reported = 0;
    std::vector<char> silence;
    bool paused = false;
    bool hwPaused = false;
    bool quit = false;

    void UpdatePlayedLocked() {
        snd_pcm_sframes_t delay = 0;
        snd_pcm_state_t state = snd_pcm_state(pcm);
        std::uint64_t heard = played;
        if (state == SND_PCM_STATE_XRUN) {
            // Everything written was played out: count it, then make the PCM ready for more.
            heard = written;
            snd_pcm_prepare(pcm);
        } else if (state == SND_PCM_STATE_PREPARED) {
            // Not started yet: nothing more was heard.
        } else if (snd_pcm_delay(pcm, &delay) == 0) {
            delay = std::max<snd_pcm_sframes_t>(delay, 0);
            heard =
                written > static_cast<std::uint64_t>(delay) ? written - static_cast<std::uint64_t>(delay) : 0;
        } else {
            heard = written;
            snd_pcm_prepare(pcm);
        }
        played = std::max(played, std::min(heard, written));
    }

    void TakeHeardLocked(std::vector<WAVEHDR*>& done) {
        while (!pending.empty() && pending.front().endFrame <= played) {
            WAVEHDR* header = pending.front().header;
            pending.pop_front();
            MarkHeaderDone(*header);
            done.push_back(header);
        }
    }

    void Notify(const std::vector<WAVEHDR*>& done) {
        if (callback == nullptr) {
            return;
        }
        for (std::size_t i = 0; i < done.size(); ++i) {
            callback(handle, WOM_DONE, instance, reinterpret_cast<DWORD_PTR>(done[i]),
                     static_cast<DWORD_PTR>(done.size() - 1 - i));
        }
    }

    // Hands as much of the head header to ALSA as it takes now; false when ALSA has no room.
    bool FeedLocked() {
        WAVEHDR* header = queue.front();
        const DWORD block = format.nBlockAlign;
        DWORD left = header->dwBufferLength > headOffset ? header->dwBufferLength - headOffset : 0;
        std::uint64_t frames = left / block;
        if (frames > 0) {
            snd_pcm_sframes_t n =
                snd_pcm_writei(pcm, header->lpData + headOffset, static_cast<snd_pcm_uframes_t>(frames));
            if (n == -EAGAIN || n == 0) {
                return false;
            }
            if (n < 0) {
                // An underrun (or a suspend): everything written so far has been heard.
                played = std::max(played, written);
                if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) {
                    snd_pcm_prepare(pcm);
                }
                return true;
            }
            headOffset += static_cast<DWORD>(n) * block;
            written += static_cast<std::uint64_t>(n);
            left = header->dwBufferLength - headOffset;
        }
        if (left < block) {
            // A trailing partial frame cannot be played; the header is complete.
            queue.pop_front();
            headOffset = 0;
            pending.push_back({header, written});
        }
        return true;
    }

    // Written frames that ran out of ALSA's buffer are not yet heard when a sound server lies behind
    // it: an underrun there would make the plugin drop what the server still holds. So while
    // buffers wait to be heard and nothing else is queued, the PCM is kept fed with silence.
    void PadLocked() {
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
        if (avail < 0) {
            return;
        }
        const auto buffered = static_cast<snd_pcm_sframes_t>(params.buffer) - avail;
        if (buffered >= static_cast<snd_pcm_sframes_t>(2 * params.period)) {
            return;
        }
        const std::size_t frames = std::min<std::size_t>(params.period, static_cast<std::size_t>(avail));
        silence.assign(frames * format.nBlockAlign, format.wBitsPerSample == 8 ? char(0x80) : char(0));
        const snd_pcm_sframes_t n = snd_pcm_writei(pcm, silence.data(), frames);
        if (n > 0) {
            written += static_cast<std::uint64_t>(n);
            padded += static_cast<std::uint64_t>(n);
        }
    }

    // Frames of the headers' audio heard: silence padding does not count, and the value never falls.
    DWORD ReportedLocked() {
        const std::uint64_t real = written - padded;
        const std::uint64_t heard = played > padded ? played - padded : 0;
        reported = std::max(reported, std::min(heard, real));
        return static_cast<DWORD>(reported);
    }

    void Run() {
        std::unique_lock lock(mutex);
        while (!quit) {
            std::vector<WAVEHDR*> done;
            if (!hwPaused) {
                UpdatePlayedLocked();
            }
            TakeHeardLocked(done);
            if (!done.empty()) {
                lock.unlock();
                {
                    std::lock_guard guard(deliver);
                    Notify(done);
                }
                lock.lock();
                continue;
            }
            if (!paused && !queue.empty()) {
                if (!FeedLocked()) {
                    lock.unlock();
                    snd_pcm_wait(pcm, 10);
                    lock.lock();
                }
                continue;
            }
            if (!paused && !pending.empty()) {
                // Everything is written: make sure a short stream starts, then wait for it to be heard.
                PadLocked();
                if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
                    snd_pcm_start(pcm);
                }
                wake.wait_for(lock, std::chrono::milliseconds(5));
                continue;
            }
            wake.wait_for(lock, std::chrono::milliseconds(20));
        }
    }
};

AlsaWaveOut& AlsaWaveOut::Instance() {
    static AlsaWaveOut alsa;
    return alsa;
}

namespace {
// ALSA prints its own diagnostics to stderr (an undefined "default" on a machine without sound, for
// one); every failure already comes back to us as a result code with its text, so they stay quiet.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}
} // namespace

AlsaWaveOut::AlsaWaveOut() {
    snd_lib_error_set_handler(QuietAlsaErrors);
}

AlsaWaveOut::~AlsaWaveOut() {
    std::vector<std::shared_ptr<Pcm>> left;
    {
        std::lock_guard lock(mutex_);
        left.swap(open_);
    }
    for (auto& pcm : left) {
        {
            std::lock_guard lock(pcm->mutex);
            pcm->quit = true;
        }
        pcm->wake.notify_all();
        if (pcm->thread.joinable()) {
            pcm->thread.join();
        }
        snd_pcm_close(pcm->pcm);
    }
    Graves().JoinAll();
}

void AlsaWaveOut::Enumerate() {
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

std::string AlsaWaveOut::PcmName(int deviceId) {
    std::lock_guard lock(mutex_);
    Enumerate();
    if (deviceId == WAVE_MAPPER) {
        return "default";
    }
    if (deviceId < 0 || deviceId >= static_cast<int>(listed_.size())) {
        return {};
    }
    return listed_[static_cast<std::size_t>(deviceId)].name;
}

UINT AlsaWaveOut::GetNumDevs() {
    std::lock_guard lock(mutex_);
    Enumerate();
    return static_cast<UINT>(listed_.size());
}

MMRESULT AlsaWaveOut::GetDevCaps(int deviceId, WAVEOUTCAPS& caps) {
    std::lock_guard lock(mutex_);
    Enumerate();
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

std::shared_ptr<AlsaWaveOut::Pcm> AlsaWaveOut::Find(HWAVEOUT handle) {
    std::lock_guard lock(mutex_);
    for (auto& pcm : open_) {
        if (pcm->handle == handle) {
            return pcm;
        }
    }
    return nullptr;
}

MMRESULT AlsaWaveOut::Open(HWAVEOUT* handle, int deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                           DWORD_PTR instance, DWORD flags) {
    Graves().JoinAll();
    if (format == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    const std::string name = PcmName(deviceId);
    if (name.empty()) {
        return MMSYSERR_BADDEVICEID;
    }
    snd_pcm_t* raw = nullptr;
    int err = snd_pcm_open(&raw, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        return FromErrno(err);
    }
    Params params;
    err = Configure(raw, *format, params);
    if (err < 0 || (flags & WAVE_FORMAT_QUERY) != 0) {
        snd_pcm_close(raw);
        return err < 0 ? (err == -EINVAL ? WAVERR_BADFORMAT : FromErrno(err)) : MMSYSERR_NOERROR;
    }
    if (handle == nullptr) {
        snd_pcm_close(raw);
        return MMSYSERR_INVALPARAM;
    }
    auto pcm = std::make_shared<Pcm>();
    pcm->pcm = raw;
    std::memcpy(&pcm->format, format, sizeof(WAVEFORMATEX));
    pcm->format.cbSize = 0;
    pcm->callback = callback;
    pcm->instance = instance;
    pcm->params = params;
    {
        std::lock_guard lock(mutex_);
        pcm->handle = nextHandle_++;
        open_.push_back(pcm);
    }
    Pcm* feeder = pcm.get();
    pcm->thread = std::thread([feeder] { feeder->Run(); });
    pcm->threadId = pcm->thread.get_id();
    *handle = pcm->handle;
    if (callback != nullptr) {
        callback(pcm->handle, WOM_OPEN, instance, 0, 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::Close(HWAVEOUT handle) {
    auto pcm = Find(handle);
    if (pcm == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    {
        std::lock_guard lock(pcm->mutex);
        if (!pcm->queue.empty() || !pcm->pending.empty()) {
            return WAVERR_STILLPLAYING;
        }
        pcm->quit = true;
    }
    {
        std::lock_guard lock(mutex_);
        std::erase(open_, pcm);
    }
    pcm->wake.notify_all();
    if (std::this_thread::get_id() == pcm->threadId) {
        Graves().Add(std::move(pcm->thread));
    } else {
        pcm->thread.join();
        Graves().JoinAll();
    }
    snd_pcm_drop(pcm->pcm);
    snd_pcm_close(pcm->pcm);
    pcm->pcm = nullptr;
    if (pcm->callback != nullptr) {
        std::lock_guard guard(pcm->deliver);
        pcm->callback(handle, WOM_CLOSE, pcm->instance, 0, 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::PrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (Find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    ChangeHeaderFlags(*header, 0, WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    auto pcm = Find(handle);
    if (pcm == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    std::lock_guard lock(pcm->mutex);
    if (HeaderHas(*header, WHDR_INQUEUE)) {
        return WAVERR_STILLPLAYING;
    }
    ChangeHeaderFlags(*header, WHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::Write(HWAVEOUT handle, WAVEHDR* header) {
    auto pcm = Find(handle);
    if (pcm == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    {
        std::lock_guard lock(pcm->mutex);
        if (!HeaderHas(*header, WHDR_PREPARED)) {
            return WAVERR_UNPREPARED;
        }
        if (HeaderHas(*header, WHDR_INQUEUE)) {
            return WAVERR_STILLPLAYING;
        }
        ChangeHeaderFlags(*header, WHDR_DONE, WHDR_INQUEUE);
        pcm->queue.push_back(header);
    }
    pcm->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::Pause(HWAVEOUT handle) {
    auto pcm = Find(handle);
    if (pcm == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(pcm->mutex);
    if (pcm->paused) {
        return MMSYSERR_NOERROR;
    }
    pcm->paused = true;
    // Without a pause in the PCM the feeder just stops writing: what ALSA holds plays out, and
    // nothing of the queue is lost.
    if (pcm->params.canPause && snd_pcm_state(pcm->pcm) == SND_PCM_STATE_RUNNING) {
        pcm->UpdatePlayedLocked();
        pcm->hwPaused = snd_pcm_pause(pcm->pcm, 1) == 0;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::Restart(HWAVEOUT handle) {
    auto pcm = Find(handle);
    if (pcm == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    {
        std::lock_guard lock(pcm->mutex);
        pcm->paused = false;
        if (pcm->hwPaused) {
            pcm->hwPaused = false;
            if (snd_pcm_pause(pcm->pcm, 0) < 0) {
                snd_pcm_prepare(pcm->pcm);
            }
        }
    }
    pcm->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::Reset(HWAVEOUT handle) {
    auto pcm = Find(handle);
    if (pcm == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard guard(pcm->deliver);
    std::vector<WAVEHDR*> done;
    {
        std::lock_guard lock(pcm->mutex);
        snd_pcm_drop(pcm->pcm);
        snd_pcm_prepare(pcm->pcm);
        pcm->hwPaused = false;
        for (const auto& w : pcm->pending) {
            done.push_back(w.header);
        }
        for (WAVEHDR* header : pcm->queue) {
            done.push_back(header);
        }
        for (WAVEHDR* header : done) {
            MarkHeaderDone(*header);
        }
        pcm->pending.clear();
        pcm->queue.clear();
        pcm->headOffset = 0;
        pcm->written = 0;
        pcm->played = 0;
        pcm->padded = 0;
        pcm->reported = 0;
    }
    pcm->Notify(done);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::GetPosition(HWAVEOUT handle, MMTIME& time) {
    auto pcm = Find(handle);
    if (pcm == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(pcm->mutex);
    if (!pcm->hwPaused) {
        pcm->UpdatePlayedLocked();
    }
    const DWORD frames = pcm->ReportedLocked();
    if (time.wType == TIME_BYTES) {
        time.value = frames * pcm->format.nBlockAlign;
    } else {
        time.wType = TIME_SAMPLES;
        time.value = frames;
    }
    return MMSYSERR_NOERROR;
}

} // namespace tunefold::platform
