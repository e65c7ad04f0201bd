#include "engine/framework/pcm.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale>

#include "engine/framework/errors.h"

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#define TUNEFOLD_X86_KERNELS 1
#endif

namespace tunefold {

void WaveFormatDeleter::operator()(WAVEFORMATEX* format) const noexcept {
    std::free(format);
}

bool IsValidPCMFormat(const WAVEFORMATEX* f) {
    return f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM &&
           (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) && (f->nChannels == 1 || f->nChannels == 2) &&
           f->nSamplesPerSec >= 4000 && f->nSamplesPerSec <= 100000;
}

void MakePCMFormat(WAVEFORMATEX& f, int bits, int channels, DWORD rate) {
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<WORD>(channels);
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = static_cast<WORD>(bits);
    f.nBlockAlign = static_cast<WORD>((bits * channels) / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    f.cbSize = 0;
}

std::size_t WaveFormatSize(const WAVEFORMATEX* f) {
    if (f == nullptr) {
        return 0;
    }
    if (f->wFormatTag == WAVE_FORMAT_PCM) {
        return sizeof(WAVEFORMATEX);
    }
    return sizeof(WAVEFORMATEX) + f->cbSize;
}

WaveFormatPtr DuplicateWaveFormat(const WAVEFORMATEX* f) {
    std::size_t size = WaveFormatSize(f);
    if (size == 0) {
        return nullptr;
    }
    void* block = std::calloc(1, size);
    if (block == nullptr) {
        throw EOutOfMemory("Out of memory");
    }
    std::memcpy(block, f, size);
    auto* copy = static_cast<WAVEFORMATEX*>(block);
    if (copy->wFormatTag == WAVE_FORMAT_PCM) {
        copy->cbSize = 0;
    }
    return WaveFormatPtr(copy);
}

void ReleaseWaveFormat(WaveFormatPtr& f) {
    f.reset();
}

bool WaveFormatsDiffer(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
    if (a == nullptr || b == nullptr) {
        return false;
    }
    return a->wFormatTag != b->wFormatTag || a->wBitsPerSample != b->wBitsPerSample ||
           a->nChannels != b->nChannels || a->nSamplesPerSec != b->nSamplesPerSec;
}

namespace {
struct TagName {
    WORD tag;
    const char* name;
};
// Searched top to bottom: the first match wins (17 is "IMA ADPCM", 48 and 521 are both "Dolby AC2").
constexpr TagName kTagNames[] = {
    {0, "Unknown"},
    {1, "PCM"},
    {524, "PCM 32"},
    {2, "Microsoft ADPCM"},
    {3, "Mediavision's ADPCM"},
    {5, "IBM CVSD"},
    {6, "CCITT A-Law"},
    {7, "CCITT mu-Law"},
    {16, "OKI ADPCM"},
    {17, "IMA ADPCM"},
    {17, "DVI ADPCM"},
    {18, "Mediaspace's ADPCM"},
    {19, "Sierra's ADPCM"},
    {20, "CCITT G.723 ADPCM"},
    {21, "Digisound DIGISTD"},
    {22, "Digisound DIGIFIX"},
    {23, "Dialogic OKI ADPCM"},
    {32, "Yamaha ADPCM"},
    {33, "Sonarc"},
    {34, "DSP Group's Truespeech"},
    {35, "Echo SC1"},
    {36, "Audiofile AF36"},
    {37, "Audio Processing Technology"},
    {38, "Audiofile AF10"},
    {48, "Dolby AC2"},
    {521, "Dolby AC2"},
    {49, "GSM 6.10"},
    {51, "Antex ADPCME"},
    {57, "CS IMA ADPCM"},
    {64, "CCITT G.721 ADPCM"},
    {80, "MPEG 1"},
    {85, "MPEG Layer-3"},
    {512, "Creative's ADPCM"},
    {4097, "Olivetti's ADPCM"},
    {516, "CDI-C"},
    {517, "CDI-B"},
    {518, "Antex-DVI-OKI ADPCME"},
    {65535, "*DEVELOPMENT ONLY TAG*"},
};

std::atomic<char> listSeparator{','};
std::atomic<char> decimalSeparator{'.'};

// The user's regional settings: the decimal separator of the environment's locale; the list
// separator is "," unless the decimal separator is itself ",", where ";" keeps lists readable.
void ReadSeparators() {
    try {
        std::locale user("");
        char decimal = std::use_facet<std::numpunct<char>>(user).decimal_point();
        if (decimal != '\0') {
            decimalSeparator = decimal;
            listSeparator = decimal == ',' ? ';' : ',';
        }
    } catch (const std::exception&) {
        // An unknown locale name keeps the characters read last.
    }
}
} // namespace

std::string FormatTagName(WORD tag) {
    for (const TagName& t : kTagNames) {
        if (t.tag == tag) {
            return t.name;
        }
    }
    return "Unknown";
}

std::string FormatTagName(const WAVEFORMATEX* f) {
    return f == nullptr ? "Unknown" : FormatTagName(f->wFormatTag);
}

std::pair<char, char> LastFormatSeparators() {
    return {listSeparator.load(), decimalSeparator.load()};
}

std::string FormatDescription(const WAVEFORMATEX* f) {
    if (f == nullptr) {
        return "Unknown";
    }
    ReadSeparators();
    const char list = listSeparator;
    const char decimal = decimalSeparator;
    // A record without rate or channels has no bits per sample to speak of: it reads as 0 Bit.
    unsigned bits = 0;
    if (f->nSamplesPerSec != 0 && f->nChannels != 0) {
        bits = static_cast<unsigned>((static_cast<std::uint64_t>(f->nAvgBytesPerSec) * 8) /
                                     f->nSamplesPerSec / f->nChannels);
    }
    char text[128];
    const unsigned khz = f->nSamplesPerSec / 1000;
    const unsigned frac = f->nSamplesPerSec % 1000;
    if (f->nChannels == 1 || f->nChannels == 2) {
        std::snprintf(text, sizeof text, "%u%c%03u kHz%c %u Bit%c %s", khz, decimal, frac, list, bits, list,
                      f->nChannels == 1 ? "Mono" : "Stereo");
    } else {
        std::snprintf(text, sizeof text, "%u%c%03u kHz%c %u Bit%c %u Channels", khz, decimal, frac, list,
                      bits, list, static_cast<unsigned>(f->nChannels));
    }
    return text;
}

// ---- conversions ----

namespace {
std::int32_t RoundUpToBlock(std::int32_t bytes, WORD blockAlign) {
    if (blockAlign == 0) {
        return bytes;
    }
    std::int32_t rest = bytes % blockAlign;
    return rest == 0 ? bytes : bytes + (blockAlign - rest);
}
std::int32_t AsInt(DWORD v) {
    return static_cast<std::int32_t>(v);
}
} // namespace

std::int32_t BytesToSamples(const WAVEFORMATEX& f, std::int32_t bytes) {
    return MulDivRound(bytes, AsInt(f.nSamplesPerSec), AsInt(f.nAvgBytesPerSec));
}
std::int32_t BytesToMs(const WAVEFORMATEX& f, std::int32_t bytes) {
    return MulDivRound(bytes, 1000, AsInt(f.nAvgBytesPerSec));
}
std::int32_t SamplesToBytes(const WAVEFORMATEX& f, std::int32_t samples) {
    return RoundUpToBlock(MulDivRound(samples, AsInt(f.nAvgBytesPerSec), AsInt(f.nSamplesPerSec)),
                          f.nBlockAlign);
}
std::int32_t SamplesToMs(const WAVEFORMATEX& f, std::int32_t samples) {
    return MulDivRound(samples, 1000, AsInt(f.nSamplesPerSec));
}
std::int32_t MsToSamples(const WAVEFORMATEX& f, std::int32_t ms) {
    return MulDivRound(ms, AsInt(f.nSamplesPerSec), 1000);
}
std::int32_t MsToBytes(const WAVEFORMATEX& f, std::int32_t ms) {
    return RoundUpToBlock(MulDivRound(ms, AsInt(f.nAvgBytesPerSec), 1000), f.nBlockAlign);
}
std::int64_t SamplesToBytes64(const WAVEFORMATEX& f, std::int64_t samples) {
    if (f.nSamplesPerSec == 0) {
        return 0;
    }
    auto bytes =
        static_cast<std::int64_t>(static_cast<Extended>(samples) * f.nAvgBytesPerSec / f.nSamplesPerSec);
    if (f.nBlockAlign != 0 && bytes % f.nBlockAlign != 0) {
        bytes += f.nBlockAlign - bytes % f.nBlockAlign;
    }
    return bytes;
}
std::int64_t SamplesToMs64(const WAVEFORMATEX& f, std::int64_t samples) {
    if (f.nSamplesPerSec == 0) {
        return 0;
    }
    return static_cast<std::int64_t>(static_cast<Extended>(samples) * 1000 / f.nSamplesPerSec);
}

// ---- sample routines ----

namespace {
template <typename Wide>
bool Scale16(std::int16_t* s, std::size_t count, std::size_t stride, Wide gain) {
    int clipped = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Wide v = (static_cast<Wide>(s[i * stride]) * gain) >> 14;
        clipped |= (v > 32767) | (v < -32768);
        v = v > 32767 ? 32767 : (v < -32768 ? -32768 : v);
        s[i * stride] = static_cast<std::int16_t>(v);
    }
    return clipped != 0;
}

template <typename Wide>
bool Scale16Stereo(std::int16_t* s, std::size_t frames, Wide left, Wide right) {
    int clipped = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        Wide l = (static_cast<Wide>(s[2 * i]) * left) >> 14;
        Wide r = (static_cast<Wide>(s[2 * i + 1]) * right) >> 14;
        clipped |= (l > 32767) | (l < -32768) | (r > 32767) | (r < -32768);
        s[2 * i] = static_cast<std::int16_t>(l > 32767 ? 32767 : (l < -32768 ? -32768 : l));
        s[2 * i + 1] = static_cast<std::int16_t>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
    }
    return clipped != 0;
}

template <typename Wide>
bool Scale8(std::uint8_t* s, std::size_t count, std::size_t stride, Wide gain) {
    int clipped = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Wide v = (static_cast<Wide>(static_cast<int>(s[i * stride]) - 128) * gain) >> 14;
        clipped |= (v > 127) | (v < -128);
        v = v > 127 ? 127 : (v < -128 ? -128 : v);
        s[i * stride] = static_cast<std::uint8_t>(v + 128);
    }
    return clipped != 0;
}

#if TUNEFOLD_X86_KERNELS
// 16-bit samples times gains in 0..65535, eight or sixteen at a time. The signed x unsigned product is
// rebuilt from the unsigned high half (corrected for negative samples) and the low half, shifted by 14
// (floor) and packed back with signed saturation; lanes beyond the 16-bit range are flagged as clipped.
// `pattern` holds the gain of every lane: one gain for mono, left/right alternating for stereo.
template <bool SignedGain>
__attribute__((target("avx2"))) bool Scale16Avx2(std::int16_t* s, std::size_t count, std::uint16_t left,
                                                 std::uint16_t right, std::size_t& done) {
    const __m256i gain =
        _mm256_set_epi16(static_cast<short>(right), static_cast<short>(left), static_cast<short>(right),
                         static_cast<short>(left), static_cast<short>(right), static_cast<short>(left),
                         static_cast<short>(right), static_cast<short>(left), static_cast<short>(right),
                         static_cast<short>(left), static_cast<short>(right), static_cast<short>(left),
                         static_cast<short>(right), static_cast<short>(left), static_cast<short>(right),
                         static_cast<short>(left));
    // Tracking the extremes costs less per vector than testing every lane against both limits.
    __m256i highest = _mm256_set1_epi32(0);
    __m256i lowest = _mm256_set1_epi32(0);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        __m256i lo = _mm256_mullo_epi16(x, gain);
        // Gains below 32768 are plain signed words; larger ones need the unsigned product corrected.
        __m256i hi = SignedGain ? _mm256_mulhi_epi16(x, gain)
                                : _mm256_sub_epi16(_mm256_mulhi_epu16(x, gain),
                                                   _mm256_and_si256(_mm256_srai_epi16(x, 15), gain));
        __m256i p0 = _mm256_srai_epi32(_mm256_unpacklo_epi16(lo, hi), 14);
        __m256i p1 = _mm256_srai_epi32(_mm256_unpackhi_epi16(lo, hi), 14);
        highest = _mm256_max_epi32(highest, _mm256_max_epi32(p0, p1));
        lowest = _mm256_min_epi32(lowest, _mm256_min_epi32(p0, p1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(s + i), _mm256_packs_epi32(p0, p1));
    }
    done = i;
    const __m256i over = _mm256_or_si256(_mm256_cmpgt_epi32(highest, _mm256_set1_epi32(32767)),
                                         _mm256_cmpgt_epi32(_mm256_set1_epi32(-32768), lowest));
    return _mm256_movemask_epi8(over) != 0;
}

bool Scale16Sse2(std::int16_t* s, std::size_t count, std::uint16_t left, std::uint16_t right,
                 std::size_t& done) {
    const __m128i gain =
        _mm_set_epi16(static_cast<short>(right), static_cast<short>(left), static_cast<short>(right),
                      static_cast<short>(left), static_cast<short>(right), static_cast<short>(left),
                      static_cast<short>(right), static_cast<short>(left));
    const __m128i hiLimit = _mm_set1_epi32(32767);
    const __m128i loLimit = _mm_set1_epi32(-32768);
    __m128i clipped = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i lo = _mm_mullo_epi16(x, gain);
        __m128i hi = _mm_sub_epi16(_mm_mulhi_epu16(x, gain), _mm_and_si128(_mm_srai_epi16(x, 15), gain));
        __m128i p0 = _mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 14);
        __m128i p1 = _mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 14);
        clipped =
            _mm_or_si128(clipped, _mm_or_si128(_mm_cmpgt_epi32(p0, hiLimit), _mm_cmplt_epi32(p0, loLimit)));
        clipped =
            _mm_or_si128(clipped, _mm_or_si128(_mm_cmpgt_epi32(p1, hiLimit), _mm_cmplt_epi32(p1, loLimit)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s + i), _mm_packs_epi32(p0, p1));
    }
    done = i;
    return _mm_movemask_epi8(clipped) != 0;
}

#endif

// 2: AVX2 where the processor has it, 1: SSE2, 0: plain loops (tests pin each level).
std::atomic<int> kernelLevel {
#if TUNEFOLD_X86_KERNELS
    __builtin_cpu_supports("avx2") ? 2 : 1
#else
    0
#endif
};

// The vector kernels take interleaved samples whose gains alternate left/right (equal for mono).
bool Scale16Fast(std::int16_t* s, std::size_t count, std::int32_t left, std::int32_t right,
                 std::size_t& done) {
    done = 0;
#if TUNEFOLD_X86_KERNELS
    if (left >= 0 && left <= 65535 && right >= 0 && right <= 65535) {
        const auto l = static_cast<std::uint16_t>(left);
        const auto r = static_cast<std::uint16_t>(right);
        const int level = kernelLevel.load(std::memory_order_relaxed);
        if (level == 0) {
            return false;
        }
        if (level == 1) {
            return Scale16Sse2(s, count, l, r, done);
        }
        return (l < 32768 && r < 32768) ? Scale16Avx2<true>(s, count, l, r, done)
                                        : Scale16Avx2<false>(s, count, l, r, done);
    }
#else
    (void)s;
    (void)count;
    (void)left;
    (void)right;
#endif
    return false;
}

// Products of 16-bit samples and gains within this range fit in 32 bits.
bool FitsIn32(std::int32_t gain) {
    return gain >= -65536 && gain <= 65535;
}

template <typename Wide>
bool ScaleWith(const WAVEFORMATEX& f, void* data, std::uint32_t bytes, Wide left, Wide right) {
    if (f.wBitsPerSample == 8) {
        auto* s = static_cast<std::uint8_t*>(data);
        if (f.nChannels == 1) {
            return Scale8<Wide>(s, bytes, 1, left);
        }
        std::size_t frames = bytes / 2;
        bool l = Scale8<Wide>(s, frames, 2, left);
        bool r = Scale8<Wide>(s + 1, frames, 2, right);
        return l || r;
    }
    auto* s = static_cast<std::int16_t*>(data);
    const bool mono = f.nChannels == 1;
    const std::size_t samples = mono ? bytes / 2 : (bytes / 4) * 2;
    std::size_t done = 0;
    bool clipped = Scale16Fast(s, samples, static_cast<std::int32_t>(left),
                               static_cast<std::int32_t>(mono ? left : right), done);
    if (mono) {
        return Scale16<Wide>(s + done, samples - done, 1, left) || clipped;
    }
    return Scale16Stereo<Wide>(s + done, (samples - done) / 2, left, right) || clipped;
}
} // namespace

int SetSampleKernelLevel(int level) {
    int best = 0;
#if TUNEFOLD_X86_KERNELS
    best = __builtin_cpu_supports("avx2") ? 2 : 1;
#endif
    int chosen = level < 0 ? best : std::min(level, best);
    kernelLevel.store(chosen);
    return chosen;
}

bool ScaleSamples(const WAVEFORMATEX* f, void* data, std::uint32_t bytes, std::int32_t leftGain,
                  std::int32_t rightGain) {
    if (f == nullptr || f->wFormatTag != WAVE_FORMAT_PCM || data == nullptr) {
        return false;
    }
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) {
        return false;
    }
    if (f->nChannels != 1 && f->nChannels != 2) {
        return false;
    }
    const bool stereo = f->nChannels == 2;
    if (leftGain == 16384 && (!stereo || rightGain == 16384)) {
        return false;
    }
    if (FitsIn32(leftGain) && FitsIn32(rightGain)) {
        return ScaleWith<std::int32_t>(*f, data, bytes, leftGain, rightGain);
    }
    return ScaleWith<std::int64_t>(*f, data, bytes, leftGain, rightGain);
}

std::int32_t FindTrigger(const WAVEFORMATEX* f, const void* data, std::uint32_t bytes, int level,
                         TMMTriggerMode mode, TMMChannel channel) {
    if (mode == tmNone || bytes == 0 || f == nullptr || data == nullptr || f->nBlockAlign == 0) {
        return -1;
    }
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) {
        return -1;
    }
    if (mode == tmDownFlank) {
        level = -level;
    }
    const bool eight = f->wBitsPerSample == 8;
    const int threshold = eight ? static_cast<int>(level * 127 / 100.0) + 128 : level * 327;
    const bool stereo = f->nChannels == 2;
    const std::int64_t frames = bytes / f->nBlockAlign;
    const auto* b = static_cast<const std::uint8_t*>(data);
    const int bytesPerSample = eight ? 1 : 2;

    auto sample = [&](std::int64_t frame, int ch) -> int {
        std::size_t at =
            static_cast<std::size_t>(frame) * f->nBlockAlign + static_cast<std::size_t>(ch * bytesPerSample);
        if (eight) {
            return b[at];
        }
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)));
    };
    auto crosses = [&](int a, int c) {
        return mode == tmUpFlank ? (a < threshold && c >= threshold) : (a > threshold && c <= threshold);
    };

    for (std::int64_t i = 0; i + 2 < frames; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            if (stereo) {
                if ((ch == 0 && channel == chRight) || (ch == 1 && channel == chLeft)) {
                    continue;
                }
            } else if (ch == 1) {
                break;
            }
            if (crosses(sample(i, ch), sample(i + 1, ch))) {
                return static_cast<std::int32_t>((i + 1) * f->nBlockAlign + ch * bytesPerSample);
            }
        }
    }
    return -1;
}

// ---- numeric routines ----

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
    if (c == 0) {
        return -1;
    }
    return static_cast<std::int32_t>(static_cast<std::int64_t>(a) * b / c);
}

std::int32_t MulDivRound(std::int32_t a, std::int32_t b, std::int32_t c) {
    if (c == 0) {
        return -1;
    }
    const std::int64_t p = static_cast<std::int64_t>(a) * b;
    const std::int64_t q = p / c;
    const std::int64_t r = p % c;
    return static_cast<std::int32_t>(q + (2 * r) / c);
}

std::uint32_t MulDivRoundUnsigned(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    if (c == 0) {
        return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(a) * b + c / 2) / c);
}

void DivMod16(std::uint32_t dividend, std::uint16_t divisor, std::uint16_t& quotient,
              std::uint16_t& remainder) {
    if (divisor == 0) {
        quotient = 0xFFFF;
        remainder = 0;
        return;
    }
    quotient = static_cast<std::uint16_t>(dividend / divisor);
    remainder = static_cast<std::uint16_t>(dividend % divisor);
}

void FillBytes(void* data, std::size_t count, std::uint8_t value) {
    if (count != 0) {
        std::memset(data, value, count);
    }
}

void MoveBytes(const void* source, void* destination, std::size_t count) {
    if (count != 0) {
        std::memmove(destination, source, count);
    }
}

std::int64_t Floor(Extended x) {
    auto t = static_cast<std::int64_t>(x); // truncation
    if (x - static_cast<Extended>(t) < 0) {
        --t;
    }
    return t;
}

Extended ArcTan2(Extended y, Extended x) {
    return std::atan2(y, x);
}

Extended Log2(Extended x) {
    return std::log2(x);
}

Extended Ln(Extended x) {
    return std::log2(x) * 0.693147180559945309417232121458176568L;
}

Extended Log10(Extended x) {
    return std::log2(x) * 0.301029995663981195213738894724493027L;
}

Extended Power(Extended base, Extended exponent) {
    if (exponent == 0) {
        return 1;
    }
    if (base == 0) {
        return exponent > 0 ? 0.0L : HUGE_VALL;
    }
    if (base < 0) {
        // A negative base has a real power only for whole exponents.
        if (std::floor(exponent) != exponent) {
            return std::nanl("");
        }
        Extended magnitude = std::exp2(exponent * std::log2(-base));
        return std::fmod(std::fabs(exponent), 2.0L) == 1.0L ? -magnitude : magnitude;
    }
    return std::exp2(exponent * std::log2(base));
}

} // namespace tunefold
