// ADPCM decoders: IMA (DVI) ADPCM and Microsoft ADPCM blocks to 16-bit PCM, block by block.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/acm/acm_driver.h"

namespace tunefold::platform::acm {

namespace {

inline std::int16_t Le16(const BYTE* p) {
    return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

inline void Put16(BYTE* p, int v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(static_cast<unsigned>(v) >> 8);
}

inline int Clamp16(int v) {
    return v > 32767 ? 32767 : (v < -32768 ? -32768 : v);
}

bool SameShape(const WAVEFORMATEX& s, const WAVEFORMATEX& d) {
    return d.wFormatTag == kTagPcm && d.wBitsPerSample == 16 && PlainPcm(d) && d.nChannels == s.nChannels &&
           d.nSamplesPerSec == s.nSamplesPerSec;
}

bool SuggestPcm16(const WAVEFORMATEX& s, const WAVEFORMATEX& want, DWORD flags, WAVEFORMATEX& out) {
    if (((flags & ACM_FORMATSUGGESTF_WFORMATTAG) != 0 && want.wFormatTag != kTagPcm) ||
        ((flags & ACM_FORMATSUGGESTF_NCHANNELS) != 0 && want.nChannels != s.nChannels) ||
        ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) != 0 && want.nSamplesPerSec != s.nSamplesPerSec) ||
        ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0 && want.wBitsPerSample != 16)) {
        return false;
    }
    MakePcm(out, 16, s.nChannels, s.nSamplesPerSec);
    return true;
}

// Block-by-block decoding shared by both ADPCM kinds.
class BlockCodec : public Codec {
public:
    BlockCodec(DWORD blockAlign, DWORD samplesPerBlock, int channels)
        : blockAlign_(blockAlign), spb_(samplesPerBlock), channels_(channels) {}

    DWORD BlockOutput() const { return spb_ * 2 * static_cast<DWORD>(channels_); }
    DWORD DestinationSize(DWORD n) const override { return n / blockAlign_ * BlockOutput(); }
    DWORD SourceSize(DWORD n) const override { return n / BlockOutput() * blockAlign_; }
    void Reset() override {}

    MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen, DWORD& produced,
                     DWORD flags) override {
        DWORD blocks = std::min(srcLen / blockAlign_, dstLen / BlockOutput());
        for (DWORD b = 0; b < blocks; ++b) {
            DecodeBlock(src + b * blockAlign_, dst + b * BlockOutput());
        }
        used = blocks * blockAlign_;
        // At the end a partial block cannot be decoded: it is dropped.
        if ((flags & ACM_STREAMCONVERTF_END) != 0 && srcLen - used < blockAlign_) {
            used = srcLen;
        }
        produced = blocks * BlockOutput();
        return MMSYSERR_NOERROR;
    }

protected:
    virtual void DecodeBlock(const BYTE* block, BYTE* out) = 0;

    DWORD blockAlign_;
    DWORD spb_;
    int channels_;
};

// ---- IMA ADPCM ----

const int kImaSteps[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int kImaIndex[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

class ImaCodec final : public BlockCodec {
public:
    using BlockCodec::BlockCodec;

protected:
    void DecodeBlock(const BYTE* block, BYTE* out) override {
        const int ch = channels_;
        int pred[2] = {0, 0}, index[2] = {0, 0};
        for (int c = 0; c < ch; ++c) {
            pred[c] = Le16(block + 4 * c);
            index[c] = std::clamp<int>(block[4 * c + 2], 0, 88);
            Put16(out + 2 * c, pred[c]);
        }
        const BYTE* data = block + 4 * ch;
        // Groups of four bytes (eight samples) per channel, channels taking turns.
        const DWORD groups = (spb_ - 1) / 8;
        for (DWORD g = 0; g < groups; ++g) {
            for (int c = 0; c < ch; ++c) {
                const BYTE* p = data + (g * static_cast<DWORD>(ch) + static_cast<DWORD>(c)) * 4;
                for (int k = 0; k < 8; ++k) {
                    int nibble = (k % 2 == 0) ? (p[k / 2] & 0x0F) : (p[k / 2] >> 4);
                    int step = kImaSteps[index[c]];
                    int diff = step >> 3;
                    if ((nibble & 1) != 0) {
                        diff += step >> 2;
                    }
                    if ((nibble & 2) != 0) {
                        diff += step >> 1;
                    }
                    if ((nibble & 4) != 0) {
                        diff += step;
                    }
                    pred[c] = Clamp16((nibble & 8) != 0 ? pred[c] - diff : pred[c] + diff);
                    index[c] = std::clamp(index[c] + kImaIndex[nibble & 7], 0, 88);
                    const DWORD sample = 1 + g * 8 + static_cast<DWORD>(k);
                    Put16(out + (sample * static_cast<DWORD>(ch) + static_cast<DWORD>(c)) * 2, pred[c]);
                }
            }
        }
    }
};

bool ImaShape(const WAVEFORMATEX& s) {
    const DWORD ch = s.nChannels;
    return s.wFormatTag == kTagImaAdpcm && s.wBitsPerSample == 4 && (ch == 1 || ch == 2) &&
           SupportedRate(s.nSamplesPerSec) && s.nBlockAlign > 4 * ch &&
           (s.nBlockAlign - 4 * ch) % (4 * ch) == 0;
}

DWORD ImaSamplesPerBlock(const WAVEFORMATEX& s) {
    return (s.nBlockAlign - 4u * s.nChannels) * 2u / s.nChannels + 1u;
}

class ImaDriverImpl final : public Driver {
public:
    bool Supports(const WAVEFORMATEX& s, const WAVEFORMATEX& d) const override {
        return ImaShape(s) && SameShape(s, d);
    }
    bool Suggest(const WAVEFORMATEX& s, const WAVEFORMATEX& want, DWORD flags,
                 WAVEFORMATEX& out) const override {
        return ImaShape(s) && SuggestPcm16(s, want, flags, out);
    }
    std::unique_ptr<Codec> Open(const WAVEFORMATEX& s, const WAVEFORMATEX&, bool) const override {
        return std::make_unique<ImaCodec>(s.nBlockAlign, ImaSamplesPerBlock(s), s.nChannels);
    }
};

// ---- Microsoft ADPCM ----

const int kMsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
const int kMsCoefs[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

struct MsCoefs {
    std::vector<std::pair<int, int>> pairs;
};

// The coefficient sets from the format's extra bytes, or the standard seven.
MsCoefs ReadCoefs(const WAVEFORMATEX& s) {
    MsCoefs c;
    const auto* extra = reinterpret_cast<const BYTE*>(&s) + sizeof(WAVEFORMATEX);
    if (s.cbSize >= 4) {
        int count = static_cast<std::uint16_t>(Le16(extra + 2));
        if (count >= 1 && 4 + 4 * count <= s.cbSize) {
            for (int i = 0; i < count; ++i) {
                c.pairs.emplace_back(Le16(extra + 4 + 4 * i), Le16(extra + 6 + 4 * i));
            }
            return c;
        }
    }
    for (const auto& p : kMsCoefs) {
        c.pairs.emplace_back(p[0], p[1]);
    }
    return c;
}

class MsCodec final : public BlockCodec {
public:
    MsCodec(DWORD blockAlign, DWORD spb, int channels, MsCoefs coefs)
        : BlockCodec(blockAlign, spb, channels), coefs_(std::move(coefs)) {}

protected:
    void DecodeBlock(const BYTE* block, BYTE* out) override {
        const int ch = channels_;
        int c1[2] = {0, 0}, c2[2] = {0, 0}, delta[2] = {16, 16}, s1[2] = {0, 0}, s2[2] = {0, 0};
        const BYTE* p = block;
        for (int c = 0; c < ch; ++c) {
            std::size_t pred = std::min<std::size_t>(p[c], coefs_.pairs.size() - 1);
            c1[c] = coefs_.pairs[pred].first;
            c2[c] = coefs_.pairs[pred].second;
        }
        p += ch;
        for (int c = 0; c < ch; ++c) {
            delta[c] = Le16(p + 2 * c);
        }
        p += 2 * ch;
        for (int c = 0; c < ch; ++c) {
            s1[c] = Le16(p + 2 * c);
        }
        p += 2 * ch;
        for (int c = 0; c < ch; ++c) {
            s2[c] = Le16(p + 2 * c);
        }
        p += 2 * ch;
        // The two header samples come first, the older one first.
        for (int c = 0; c < ch; ++c) {
            Put16(out + 2 * c, s2[c]);
            Put16(out + 2 * (ch + c), s1[c]);
        }
        const DWORD nibbles = (spb_ - 2) * static_cast<DWORD>(ch);
        for (DWORD i = 0; i < nibbles; ++i) {
            const int c = ch == 2 ? static_cast<int>(i % 2) : 0;
            const int code = (i % 2 == 0) ? (p[i / 2] >> 4) : (p[i / 2] & 0x0F);
            const int step = delta[c];
            delta[c] = std::max(16, (kMsAdapt[code] * step) >> 8);
            const int predicted = (s1[c] * c1[c] + s2[c] * c2[c]) >> 8;
            const int signedCode = code - ((code & 8) << 1);
            const int sample = Clamp16(predicted + signedCode * step);
            s2[c] = s1[c];
            s1[c] = sample;
            Put16(out + (2 * static_cast<DWORD>(ch) + i) * 2, sample);
        }
    }

private:
    MsCoefs coefs_;
};

bool MsShape(const WAVEFORMATEX& s) {
    const DWORD ch = s.nChannels;
    return s.wFormatTag == kTagMsAdpcm && s.wBitsPerSample == 4 && (ch == 1 || ch == 2) &&
           SupportedRate(s.nSamplesPerSec) && s.nBlockAlign > 7 * ch;
}

class MsDriverImpl final : public Driver {
public:
    bool Supports(const WAVEFORMATEX& s, const WAVEFORMATEX& d) const override {
        return MsShape(s) && SameShape(s, d);
    }
    bool Suggest(const WAVEFORMATEX& s, const WAVEFORMATEX& want, DWORD flags,
                 WAVEFORMATEX& out) const override {
        return MsShape(s) && SuggestPcm16(s, want, flags, out);
    }
    std::unique_ptr<Codec> Open(const WAVEFORMATEX& s, const WAVEFORMATEX&, bool) const override {
        const DWORD spb = (s.nBlockAlign - 7u * s.nChannels) * 2u / s.nChannels + 2u;
        return std::make_unique<MsCodec>(s.nBlockAlign, spb, s.nChannels, ReadCoefs(s));
    }
};

} // namespace

const Driver& ImaAdpcmDriver() {
    static ImaDriverImpl driver;
    return driver;
}

const Driver& MsAdpcmDriver() {
    static MsDriverImpl driver;
    return driver;
}

} // namespace tunefold::platform::acm
