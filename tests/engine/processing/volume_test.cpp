#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/processing/volume.h"

namespace tunefold {
namespace {

WAVEFORMATEX Pcm(int bits, int channels, DWORD rate = 44100) {
    WAVEFORMATEX f{};
    MakePCMFormat(f, bits, channels, rate);
    return f;
}

// A source stage that delivers fixed bytes, a volume stage after it and a sink that records pushes.
struct Chain {
    TMMDSPComponent source;
    TMMVolume volume;
    TMMDSPComponent sink;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> pushed;
    int pushes = 0;

    explicit Chain(const WAVEFORMATEX& format) {
        source.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& more) {
            std::memcpy(h->lpData, bytes.data(), bytes.size());
            h->dwBytesRecorded = static_cast<DWORD>(bytes.size());
            more = true;
        };
        sink.OnBufferReady = [this](TObject*, PWaveHdr h) {
            ++pushes;
            pushed.assign(h->lpData, h->lpData + h->dwBytesRecorded);
        };
        source.SetPWaveFormat(&format);
        volume.Input(&source);
        volume.Output(&sink);
        volume.Opened();
    }
    // One pull through the volume stage.
    std::vector<std::uint8_t> Pull() {
        std::vector<std::uint8_t> data(bytes.size() + 16);
        WAVEHDR h{};
        h.lpData = reinterpret_cast<char*>(data.data());
        h.dwBufferLength = static_cast<DWORD>(data.size());
        bool more = false;
        volume.BufferLoad(&h, more);
        data.resize(h.dwBytesRecorded);
        return data;
    }
    void Push(std::vector<std::uint8_t> data) {
        WAVEHDR h{};
        h.lpData = reinterpret_cast<char*>(data.data());
        h.dwBufferLength = h.dwBytesRecorded = static_cast<DWORD>(data.size());
        volume.BufferReady(&h);
    }
};

std::vector<std::uint8_t> Words(std::initializer_list<std::int16_t> samples) {
    std::vector<std::uint8_t> b(samples.size() * 2);
    std::memcpy(b.data(), samples.begin(), b.size());
    return b;
}
std::vector<std::int16_t> AsWords(const std::vector<std::uint8_t>& b) {
    std::vector<std::int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), b.size());
    return s;
}

TEST(VolumeTest, GainsFromVolumeAndBalanceRoundHalvesAwayFromZero) {
    TMMVolume v;
    EXPECT_EQ(v.Volume(), 16384);
    EXPECT_EQ(v.Panning(), 0);
    v.SetVolume(40000);
    EXPECT_EQ(v.Volume(), 32768);
    v.SetVolume(-5);
    EXPECT_EQ(v.Volume(), 0);
    v.SetPanning(-20000);
    EXPECT_EQ(v.Panning(), -16384);
    v.SetVolume(16384);
    EXPECT_EQ(v.LeftGain(), 16384);
    EXPECT_EQ(v.RightGain(), 0); // right silent at full volume on the left
    v.SetPanning(20000);
    EXPECT_EQ(v.Panning(), 16384);
    EXPECT_EQ(v.LeftGain(), 0);
    EXPECT_EQ(v.RightGain(), 16384);

    // 16383 x 8192 / 16384 = 8191.5: a half, rounded away from zero (truncation would give 8191).
    v.SetVolume(8192);
    v.SetPanning(-1);
    EXPECT_EQ(v.LeftGain(), 8192);
    EXPECT_EQ(v.RightGain(), 8192);
    v.SetPanning(1);
    EXPECT_EQ(v.LeftGain(), 8192);
    EXPECT_EQ(v.RightGain(), 8192);
    // 8191 x 3 / 16384 = 1.4998 stays 1.
    v.SetVolume(3);
    v.SetPanning(8193);
    EXPECT_EQ(v.LeftGain(), 1);
    EXPECT_EQ(v.RightGain(), 3);
    // The indexed setter is the same property.
    v.SetVolume(1, -8192);
    EXPECT_EQ(v.Panning(), -8192);
    EXPECT_EQ(v.GetVolume(0), 3);
}

TEST(VolumeTest, ScalesSixteenBitSamplesWithSaturationAndFloorRounding) {
    WAVEFORMATEX f = Pcm(16, 2);
    Chain c(f);
    c.bytes = Words({20000, -20000, 1234, -1, 32767, -32768});
    EXPECT_EQ(c.Pull(), c.bytes); // unity leaves every sample bit-identical

    c.volume.SetVolume(32768);
    EXPECT_EQ(AsWords(c.Pull()), (std::vector<std::int16_t>{32767, -32768, 2468, -2, 32767, -32768}));

    c.volume.SetVolume(8192);
    c.bytes = Words({-3, -1, 3, 1});
    EXPECT_EQ(AsWords(c.Pull()), (std::vector<std::int16_t>{-2, -1, 1, 0}));

    // Balance: left first, right second in every frame.
    c.volume.SetVolume(16384);
    c.volume.SetPanning(-8192);
    c.bytes = Words({1000, 1000, -1000, -1000});
    EXPECT_EQ(AsWords(c.Pull()), (std::vector<std::int16_t>{1000, 500, -1000, -500}));
}

TEST(VolumeTest, EightBitAndMonoData) {
    WAVEFORMATEX f = Pcm(8, 1);
    Chain c(f);
    c.volume.SetVolume(32768);
    c.bytes = {0, 255, 128, 100, 150};
    // 0 and 255 saturate in place; 100 is -28 -> -56 -> 72; 150 is 22 -> 44 -> 172.
    EXPECT_EQ(c.Pull(), (std::vector<std::uint8_t>{0, 255, 128, 72, 172}));

    WAVEFORMATEX m = Pcm(16, 1);
    Chain mono(m);
    mono.volume.SetPanning(-16384); // the right gain does not apply to mono data
    mono.volume.SetVolume(8192);
    mono.bytes = Words({1000, 2000});
    EXPECT_EQ(AsWords(mono.Pull()), (std::vector<std::int16_t>{500, 1000}));
}

TEST(VolumeTest, PushScalesBeforePassingOnAndDisabledPassesUnchanged) {
    WAVEFORMATEX f = Pcm(16, 2);
    Chain c(f);
    c.volume.SetVolume(8192);
    c.Push(Words({400, 800}));
    EXPECT_EQ(c.pushes, 1);
    EXPECT_EQ(AsWords(c.pushed), (std::vector<std::int16_t>{200, 400}));

    c.volume.SetEnabled(false);
    c.Push(Words({400, 800}));
    EXPECT_EQ(c.pushes, 2);
    EXPECT_EQ(AsWords(c.pushed), (std::vector<std::int16_t>{400, 800}));
    c.bytes = Words({400, 800});
    EXPECT_EQ(c.Pull(), c.bytes);
}

TEST(VolumeTest, RejectsInvalidFormatsAndIsNotReadyWhenClosed) {
    TMMVolume v;
    WAVEFORMATEX good = Pcm(16, 2);
    v.SetPWaveFormat(&good);
    for (WAVEFORMATEX bad : {Pcm(24, 2), Pcm(16, 3), Pcm(16, 2, 3999), Pcm(8, 1, 100001)}) {
        try {
            v.SetPWaveFormat(&bad);
            ADD_FAILURE() << "accepted " << bad.wBitsPerSample << "/" << bad.nChannels;
        } catch (const EMMVolumeError& e) {
            EXPECT_STREQ(e.what(), "Invalid WaveFormat");
        }
        ASSERT_NE(v.PWaveFormat(), nullptr);
        EXPECT_EQ(v.PWaveFormat()->wBitsPerSample, 16); // nothing changed
        EXPECT_EQ(v.PWaveFormat()->nChannels, 2);
    }
    WAVEFORMATEX adpcm = good;
    adpcm.wFormatTag = 2;
    EXPECT_THROW(v.SetPWaveFormat(&adpcm), EMMVolumeError);
    v.SetPWaveFormat(nullptr); // none is accepted
    EXPECT_EQ(v.PWaveFormat(), nullptr);

    // Opened without a format: not ready, the data pass unchanged.
    WAVEFORMATEX f = Pcm(16, 2);
    Chain c(f);
    c.volume.Closed();
    c.volume.SetPWaveFormat(nullptr);
    c.volume.Opened();
    EXPECT_FALSE(c.volume.Ready());
    c.volume.SetVolume(0);
    c.bytes = Words({5, 6});
    EXPECT_EQ(c.Pull(), c.bytes);
    c.volume.Closed();
    c.volume.SetPWaveFormat(&f);
    c.volume.Opened();
    EXPECT_TRUE(c.volume.Ready());
    EXPECT_EQ(AsWords(c.Pull()), (std::vector<std::int16_t>{0, 0}));
}

} // namespace
} // namespace tunefold
