// The virtual card as a playback backend of the wave output front: its sinks play what the front
// writes on the card's clock and record it, and the card's devices say which formats they take.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/virtual/virtual_sound_card.h"
#include "platform/virtual/virtual_wave_in.h"
#include "platform/wave_header.h"

namespace tunefold::platform {

using Clock = std::chrono::steady_clock;

// One open device of the card: what was written and not played yet, played on the card's clock.
// The front calls it under the device's lock; Advance reaches it the same way (Service).
class VirtualSoundCard::Sink : public PcmSink {
public:
    Sink(VirtualSoundCard& card, const WAVEFORMATEX& format) : card_(card), format_(format) {
        block_ = std::max<DWORD>(format.nBlockAlign, 1);
    }

    Taken Write(const char* data, std::uint64_t bytes) override {
        // A trailing partial frame plays as one frame, every byte of it delivered.
        const std::uint64_t frames = (bytes + block_ - 1) / block_;
        chunks_.push_back({data, bytes, frames});
        buffered_ += frames;
        Update();
        return {bytes, frames};
    }
    std::uint64_t Delay() override {
        Update();
        return buffered_;
    }
    bool Pause(bool on) override {
        Update();
        paused_ = on;
        anchored_ = false;
        return true;
    }
    void Drop() override {
        chunks_.clear();
        buffered_ = 0;
        paused_ = false;
        anchored_ = false;
    }
    std::chrono::microseconds UntilHeard(std::uint64_t frames, std::uint64_t ahead) override {
        switch (card_.clock_.load()) {
        case VirtualClock::Manual:
            return Never;
        case VirtualClock::Fast:
            return std::chrono::microseconds(0);
        case VirtualClock::RealTime:
            break;
        }
        if (paused_) {
            return Never;
        }
        // With plenty queued ahead, buffers are returned in batches, as a card with a deep queue
        // interrupts once per period: up to 200 ms (several buffers) at a time, never more than an
        // eighth of what is queued, so nothing runs dry.
        const std::uint64_t rate = std::max<DWORD>(format_.nSamplesPerSec, 1);
        const std::uint64_t dueUs = frames * 1000000u / rate + 1;
        const std::uint64_t batchUs = std::min<std::uint64_t>(200000, ahead * 1000000u / rate / 8);
        return std::chrono::microseconds(std::max(dueUs, batchUs));
    }
    int DoneFlagDelayMs() override {
        std::lock_guard lock(card_.mutex_);
        if (card_.faults_.noDoneFlag) {
            return -1;
        }
        return card_.faults_.lateDoneFlagMs;
    }
    void Close() override {
        std::lock_guard lock(card_.mutex_);
        if (!card_.wavPath_.empty()) {
            card_.WriteWavFile(format_, recorded_);
        }
    }

    // The manual clock: plays up to `frames`; returns the frames played.
    std::uint64_t Advance(std::uint64_t frames) { return paused_ ? 0 : Consume(frames); }

private:
    struct Chunk {
        const char* data;
        std::uint64_t bytes;
        std::uint64_t frames;
    };

    // The real-time clock owes the frames of the time since it was anchored, which happens when
    // audio is there to play; an underrun or a pause owes nothing. The fast clock plays at once.
    void Update() {
        const VirtualClock clock = card_.clock_.load();
        if (paused_ || clock == VirtualClock::Manual) {
            return;
        }
        if (clock == VirtualClock::Fast) {
            Consume(buffered_);
            return;
        }
        if (buffered_ == 0) {
            anchored_ = false;
            return;
        }
        const auto now = Clock::now();
        if (!anchored_) {
            anchored_ = true;
            anchor_ = now;
            sinceAnchor_ = 0;
            return;
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - anchor_);
        const std::uint64_t owed =
            static_cast<std::uint64_t>(elapsed.count()) * format_.nSamplesPerSec / 1000000u;
        if (owed > sinceAnchor_) {
            sinceAnchor_ += Consume(owed - sinceAnchor_);
        }
        if (buffered_ == 0) {
            anchored_ = false;
        }
    }

    std::uint64_t Consume(std::uint64_t frames) {
        std::uint64_t total = 0;
        if (frames == 0 || chunks_.empty()) {
            return 0;
        }
        std::lock_guard lock(card_.mutex_);
        while (total < frames && !chunks_.empty()) {
            Chunk& chunk = chunks_.front();
            const std::uint64_t take = std::min(chunk.frames, frames - total);
            const std::uint64_t bytes = std::min<std::uint64_t>(take * block_, chunk.bytes);
            const auto* data = reinterpret_cast<const std::uint8_t*>(chunk.data);
            if (card_.playedBytes_ + bytes <= card_.recordLimit_) {
                card_.RecordLocked(data, bytes);
            }
            if (!card_.wavPath_.empty()) {
                recorded_.insert(recorded_.end(), data, data + bytes);
            }
            chunk.data += bytes;
            chunk.bytes -= bytes;
            chunk.frames -= take;
            if (chunk.frames == 0) {
                chunks_.pop_front();
            }
            total += take;
        }
        buffered_ -= total;
        return total;
    }

    VirtualSoundCard& card_;
    WAVEFORMATEX format_;
    DWORD block_;
    std::deque<Chunk> chunks_;
    std::uint64_t buffered_ = 0;
    bool paused_ = false;
    bool anchored_ = false;
    Clock::time_point anchor_;
    std::uint64_t sinceAnchor_ = 0;
    std::vector<std::uint8_t> recorded_; // this session, for the WAV file
};

// The card's devices as a playback backend; the card's own calls check devices and formats first.
class VirtualSoundCard::Playback : public PcmPlayback {
public:
    explicit Playback(VirtualSoundCard& card) : card_(card) {}
    UINT Count() override { return card_.GetNumDevs(); }
    MMRESULT Caps(int deviceId, WAVEOUTCAPS& caps) override { return card_.GetDevCaps(deviceId, caps); }
    MMRESULT Open(int, const WAVEFORMATEX& format, PcmOpenMode mode,
                  std::unique_ptr<PcmSink>& sink) override {
        if (!mode.queryOnly) {
            sink = std::make_unique<Sink>(card_, format);
        }
        return MMSYSERR_NOERROR;
    }

private:
    VirtualSoundCard& card_;
};

VirtualSoundCard::VirtualSoundCard()
    : capture_(std::make_unique<VirtualWaveIn>(*this)), playback_(std::make_unique<Playback>(*this)),
      front_(std::make_unique<WaveOutFront>(*playback_, 0x1000)) {
    devices_.emplace_back();
}

VirtualSoundCard::~VirtualSoundCard() {
    front_.reset();
    capture_.reset();
}

bool VirtualSoundCard::Plays(int device, const WAVEFORMATEX* format) const {
    if (format == nullptr || format->wFormatTag != WAVE_FORMAT_PCM || format->nChannels == 0 ||
        format->nSamplesPerSec == 0 || format->nBlockAlign == 0 ||
        format->nBlockAlign != format->nChannels * ((format->wBitsPerSample + 7) / 8)) {
        return false;
    }
    const auto& formats = devices_[static_cast<std::size_t>(device)].formats;
    if (formats.empty()) {
        return format->wBitsPerSample == 8 || format->wBitsPerSample == 16 || format->wBitsPerSample == 24 ||
               format->wBitsPerSample == 32;
    }
    return std::any_of(formats.begin(), formats.end(), [format](const VirtualWaveFormat& f) {
        return f.channels == format->nChannels && f.rate == format->nSamplesPerSec &&
               f.bits == format->wBitsPerSample;
    });
}

void VirtualSoundCard::WriteWavFile(const WAVEFORMATEX& format, const std::vector<std::uint8_t>& recorded) {
    std::string wav;
    auto put16 = [&wav](unsigned v) { wav += {char(v & 0xFF), char((v >> 8) & 0xFF)}; };
    auto put32 = [&put16](std::uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    const auto size = static_cast<std::uint32_t>(recorded.size());
    wav += "RIFF";
    put32(4 + 8 + 16 + 8 + size + (size & 1));
    wav += "WAVEfmt ";
    put32(16);
    put16(format.wFormatTag);
    put16(format.nChannels);
    put32(format.nSamplesPerSec);
    put32(format.nAvgBytesPerSec);
    put16(format.nBlockAlign);
    put16(format.wBitsPerSample);
    wav += "data";
    put32(size);
    wav.append(reinterpret_cast<const char*>(recorded.data()), recorded.size());
    if (size & 1) {
        wav += '\0';
    }
    ReplaceFileContents(wavPath_, wav, {.mode = -1, .tempPath = {}, .sync = false});
}

// ---- the backend's device checks ----

MMRESULT VirtualSoundCard::Usable(int deviceId, const WAVEFORMATEX* format) {
    std::lock_guard lock(mutex_);
    if (devices_.empty() || deviceId < WAVE_MAPPER || deviceId >= static_cast<int>(devices_.size())) {
        return MMSYSERR_BADDEVICEID;
    }
    return Plays(std::max(deviceId, 0), format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

MMRESULT VirtualSoundCard::Caps(int deviceId, WAVEOUTCAPS& caps) {
    std::lock_guard lock(mutex_);
    if (devices_.empty() || deviceId < WAVE_MAPPER || deviceId >= static_cast<int>(devices_.size())) {
        return MMSYSERR_BADDEVICEID;
    }
    const auto& config = devices_[static_cast<std::size_t>(std::max(deviceId, 0))];
    caps = WAVEOUTCAPS{};
    caps.szPname = config.name.substr(0, MAXPNAMELEN - 1);
    caps.vDriverVersion = config.driverVersion;
    caps.wChannels = 2;
    for (const DWORD rate : {11025u, 22050u, 44100u}) {
        for (const WORD channels : {WORD{1}, WORD{2}}) {
            for (const WORD bits : {WORD{8}, WORD{16}}) {
                WAVEFORMATEX f{WAVE_FORMAT_PCM,
                               channels,
                               rate,
                               rate * channels * (bits / 8u),
                               static_cast<WORD>(channels * (bits / 8)),
                               bits,
                               0};
                if (Plays(std::max(deviceId, 0), &f)) {
                    caps.dwFormats |= StandardFormatFlag(rate, channels, bits);
                }
            }
        }
    }
    return MMSYSERR_NOERROR;
}

// ---- the clock, manual mode ----

std::uint64_t VirtualSoundCard::Advance(std::uint64_t frames) {
    capture_->Advance(frames);
    std::uint64_t most = 0;
    for (HWAVEOUT handle : front_->Handles()) {
        front_->Service(
            handle, [&](PcmSink& sink) { most = std::max(most, static_cast<Sink&>(sink).Advance(frames)); });
    }
    return most;
}

std::uint64_t VirtualSoundCard::AdvanceAll(std::uint64_t maxFrames) {
    std::uint64_t total = 0;
    while (total < maxFrames) {
        std::uint64_t n = Advance(std::min<std::uint64_t>(maxFrames - total, 1u << 16));
        if (n == 0) {
            break; // nothing queued, paused, or only empty headers left
        }
        total += n;
    }
    return total;
}

} // namespace tunefold::platform
