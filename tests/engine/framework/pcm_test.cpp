#include "engine/framework/pcm.h"

#include "support/test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace tunefold {
namespace {

WAVEFORMATEX Pcm(int bits, int channels, DWORD rate) {
    WAVEFORMATEX f{};
    MakePCMFormat(f, bits, channels, rate);
    return f;
}

TEST(PcmFormat, ValidityBoundaries) {
    WAVEFORMATEX lowest = Pcm(16, 2, 4000);
    EXPECT_TRUE(IsValidPCMFormat(&lowest));
    auto ok = [](WAVEFORMATEX f) { return IsValidPCMFormat(&f); };
    EXPECT_TRUE(ok(Pcm(8, 1, 100000)));
    EXPECT_FALSE(ok(Pcm(16, 2, 3999)));
    EXPECT_FALSE(ok(Pcm(16, 2, 100001)));
    EXPECT_FALSE(ok(Pcm(24, 2, 44100)));
    EXPECT_FALSE(ok(Pcm(16, 3, 44100)));
    WAVEFORMATEX adpcm = Pcm(16, 2, 44100);
    adpcm.wFormatTag = 2;
    EXPECT_FALSE(ok(adpcm));
    EXPECT_FALSE(IsValidPCMFormat(nullptr));
}

TEST(PcmFormat, MakeAndDuplicate) {
    WAVEFORMATEX f = Pcm(16, 2, 44100);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(f.cbSize, 0);

    // A PCM record claiming 22 extra bytes is copied as 18 bytes with cbSize 0.
    f.cbSize = 22;
    EXPECT_EQ(WaveFormatSize(&f), 18u);
    WaveFormatPtr copy = DuplicateWaveFormat(&f);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->cbSize, 0);
    EXPECT_EQ(copy->nAvgBytesPerSec, 176400u);

    // A compressed record keeps its extra bytes.
    std::vector<unsigned char> raw(50, 0xAB);
    WAVEFORMATEX adpcm = Pcm(4, 2, 22050);
    adpcm.wFormatTag = 2;
    adpcm.cbSize = 32;
    std::memcpy(raw.data(), &adpcm, sizeof adpcm);
    auto* rec = reinterpret_cast<WAVEFORMATEX*>(raw.data());
    EXPECT_EQ(WaveFormatSize(rec), 50u);
    WaveFormatPtr copy2 = DuplicateWaveFormat(rec);
    ASSERT_TRUE(copy2);
    EXPECT_EQ(std::memcmp(copy2.get(), raw.data(), 50), 0);
    ReleaseWaveFormat(copy2);
    EXPECT_FALSE(copy2);

    EXPECT_FALSE(DuplicateWaveFormat(nullptr));
    EXPECT_EQ(WaveFormatSize(nullptr), 0u);
}

TEST(PcmFormat, DifferAndNames) {
    WAVEFORMATEX a = Pcm(16, 2, 44100);
    WAVEFORMATEX b = Pcm(16, 1, 44100);
    EXPECT_FALSE(WaveFormatsDiffer(&a, nullptr));
    EXPECT_TRUE(WaveFormatsDiffer(&a, &b));
    WAVEFORMATEX c = a;
    c.nBlockAlign = 7;
    c.nAvgBytesPerSec = 1;
    EXPECT_FALSE(WaveFormatsDiffer(&a, &c));

    EXPECT_EQ(FormatTagName(85), "MPEG Layer-3");
    EXPECT_EQ(FormatTagName(4), "Unknown");
    EXPECT_EQ(FormatTagName(17), "IMA ADPCM");
    EXPECT_EQ(FormatTagName(521), "Dolby AC2");
    EXPECT_EQ(FormatTagName(65535), "*DEVELOPMENT ONLY TAG*");
    EXPECT_EQ(FormatTagName(static_cast<const WAVEFORMATEX*>(nullptr)), "Unknown");
}

TEST(PcmFormat, Description) {
    WAVEFORMATEX cd = Pcm(16, 2, 44100);
    EXPECT_EQ(FormatDescription(&cd), "44.100 kHz, 16 Bit, Stereo");
    WAVEFORMATEX low = Pcm(8, 1, 22050);
    EXPECT_EQ(FormatDescription(&low), "22.050 kHz, 8 Bit, Mono");
    WAVEFORMATEX six = Pcm(16, 6, 48000);
    EXPECT_EQ(FormatDescription(&six), "48.000 kHz, 16 Bit, 6 Channels");
    // Compressed formats show their effective bits per sample and channel.
    WAVEFORMATEX mp3 = Pcm(16, 2, 44100);
    mp3.wFormatTag = 85;
    mp3.nAvgBytesPerSec = 16000;
    EXPECT_EQ(FormatDescription(&mp3), "44.100 kHz, 1 Bit, Stereo");
    // Degenerate records do not fault.
    WAVEFORMATEX zero{};
    EXPECT_EQ(FormatDescription(&zero), "0.000 kHz, 0 Bit, 0 Channels");
    WAVEFORMATEX norate = Pcm(16, 2, 0);
    EXPECT_EQ(FormatDescription(&norate), "0.000 kHz, 0 Bit, Stereo");
    EXPECT_EQ(FormatDescription(nullptr), "Unknown");
}

// Builds a German locale into the test sandbox (no system change) and reads the separators from it.
TEST(PcmFormat, DescriptionFollowsLocaleDecimalSeparator) {
    const std::filesystem::path dir = test::Sandbox() / "locales";
    std::filesystem::create_directories(dir);
    const std::string build =
        "localedef -i de_DE -f UTF-8 " + (dir / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
    if (std::system(build.c_str()) != 0) {
        GTEST_SKIP() << "localedef cannot build de_DE here";
    }
    setenv("LOCPATH", dir.c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    WAVEFORMATEX cd = Pcm(16, 2, 44100);
    const std::string german = FormatDescription(&cd);
    setenv("LC_ALL", "C", 1);
    const std::string plain = FormatDescription(&cd);
    unsetenv("LOCPATH");
    EXPECT_EQ(german, "44,100 kHz; 16 Bit; Stereo");
    EXPECT_EQ(plain, "44.100 kHz, 16 Bit, Stereo");
}

TEST(PcmNumeric, MulDivRounding) {
    EXPECT_EQ(MulDivRound(5, 1, 2), 3);
    EXPECT_EQ(MulDivRound(-5, 1, 2), -3);
    EXPECT_EQ(MulDivRound(4, 1, 3), 1);
    EXPECT_EQ(MulDivRound(5, 1, 3), 2);
    EXPECT_EQ(MulDivRound(-4, 1, 3), -1);
    EXPECT_EQ(MulDivRound(7, 1, -2), -4);
    EXPECT_EQ(MulDiv(-7, 1, 2), -3);
    EXPECT_EQ(MulDiv(0x40000000, 4, 8), 0x20000000);
    EXPECT_EQ(MulDivRoundUnsigned(5, 1, 2), 3u);
    EXPECT_EQ(MulDivRoundUnsigned(0xFFFFFFFFu, 2, 4), 0x80000000u);
    std::uint16_t q = 0, r = 0;
    DivMod16(1000, 7, q, r);
    EXPECT_EQ(q, 142);
    EXPECT_EQ(r, 6);
    EXPECT_EQ(Clamp(5, 10, 20), 10);
    EXPECT_EQ(Clamp(25, 10, 20), 20);
    EXPECT_TRUE(InRange(10, 10, 20));
    EXPECT_FALSE(InRange(21, 10, 20));
    EXPECT_EQ(Floor(-1.5L), -2);
    EXPECT_EQ(Floor(-2.0L), -2);
    EXPECT_EQ(Floor(2.7L), 2);
    EXPECT_NEAR(static_cast<double>(Power(10, 0.3L)), 1.9952623149688795, 1e-12);
    EXPECT_NEAR(static_cast<double>(Power(-2, 3)), -8.0, 1e-12);
    EXPECT_NEAR(static_cast<double>(Log10(1000)), 3.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(Ln(2.718281828459045L)), 1.0, 1e-15);
}

TEST(PcmConversions, BlockAlignRounding) {
    WAVEFORMATEX cd = Pcm(16, 2, 44100);
    EXPECT_EQ(SamplesToBytes(cd, 1), 4);
    EXPECT_EQ(BytesToSamples(cd, 176400), 44100);
    EXPECT_EQ(BytesToMs(cd, 176400), 1000);
    EXPECT_EQ(SamplesToMs(cd, 22050), 500);
    EXPECT_EQ(MsToSamples(cd, 1), 44);
    WAVEFORMATEX low = Pcm(8, 1, 22050);
    EXPECT_EQ(MsToBytes(low, 1), 22);
    WAVEFORMATEX mono16 = Pcm(16, 1, 22050);
    EXPECT_EQ(MsToBytes(mono16, 7), 310);
    EXPECT_EQ(SamplesToBytes64(cd, 3000000000LL), 12000000000LL);
    EXPECT_EQ(SamplesToMs64(cd, 44100LL * 3600 * 30), 1000LL * 3600 * 30);
}

TEST(PcmScale, UnityShortcutAndClipping) {
    WAVEFORMATEX mono16 = Pcm(16, 1, 44100);
    std::int16_t s[2] = {20000, -20000};
    EXPECT_FALSE(ScaleSamples(&mono16, s, sizeof s, 16384, 0));
    EXPECT_EQ(s[0], 20000);
    EXPECT_TRUE(ScaleSamples(&mono16, s, sizeof s, 32768, 32768));
    EXPECT_EQ(s[0], 32767);
    EXPECT_EQ(s[1], -32768);

    // Arithmetic shift floors negative products.
    std::int16_t f[1] = {-3};
    EXPECT_FALSE(ScaleSamples(&mono16, f, sizeof f, 8192, 8192));
    EXPECT_EQ(f[0], -2);

    WAVEFORMATEX mono8 = Pcm(8, 1, 8000);
    std::uint8_t b[2] = {0, 255};
    EXPECT_TRUE(ScaleSamples(&mono8, b, sizeof b, 32768, 0));
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 255);

    // Stereo unity shortcut needs both gains at unity.
    WAVEFORMATEX st16 = Pcm(16, 2, 44100);
    std::int16_t st[4] = {1000, 1000, -1000, -1000};
    EXPECT_FALSE(ScaleSamples(&st16, st, sizeof st, 16384, 16384));
    EXPECT_EQ(st[0], 1000);

    // Huge gains do not overflow.
    std::int16_t big[1] = {32767};
    EXPECT_TRUE(ScaleSamples(&mono16, big, sizeof big, 0x7FFFFFFF, 0));
    EXPECT_EQ(big[0], 32767);

    WAVEFORMATEX adpcm = st16;
    adpcm.wFormatTag = 2;
    EXPECT_FALSE(ScaleSamples(&adpcm, st, sizeof st, 0, 0));
    EXPECT_EQ(st[0], 1000);
}

TEST(PcmScale, LeftGainZeroSilencesOnlyLeft) {
    WAVEFORMATEX st16 = Pcm(16, 2, 44100);
    std::vector<std::int16_t> s = {1000, 2000, -3000, 4000, 5, -6};
    EXPECT_FALSE(ScaleSamples(&st16, s.data(), static_cast<std::uint32_t>(s.size() * 2), 0, 16384));
    EXPECT_EQ(s, (std::vector<std::int16_t>{0, 2000, 0, 4000, 0, -6}));

    WAVEFORMATEX st8 = Pcm(8, 2, 22050);
    std::vector<std::uint8_t> b = {10, 20, 200, 250};
    EXPECT_FALSE(ScaleSamples(&st8, b.data(), static_cast<std::uint32_t>(b.size()), 0, 16384));
    EXPECT_EQ(b, (std::vector<std::uint8_t>{128, 20, 128, 250}));
}

TEST(PcmTrigger, OffsetsAndLastFrame) {
    WAVEFORMATEX st16 = Pcm(16, 2, 44100);
    // frame:        0          1            2          3
    std::int16_t s[8] = {0, 0, 0, 20000, 20000, 0, 20000, 20000};
    // Up flank at 50%: right crosses between frames 0 and 1 -> offset of the right sample of frame 1.
    EXPECT_EQ(FindTrigger(&st16, s, sizeof s, 50, tmUpFlank, chBoth), 4 * 0 + 6);
    EXPECT_EQ(FindTrigger(&st16, s, sizeof s, 50, tmUpFlank, chLeft), 4 * 1 + 4);
    // Down flank of the right channel between frames 1 and 2: level is negated, threshold -16350.
    EXPECT_EQ(FindTrigger(&st16, s, sizeof s, 50, tmDownFlank, chRight), -1);
    EXPECT_EQ(FindTrigger(&st16, s, sizeof s, -50, tmDownFlank, chRight), 4 * 1 + 6);
    EXPECT_EQ(FindTrigger(&st16, s, sizeof s, 50, tmNone, chBoth), -1);
    EXPECT_EQ(FindTrigger(&st16, s, 0, 50, tmUpFlank, chBoth), -1);

    // The final frame never takes part in a tested pair.
    WAVEFORMATEX mono8 = Pcm(8, 1, 8000);
    std::uint8_t m[3] = {128, 128, 255};
    EXPECT_EQ(FindTrigger(&mono8, m, 3, 10, tmUpFlank, chRight), -1);
    std::uint8_t m2[4] = {128, 128, 255, 255};
    EXPECT_EQ(FindTrigger(&mono8, m2, 4, 10, tmUpFlank, chRight), 2);
    // 8-bit threshold: trunc(10 * 1.27) + 128 = 140; 139 -> 140 crosses, 141 -> 150 does not.
    std::uint8_t m3[4] = {139, 140, 0, 0};
    EXPECT_EQ(FindTrigger(&mono8, m3, 4, 10, tmUpFlank, chBoth), 1);
    std::uint8_t m4[4] = {141, 150, 0, 0};
    EXPECT_EQ(FindTrigger(&mono8, m4, 4, 10, tmUpFlank, chBoth), -1);
}

} // namespace
} // namespace tunefold

namespace tunefold {
namespace {

// Every kernel level gives the plain formula's result, for every tail length and gain range.
TEST(PcmScale, VectorKernelsMatchTheFormula) {
    std::uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const std::int32_t gains[][2] = {{0, 0},         {1, 16383},   {12000, 20000}, {32767, 32768},
                                     {40000, 65535}, {16384, 100}, {70000, 16384}, {-5000, 8192}};
    for (int level : {0, 1, 2}) {
        const int used = SetSampleKernelLevel(level);
        for (int channels : {1, 2}) {
            WAVEFORMATEX f{};
            MakePCMFormat(f, 16, channels, 44100);
            for (const auto& g : gains) {
                for (std::size_t n = 0; n < 70; ++n) {
                    std::vector<std::int16_t> data(n), expect(n);
                    for (std::size_t i = 0; i < n; ++i) {
                        std::uint32_t r = next();
                        data[i] =
                            static_cast<std::int16_t>(i % 7 == 0 ? (r & 1 ? 32767 : -32768) : (r & 0xFFFF));
                    }
                    bool clip = false;
                    std::size_t whole = channels == 2 ? n & ~std::size_t{1} : n;
                    for (std::size_t i = 0; i < n; ++i) {
                        std::int64_t gain = (channels == 2 && (i & 1)) ? g[1] : g[0];
                        if (i >= whole) {
                            expect[i] = data[i];
                            continue;
                        }
                        std::int64_t v = (static_cast<std::int64_t>(data[i]) * gain) >> 14;
                        clip |= v > 32767 || v < -32768;
                        expect[i] = static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
                    }
                    bool unity = g[0] == 16384 && (channels == 1 || g[1] == 16384);
                    bool got = ScaleSamples(&f, data.data(), static_cast<std::uint32_t>(n * 2), g[0], g[1]);
                    ASSERT_EQ(data, expect) << "level " << used << " channels " << channels << " n " << n;
                    ASSERT_EQ(got, unity ? false : clip) << "level " << used << " n " << n;
                }
            }
        }
    }
    SetSampleKernelLevel(-1);
}

} // namespace
} // namespace tunefold
