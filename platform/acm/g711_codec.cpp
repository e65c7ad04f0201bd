// G.711: A-law and mu-law bytes to 16-bit PCM and back, sample by sample, same rate and channels.
#include <algorithm>

#include "platform/acm/acm_driver.h"

namespace tunefold::platform::acm {

namespace {

std::int16_t MuLawToLinear(BYTE u) {
    u = static_cast<BYTE>(~u);
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return static_cast<std::int16_t>((u & 0x80) != 0 ? (0x84 - t) : (t - 0x84));
}

std::int16_t ALawToLinear(BYTE a) {
    a ^= 0x55;
    int t = (a & 0x0F) << 4;
    int seg = (a & 0x70) >> 4;
    switch (seg) {
    case 0:
        t += 8;
        break;
    case 1:
        t += 0x108;
        break;
    default:
        t += 0x108;
        t <<= seg - 1;
        break;
    }
    return static_cast<std::int16_t>((a & 0x80) != 0 ? t : -t);
}

int Segment(int value, const int* ends) {
    for (int i = 0; i < 8; ++i) {
        if (value <= ends[i]) {
            return i;
        }
    }
    return 8;
}

BYTE LinearToMuLaw(std::int16_t sample) {
    static const int ends[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
    int pcm = sample >> 2;
    int mask = 0xFF;
    if (pcm < 0) {
        pcm = -pcm;
        mask = 0x7F;
    }
    pcm = std::min(pcm, 8159) + 33;
    int seg = Segment(pcm, ends);
    if (seg >= 8) {
        return static_cast<BYTE>(0x7F ^ mask);
    }
    return static_cast<BYTE>(((seg << 4) | ((pcm >> (seg + 1)) & 0x0F)) ^ mask);
}

BYTE LinearToALaw(std::int16_t sample) {
    static const int ends[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int pcm = sample >> 3;
    int mask = 0xD5;
    if (pcm < 0) {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    int seg = Segment(pcm, ends);
    if (seg >= 8) {
        return static_cast<BYTE>(0x7F ^ mask);
    }
    int aval = seg << 4;
    aval |= seg < 2 ? (pcm >> 1) & 0x0F : (pcm >> seg) & 0x0F;
    return static_cast<BYTE>(aval ^ mask);
}

class G711Codec final : public Codec {
public:
    G711Codec(WORD tag, bool decode, int channels) : tag_(tag), decode_(decode), channels_(channels) {}

    DWORD DestinationSize(DWORD n) const override {
        return decode_ ? n / static_cast<DWORD>(channels_) * 2 * static_cast<DWORD>(channels_)
                       : n / (2 * static_cast<DWORD>(channels_)) * static_cast<DWORD>(channels_);
    }
    DWORD SourceSize(DWORD n) const override {
        return decode_ ? n / (2 * static_cast<DWORD>(channels_)) * static_cast<DWORD>(channels_)
                       : n / static_cast<DWORD>(channels_) * 2 * static_cast<DWORD>(channels_);
    }
    void Reset() override {}

    MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen, DWORD& produced,
                     DWORD flags) override {
        const DWORD sAlign = decode_ ? channels_ : 2 * channels_;
        const DWORD dAlign = decode_ ? 2 * channels_ : channels_;
        DWORD frames = std::min(srcLen / sAlign, dstLen / dAlign);
        const DWORD samples = frames * static_cast<DWORD>(channels_);
        for (DWORD i = 0; i < samples; ++i) {
            if (decode_) {
                std::int16_t v = tag_ == kTagMuLaw ? MuLawToLinear(src[i]) : ALawToLinear(src[i]);
                dst[2 * i] = static_cast<BYTE>(v);
                dst[2 * i + 1] = static_cast<BYTE>(static_cast<std::uint16_t>(v) >> 8);
            } else {
                auto v = static_cast<std::int16_t>(src[2 * i] | (src[2 * i + 1] << 8));
                dst[i] = tag_ == kTagMuLaw ? LinearToMuLaw(v) : LinearToALaw(v);
            }
        }
        used = frames * sAlign;
        if ((flags & ACM_STREAMCONVERTF_END) != 0 && srcLen - used < sAlign) {
            used = srcLen;
        }
        produced = frames * dAlign;
        return MMSYSERR_NOERROR;
    }

private:
    WORD tag_;
    bool decode_;
    int channels_;
};

bool Companded(const WAVEFORMATEX& f) {
    return (f.wFormatTag == kTagALaw || f.wFormatTag == kTagMuLaw) && f.wBitsPerSample == 8 &&
           (f.nChannels == 1 || f.nChannels == 2) && SupportedRate(f.nSamplesPerSec) &&
           f.nBlockAlign == f.nChannels;
}

class G711DriverImpl final : public Driver {
public:
    bool Supports(const WAVEFORMATEX& s, const WAVEFORMATEX& d) const override {
        const auto same = [&] { return s.nChannels == d.nChannels && s.nSamplesPerSec == d.nSamplesPerSec; };
        if (Companded(s)) {
            return d.wFormatTag == kTagPcm && d.wBitsPerSample == 16 && PlainPcm(d) && same();
        }
        return PlainPcm(s) && s.wBitsPerSample == 16 && Companded(d) && same();
    }

    bool Suggest(const WAVEFORMATEX& s, const WAVEFORMATEX& want, DWORD flags,
                 WAVEFORMATEX& out) const override {
        const bool tagWanted = (flags & ACM_FORMATSUGGESTF_WFORMATTAG) != 0;
        if (Companded(s)) {
            if ((tagWanted && want.wFormatTag != kTagPcm) ||
                ((flags & ACM_FORMATSUGGESTF_NCHANNELS) != 0 && want.nChannels != s.nChannels) ||
                ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) != 0 &&
                 want.nSamplesPerSec != s.nSamplesPerSec) ||
                ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0 && want.wBitsPerSample != 16)) {
                return false;
            }
            MakePcm(out, 16, s.nChannels, s.nSamplesPerSec);
            return true;
        }
        if (!tagWanted || (want.wFormatTag != kTagALaw && want.wFormatTag != kTagMuLaw) || !PlainPcm(s) ||
            s.wBitsPerSample != 16) {
            return false;
        }
        out = WAVEFORMATEX{};
        out.wFormatTag = want.wFormatTag;
        out.nChannels = s.nChannels;
        out.nSamplesPerSec = s.nSamplesPerSec;
        out.wBitsPerSample = 8;
        out.nBlockAlign = s.nChannels;
        out.nAvgBytesPerSec = s.nSamplesPerSec * s.nChannels;
        return true;
    }

    std::unique_ptr<Codec> Open(const WAVEFORMATEX& s, const WAVEFORMATEX& d, bool) const override {
        const bool decode = Companded(s);
        return std::make_unique<G711Codec>(decode ? s.wFormatTag : d.wFormatTag, decode, s.nChannels);
    }
};

} // namespace

const Driver& G711Driver() {
    static G711DriverImpl driver;
    return driver;
}

} // namespace tunefold::platform::acm
