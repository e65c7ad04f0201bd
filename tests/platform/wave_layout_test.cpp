// Uncompressed WAVE records as the compression manager's PCM driver reads them: which records it
// takes, and where each channel of a many-channel frame lands in the stereo it makes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/acm/acm.h"
#include "platform/wave_layout.h"

namespace tunefold::platform {
namespace {

// WAVEFORMATEXTENSIBLE: the record, then valid bits, channel mask and the sub-format GUID.
struct Extensible {
    WAVEFORMATEX f{};
    BYTE extra[22] = {};
};

Extensible MakeExtensible(int channels, int bits, DWORD mask, WORD subFormat) {
    Extensible e;
    e.f.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    e.f.nChannels = static_cast<WORD>(channels);
    e.f.nSamplesPerSec = 48000;
    e.f.wBitsPerSample = static_cast<WORD>(bits);
    e.f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    e.f.nAvgBytesPerSec = e.f.nBlockAlign * 48000u;
    e.f.cbSize = 22;
    e.extra[0] = static_cast<BYTE>(bits);
    std::memcpy(e.extra + 2, &mask, 4);
    static const BYTE tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    e.extra[6] = static_cast<BYTE>(subFormat);
    e.extra[7] = static_cast<BYTE>(subFormat >> 8);
    std::memcpy(e.extra + 10, tail, sizeof tail);
    return e;
}

TEST(WaveLayout, TakesUncompressedRecordsOnly) {
    WaveLayout l;
    Extensible e = MakeExtensible(6, 24, 0x3F, WAVE_FORMAT_PCM);
    ASSERT_TRUE(ReadWaveLayout(e.f, l));
    EXPECT_FALSE(l.isFloat);
    EXPECT_EQ(l.bits, 24);
    EXPECT_EQ(l.channelMask, 0x3Fu);

    Extensible f = MakeExtensible(2, 32, 0x3, WAVE_FORMAT_IEEE_FLOAT);
    ASSERT_TRUE(ReadWaveLayout(f.f, l));
    EXPECT_TRUE(l.isFloat);

    Extensible adpcm = MakeExtensible(2, 16, 0x3, 2); // a compressed sub-format
    EXPECT_FALSE(ReadWaveLayout(adpcm.f, l));
    Extensible guid = MakeExtensible(2, 16, 0x3, WAVE_FORMAT_PCM);
    guid.extra[21] ^= 1; // not the WAVE sub-format family
    EXPECT_FALSE(ReadWaveLayout(guid.f, l));
    Extensible shortExtra = MakeExtensible(2, 16, 0x3, WAVE_FORMAT_PCM);
    shortExtra.f.cbSize = 21;
    EXPECT_FALSE(ReadWaveLayout(shortExtra.f, l));
    Extensible block = MakeExtensible(2, 24, 0x3, WAVE_FORMAT_PCM);
    block.f.nBlockAlign = 8; // 24 bits in 32-bit slots claim a size that is not 2 x 3 bytes
    EXPECT_FALSE(ReadWaveLayout(block.f, l));
    Extensible many = MakeExtensible(9, 16, 0x1FF, WAVE_FORMAT_PCM);
    EXPECT_FALSE(ReadWaveLayout(many.f, l));
    // A mask that names too few speakers is the default order.
    Extensible unnamed = MakeExtensible(6, 16, 0, WAVE_FORMAT_PCM);
    ASSERT_TRUE(ReadWaveLayout(unnamed.f, l));
    EXPECT_EQ(l.channelMask, 0x3Fu);

    WAVEFORMATEX floats{3, 2, 44100, 44100 * 8, 8, 32, 0};
    EXPECT_TRUE(ReadWaveLayout(floats, l));
    WAVEFORMATEX float16{3, 2, 44100, 44100 * 4, 4, 16, 0};
    EXPECT_FALSE(ReadWaveLayout(float16, l));
}

// One 16-bit frame of `channels` samples through the PCM driver to 16-bit stereo.
std::vector<std::int16_t> ToStereo(const WAVEFORMATEX& from, const std::vector<std::int16_t>& frame) {
    WAVEFORMATEX to{WAVE_FORMAT_PCM, 2, from.nSamplesPerSec, from.nSamplesPerSec * 4, 4, 16, 0};
    HACMSTREAM stream = nullptr;
    EXPECT_EQ(acmStreamOpen(&stream, nullptr, &from, &to, nullptr, 0, 0, 0), 0u);
    std::vector<std::int16_t> src = frame, dst(2);
    ACMSTREAMHEADER h;
    h.pbSrc = reinterpret_cast<BYTE*>(src.data());
    h.cbSrcLength = static_cast<DWORD>(src.size() * 2);
    h.pbDst = reinterpret_cast<BYTE*>(dst.data());
    h.cbDstLength = 4;
    EXPECT_EQ(acmStreamPrepareHeader(stream, &h, 0), 0u);
    EXPECT_EQ(acmStreamConvert(stream, &h, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END), 0u);
    EXPECT_EQ(h.cbDstLengthUsed, 4u);
    acmStreamUnprepareHeader(stream, &h, 0);
    acmStreamClose(stream, 0);
    return dst;
}

TEST(WaveLayout, EveryChannelLandsWhereItsSpeakerIs) {
    // 5.1 in file order: front left, right, centre, low frequency, back left, back right.
    Extensible five = MakeExtensible(6, 16, 0x3F, WAVE_FORMAT_PCM);
    EXPECT_EQ(ToStereo(five.f, {1000, 0, 0, 0, 0, 0}), (std::vector<std::int16_t>{1000, 0}));
    EXPECT_EQ(ToStereo(five.f, {0, 0, 1000, 0, 0, 0}), (std::vector<std::int16_t>{707, 707}));
    EXPECT_EQ(ToStereo(five.f, {0, 0, 0, 20000, 0, 0}), (std::vector<std::int16_t>{0, 0}));
    EXPECT_EQ(ToStereo(five.f, {0, 0, 0, 0, 0, 1000}), (std::vector<std::int16_t>{0, 707}));
    // Everything at full scale sums past it: the result saturates instead of wrapping.
    EXPECT_EQ(ToStereo(five.f, {32767, -32768, 32767, 0, 32767, -32768}),
              (std::vector<std::int16_t>{32767, -32768}));
    // Quad on the side speakers: the mask, not the position in the frame, decides.
    const DWORD sides = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_SIDE_LEFT | SPEAKER_SIDE_RIGHT;
    Extensible quad = MakeExtensible(4, 16, sides, WAVE_FORMAT_PCM);
    EXPECT_EQ(ToStereo(quad.f, {0, 0, 0, -1000}), (std::vector<std::int16_t>{0, -707}));
    // Plain mono fills both sides at full level.
    WAVEFORMATEX mono24{WAVE_FORMAT_PCM, 1, 48000, 48000 * 3, 3, 24, 0};
    WAVEFORMATEX to{WAVE_FORMAT_PCM, 2, 48000, 48000 * 4, 4, 16, 0};
    HACMSTREAM stream = nullptr;
    ASSERT_EQ(acmStreamOpen(&stream, nullptr, &mono24, &to, nullptr, 0, 0, 0), 0u);
    BYTE src[3] = {0x80, 0x34, 0x12}; // 0x123480: rounds up to 0x1235
    std::int16_t dst[2] = {};
    ACMSTREAMHEADER h;
    h.pbSrc = src;
    h.cbSrcLength = 3;
    h.pbDst = reinterpret_cast<BYTE*>(dst);
    h.cbDstLength = 4;
    ASSERT_EQ(acmStreamPrepareHeader(stream, &h, 0), 0u);
    ASSERT_EQ(acmStreamConvert(stream, &h, ACM_STREAMCONVERTF_END), 0u);
    EXPECT_EQ(dst[0], 0x1235);
    EXPECT_EQ(dst[1], 0x1235);
    acmStreamUnprepareHeader(stream, &h, 0);
    acmStreamClose(stream, 0);
}

} // namespace
} // namespace tunefold::platform
