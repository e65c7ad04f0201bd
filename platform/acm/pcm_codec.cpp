// PCM to PCM: sample width and channel count sample by sample, the rate through libsoxr. One stream
// changes the rate or the sample width, not both.
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/acm/acm_driver.h"
#include "platform/wave_layout.h"

namespace tunefold::platform::acm {

namespace {

inline std::int16_t Load(const BYTE* p, int bits) {
    if (bits == 8) {
        return static_cast<std::int16_t>((static_cast<int>(*p) - 128) * 256);
    }
    return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

inline void Store(BYTE* p, int bits, std::int16_t v) {
    if (bits == 8) {
        *p = static_cast<BYTE>((v >> 8) + 128);
        return;
    }
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(static_cast<std::uint16_t>(v) >> 8);
}

class PcmCodec final : public Codec {
public:
    PcmCodec(const WAVEFORMATEX& s, const WAVEFORMATEX& d, bool hq) : s_(s), d_(d), hq_(hq) {}
    ~PcmCodec() override {
        if (soxr_ != nullptr) {
            soxr_delete(soxr_);
        }
    }

    bool Init() {
        if (s_.nSamplesPerSec == d_.nSamplesPerSec) {
            return true;
        }
        soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        io.flags |= SOXR_NO_DITHER; // deterministic: equal channels stay equal
        soxr_quality_spec_t q = soxr_quality_spec(hq_ ? SOXR_HQ : SOXR_LQ, 0);
        soxr_error_t err = nullptr;
        soxr_ = soxr_create(s_.nSamplesPerSec, d_.nSamplesPerSec, d_.nChannels, &err, &io, &q, nullptr);
        return err == nullptr && soxr_ != nullptr;
    }

    DWORD DestinationSize(DWORD sourceBytes) const override {
        std::uint64_t frames = sourceBytes / s_.nBlockAlign;
        if (soxr_ != nullptr) {
            // The resampler's delay comes out with the flush: leave room for it.
            frames = frames * d_.nSamplesPerSec / s_.nSamplesPerSec + 1 + 4096;
        }
        return static_cast<DWORD>(std::min<std::uint64_t>(frames * d_.nBlockAlign, 0x7FFFFFFF));
    }

    DWORD SourceSize(DWORD destinationBytes) const override {
        std::uint64_t frames = destinationBytes / d_.nBlockAlign;
        if (soxr_ != nullptr) {
            frames = frames * s_.nSamplesPerSec / d_.nSamplesPerSec;
        }
        return static_cast<DWORD>(std::min<std::uint64_t>(frames * s_.nBlockAlign, 0x7FFFFFFF));
    }

    void Reset() override {
        if (soxr_ != nullptr) {
            soxr_clear(soxr_);
        }
        flushed_ = false;
    }

    MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen, DWORD& produced,
                     DWORD flags) override {
        const bool end = (flags & ACM_STREAMCONVERTF_END) != 0;
        const int sa = s_.nBlockAlign, da = d_.nBlockAlign;
        std::size_t frames = srcLen / static_cast<DWORD>(sa);
        const std::size_t outCap = dstLen / static_cast<DWORD>(da);
        if (soxr_ == nullptr) {
            frames = std::min(frames, outCap);
        }
        Decode(src, frames);
        std::size_t outFrames = 0;
        std::size_t taken = frames;
        if (soxr_ == nullptr) {
            outFrames = frames;
            Encode(in_.data(), frames, dst);
        } else {
            if (flushed_ && frames > 0) {
                soxr_clear(soxr_); // new input after a flush starts a new stream
                flushed_ = false;
            }
            out_.resize(outCap * d_.nChannels);
            size_t idone = 0, odone = 0;
            if (frames > 0 || !end) {
                // A null input means the end to the resampler: never hand it one by accident.
                static const std::int16_t none[2] = {0, 0};
                const std::int16_t* in = frames > 0 ? in_.data() : none;
                soxr_error_t e = soxr_process(soxr_, in, frames, &idone, out_.data(), outCap, &odone);
                if (e != nullptr) {
                    return MMSYSERR_ERROR;
                }
            }
            taken = idone;
            if (end && idone == frames && odone < outCap) {
                size_t more = 0;
                soxr_error_t e = soxr_process(soxr_, nullptr, 0, nullptr, out_.data() + odone * d_.nChannels,
                                              outCap - odone, &more);
                if (e != nullptr) {
                    return MMSYSERR_ERROR;
                }
                odone += more;
                flushed_ = true;
            }
            outFrames = odone;
            Encode(out_.data(), odone, dst);
        }
        used = static_cast<DWORD>(taken * static_cast<std::size_t>(sa));
        if (end && taken == frames) {
            used = srcLen; // a partial frame at the very end is dropped
        }
        produced = static_cast<DWORD>(outFrames * static_cast<std::size_t>(da));
        return MMSYSERR_NOERROR;
    }

private:
    // Source frames to 16-bit frames with the destination's channel count.
    void Decode(const BYTE* src, std::size_t frames) {
        const int sb = s_.wBitsPerSample, sc = s_.nChannels, dc = d_.nChannels;
        const int step = sb / 8;
        in_.resize(frames * static_cast<std::size_t>(dc));
        for (std::size_t i = 0; i < frames; ++i) {
            const BYTE* p = src + i * s_.nBlockAlign;
            std::int16_t l = Load(p, sb);
            std::int16_t r = sc == 2 ? Load(p + step, sb) : l;
            if (dc == 1) {
                in_[i] = sc == 2 ? static_cast<std::int16_t>((l + r) >> 1) : l;
            } else {
                in_[2 * i] = l;
                in_[2 * i + 1] = r;
            }
        }
    }

    void Encode(const std::int16_t* samples, std::size_t frames, BYTE* dst) {
        const int db = d_.wBitsPerSample, step = db / 8;
        const std::size_t count = frames * d_.nChannels;
        for (std::size_t i = 0; i < count; ++i) {
            Store(dst + i * static_cast<std::size_t>(step), db, samples[i]);
        }
    }

    WAVEFORMATEX s_, d_;
    bool hq_;
    soxr_t soxr_ = nullptr;
    bool flushed_ = false;
    std::vector<std::int16_t> in_;
    std::vector<std::int16_t> out_;
};

// One source sample as a value in [-1, 1) (floats as they are, so beyond it when they clip).
inline double LoadWide(const BYTE* p, const WaveLayout& l) {
    switch (l.bits) {
    case 8:
        return (static_cast<int>(*p) - 128) / 128.0;
    case 16:
        return static_cast<std::int16_t>(p[0] | (p[1] << 8)) / 32768.0;
    case 24: {
        const std::int32_t v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                         static_cast<std::uint32_t>(p[1]) << 16 |
                                                         static_cast<std::uint32_t>(p[2]) << 24) >>
                               8;
        return v / 8388608.0;
    }
    default: {
        std::uint32_t u = 0;
        std::memcpy(&u, p, 4);
        if (l.isFloat && l.bits == 32) {
            float f = 0;
            std::memcpy(&f, &u, 4);
            return f;
        }
        if (l.isFloat) {
            double d = 0;
            std::memcpy(&d, p, 8);
            return d;
        }
        return static_cast<std::int32_t>(u) / 2147483648.0;
    }
    }
}

// A value as a 16-bit sample, rounded and saturated: a float beyond full scale clips, never wraps
// (not a number is silence).
inline std::int16_t Saturate16(double v) {
    const double scaled = v * 32768.0;
    if (!(scaled > -32768.0)) {
        return scaled != scaled ? 0 : -32768;
    }
    if (scaled >= 32767.0) {
        return 32767;
    }
    return static_cast<std::int16_t>(std::lround(scaled));
}

// Integer PCM wider than 16 bits, float, extensible records and more than two channels to plain
// 16-bit (or 8-bit) PCM of one or two channels at the same rate. More channels fold into two with
// the ITU-R BS.775 coefficients: front left and right at 1, centre and surrounds at -3 dB, the
// low-frequency channel left out. No dither: the result is exact and repeatable.
class WidePcmCodec final : public Codec {
public:
    WidePcmCodec(const WaveLayout& l, const WAVEFORMATEX& s, const WAVEFORMATEX& d) : l_(l), s_(s), d_(d) {
        constexpr double kMinus3dB = 0.70710678118654752;
        int n = 0;
        for (int bit = 0; bit < 32 && n < l.channels; ++bit) {
            const DWORD speaker = DWORD{1} << bit;
            if ((l.channelMask & speaker) == 0) {
                continue;
            }
            double& left = gains_[n][0];
            double& right = gains_[n][1];
            if (l.channels == 1) {
                left = right = 1.0;
            } else if (l.channels == 2) {
                (n == 0 ? left : right) = 1.0;
            } else if (speaker == SPEAKER_FRONT_LEFT || speaker == SPEAKER_FRONT_LEFT_OF_CENTER) {
                left = 1.0;
            } else if (speaker == SPEAKER_FRONT_RIGHT || speaker == SPEAKER_FRONT_RIGHT_OF_CENTER) {
                right = 1.0;
            } else if (speaker == SPEAKER_FRONT_CENTER || speaker == SPEAKER_BACK_CENTER) {
                left = right = kMinus3dB;
            } else if (speaker == SPEAKER_BACK_LEFT || speaker == SPEAKER_SIDE_LEFT) {
                left = kMinus3dB;
            } else if (speaker == SPEAKER_BACK_RIGHT || speaker == SPEAKER_SIDE_RIGHT) {
                right = kMinus3dB;
            }
            ++n;
        }
    }

    DWORD DestinationSize(DWORD sourceBytes) const override {
        const std::uint64_t frames = sourceBytes / s_.nBlockAlign;
        return static_cast<DWORD>(std::min<std::uint64_t>(frames * d_.nBlockAlign, 0x7FFFFFFF));
    }

    DWORD SourceSize(DWORD destinationBytes) const override {
        const std::uint64_t frames = destinationBytes / d_.nBlockAlign;
        return static_cast<DWORD>(std::min<std::uint64_t>(frames * s_.nBlockAlign, 0x7FFFFFFF));
    }

    void Reset() override {}

    MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen, DWORD& produced,
                     DWORD flags) override {
        const std::size_t frames = std::min<std::size_t>(srcLen / s_.nBlockAlign, dstLen / d_.nBlockAlign);
        const int step = l_.bits / 8;
        const int db = d_.wBitsPerSample;
        for (std::size_t i = 0; i < frames; ++i) {
            const BYTE* p = src + i * s_.nBlockAlign;
            double left = 0, right = 0;
            for (int c = 0; c < l_.channels; ++c) {
                const double v = LoadWide(p + c * step, l_);
                left += gains_[c][0] * v;
                right += gains_[c][1] * v;
            }
            BYTE* q = dst + i * d_.nBlockAlign;
            if (d_.nChannels == 1) {
                Store(q, db, Saturate16((left + right) / 2));
            } else {
                Store(q, db, Saturate16(left));
                Store(q + db / 8, db, Saturate16(right));
            }
        }
        used = static_cast<DWORD>(frames * s_.nBlockAlign);
        if ((flags & ACM_STREAMCONVERTF_END) != 0 && frames == srcLen / s_.nBlockAlign) {
            used = srcLen; // a partial frame at the very end is dropped
        }
        produced = static_cast<DWORD>(frames * d_.nBlockAlign);
        return MMSYSERR_NOERROR;
    }

private:
    WaveLayout l_;
    WAVEFORMATEX s_, d_;
    double gains_[kMaxWaveChannels][2] = {};
};

// A source the plain codec does not read: wider samples, float, an extensible record or more
// channels.
bool WideSource(const WAVEFORMATEX& s, WaveLayout& layout) {
    return !PlainPcm(s) && ReadWaveLayout(s, layout) && SupportedRate(s.nSamplesPerSec);
}

class PcmDriverImpl final : public Driver {
public:
    bool Supports(const WAVEFORMATEX& s, const WAVEFORMATEX& d) const override {
        WaveLayout layout;
        if (WideSource(s, layout)) {
            return PlainPcm(d) && d.nSamplesPerSec == s.nSamplesPerSec;
        }
        if (!PlainPcm(s) || !PlainPcm(d)) {
            return false;
        }
        // Resampling works on one sample width: the rate and the width never change together.
        return s.nSamplesPerSec == d.nSamplesPerSec || s.wBitsPerSample == d.wBitsPerSample;
    }

    bool Suggest(const WAVEFORMATEX& s, const WAVEFORMATEX& want, DWORD flags,
                 WAVEFORMATEX& out) const override {
        WaveLayout layout;
        if (WideSource(s, layout)) {
            // 16 bits and at most two channels unless asked otherwise, at the source's own rate: one
            // stream does not resample as well, the next step of a chain does.
            if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) != 0 && want.wFormatTag != kTagPcm) {
                return false;
            }
            const int bits = (flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0 ? want.wBitsPerSample : 16;
            const int channels =
                (flags & ACM_FORMATSUGGESTF_NCHANNELS) != 0 ? want.nChannels : std::min(layout.channels, 2);
            if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2)) {
                return false;
            }
            MakePcm(out, bits, channels, s.nSamplesPerSec);
            return true;
        }
        if (!PlainPcm(s)) {
            return false;
        }
        if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) != 0 && want.wFormatTag != kTagPcm) {
            return false;
        }
        int bits = s.wBitsPerSample, channels = s.nChannels;
        DWORD rate = s.nSamplesPerSec;
        if ((flags & ACM_FORMATSUGGESTF_NCHANNELS) != 0) {
            channels = want.nChannels;
        }
        if ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) != 0) {
            rate = want.nSamplesPerSec;
        }
        if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0) {
            bits = want.wBitsPerSample;
        }
        if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2) || !SupportedRate(rate)) {
            return false;
        }
        MakePcm(out, bits, channels, rate);
        return true;
    }

    std::unique_ptr<Codec> Open(const WAVEFORMATEX& s, const WAVEFORMATEX& d,
                                bool nonRealtime) const override {
        WaveLayout layout;
        if (WideSource(s, layout)) {
            return std::make_unique<WidePcmCodec>(layout, s, d);
        }
        auto codec = std::make_unique<PcmCodec>(s, d, nonRealtime);
        if (!codec->Init()) {
            return nullptr;
        }
        return codec;
    }
};

} // namespace

const Driver& PcmDriver() {
    static PcmDriverImpl driver;
    return driver;
}

} // namespace tunefold::platform::acm
