// The converter stages over the compression manager: pass-through, the WAVE fixtures against sox,
// multi-step chains, the push path, a manager that is missing or too old, and the errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "engine/sources/acm_converter.h"
#include "engine/sources/wave_file.h"
#include "support/pull.h"
#include "support/riff_builder.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

using test::Fixture;

// The player's converter: only the sample width is enforced.
void PlayerSettings(TMMPCMConverter& c) {
    c.BeginLoading();
    c.SetQuality(cqHigh);
    c.SetAutoConvert(false);
    c.SetSampleRate(44100);
    c.SetBitLength(b16Bit);
    c.SetMode(mStereo);
    c.SetRequired({rpBits});
    c.Loaded();
}

struct Chain {
    TMMWaveFile source;
    TMMPCMConverter converter;
    explicit Chain(const std::string& file, bool player = true) {
        if (player) {
            PlayerSettings(converter);
        }
        source.Wave().SetFileName(file);
        converter.SetInput(&source);
    }
    void Open() {
        source.Opened();
        converter.Opened();
        source.Started();
        converter.Started();
    }
    void Close() {
        converter.Closed();
        source.Closed();
    }
};

// A stage that keeps what is pushed to it.
class Collector : public TMMDSPComponent {
public:
    std::vector<std::uint8_t> data;
    void BufferReady(PWaveHdr h) override {
        data.insert(data.end(), h->lpData, h->lpData + h->dwBytesRecorded);
        TMMDSPComponent::BufferReady(h);
    }
};

struct WaveFixture {
    const char* name;
    int channels;
    int rate;
    int samplesPerBlock; // 0 for sample-by-sample formats
};

const WaveFixture kWaves[] = {
    {"pcm8_mono_8000", 1, 8000, 0},        {"pcm8_stereo_22050", 2, 22050, 0},
    {"pcm8_mono_48000", 1, 48000, 0},      {"pcm16_mono_11025", 1, 11025, 0},
    {"pcm16_stereo_44100", 2, 44100, 0},   {"pcm16_stereo_96000", 2, 96000, 0},
    {"ulaw_mono_8000", 1, 8000, 0},        {"alaw_stereo_8000", 2, 8000, 0},
    {"ima_mono_22050", 1, 22050, 505},     {"ima_stereo_44100", 2, 44100, 1017},
    {"msadpcm_mono_11025", 1, 11025, 500}, {"msadpcm_stereo_44100", 2, 44100, 1012},
};

TEST(PcmConverter, EveryWaveFixtureArrivesAs16BitExactlyAsSoxDecodesIt) {
    for (const auto& fx : kWaves) {
        SCOPED_TRACE(fx.name);
        Chain chain(Fixture(std::string(fx.name) + ".wav"));
        const WAVEFORMATEX* out = chain.converter.PWaveFormat();
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(out->wBitsPerSample, 16);
        EXPECT_EQ(out->nChannels, fx.channels);
        EXPECT_EQ(out->nSamplesPerSec, static_cast<DWORD>(fx.rate));
        const bool pass =
            chain.source.PWaveFormat()->wFormatTag == 1 && chain.source.PWaveFormat()->wBitsPerSample == 16;
        EXPECT_EQ(chain.converter.ConversionNeeded(), !pass);
        chain.Open();
        auto r = test::PullAll(chain.converter, 4096);
        chain.Close();
        ASSERT_TRUE(r.ended);
        EXPECT_EQ(r.emptyBuffers, 0) << "the end comes with data";
        EXPECT_EQ(r.shortBeforeLast, 0) << "every buffer is full except the last";
        auto reference = test::ReadBytes(Fixture(std::string(fx.name) + ".s16"));
        ASSERT_FALSE(reference.empty());
        // ADPCM plays whole blocks: the padding of the last block may follow sox's samples.
        const std::size_t extra = fx.samplesPerBlock * 2u * static_cast<std::size_t>(fx.channels);
        ASSERT_GE(r.data.size(), reference.size());
        EXPECT_LE(r.data.size() - reference.size(), extra);
        r.data.resize(reference.size());
        auto diff = test::Compare16(r.data, reference);
        EXPECT_EQ(diff.firstIndex, -1) << "max difference " << diff.maxAbs;
    }
}

TEST(PcmConverter, EightBitBecomesSixteenBitByTheWidthRule) {
    // Every 8-bit value b arrives as (b - 128) * 256.
    std::vector<std::uint8_t> ramp;
    for (int i = 0; i < 3 * 256; ++i) {
        ramp.push_back(static_cast<std::uint8_t>(i));
    }
    auto image = test::RiffBuilder::Wave(test::RiffBuilder().Pcm(1, 22050, 8).Chunk("data", ramp));
    TMMWaveFile source;
    source.Wave().SetMemoryWave(image.data(), static_cast<long>(image.size()));
    TMMPCMConverter converter;
    PlayerSettings(converter);
    converter.SetInput(&source);
    ASSERT_EQ(converter.PWaveFormat()->nChannels, 1);
    ASSERT_EQ(converter.PWaveFormat()->nSamplesPerSec, 22050u);
    source.Opened();
    converter.Opened();
    source.Started();
    converter.Started();
    auto r = test::PullAll(converter, 1000);
    ASSERT_EQ(r.data.size(), 2 * ramp.size());
    for (std::size_t i = 0; i < ramp.size(); ++i) {
        auto v = static_cast<std::int16_t>(r.data[2 * i] | (r.data[2 * i + 1] << 8));
        ASSERT_EQ(v, (ramp[i] - 128) * 256) << i;
    }
    converter.Closed();
    source.Closed();
}

TEST(PcmConverter, SixteenBitInputPassesStraightThrough) {
    Chain chain(Fixture("pcm16_stereo_44100.wav"));
    EXPECT_FALSE(chain.converter.ConversionNeeded());
    EXPECT_FALSE(WaveFormatsDiffer(chain.converter.PWaveFormat(), chain.source.PWaveFormat()));
    int loads = 0;
    chain.converter.OnBufferLoad = [&](TObject*, PWaveHdr, bool&) { ++loads; };
    chain.Open();
    EXPECT_EQ(chain.converter.Chain(), nullptr);
    auto r = test::PullAll(chain.converter, 4096);
    chain.Close();
    EXPECT_EQ(loads, r.buffers);
    EXPECT_EQ(r.data, test::ReadBytes(Fixture("pcm16_stereo_44100.s16")));
}

TEST(PcmConverter, AllParametersRequiredBuildsAChain) {
    Chain chain(Fixture("pcm8_mono_8000.wav"), false);
    chain.converter.SetQuality(cqHigh);
    chain.converter.SetAutoConvert(false);
    chain.converter.SetBitLength(b16Bit);
    chain.converter.SetMode(mStereo);
    chain.converter.SetSampleRate(44100);
    const WAVEFORMATEX* out = chain.converter.PWaveFormat();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->wBitsPerSample, 16);
    EXPECT_EQ(out->nChannels, 2);
    EXPECT_EQ(out->nSamplesPerSec, 44100u);
    EXPECT_TRUE(chain.converter.ConversionPossible());
    chain.Open();
    ASSERT_NE(chain.converter.Chain(), nullptr);
    EXPECT_GT(chain.converter.Chain()->StepCount(), 1u) << "rate and width never change in one stream";
    auto r = test::PullAll(chain.converter, 4096);
    chain.Close();
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.emptyBuffers, 0);
    // 1.3 s of 8000 Hz mono becomes 1.3 s of 44100 Hz stereo: the same tone, 5.5 times the frames.
    const auto input = test::ReadBytes(Fixture("pcm8_mono_8000.s16"));
    const double inFrames = input.size() / 2.0;
    const double outFrames = r.data.size() / 4.0;
    EXPECT_NEAR(outFrames, inFrames * 44100.0 / 8000.0, 64.0);
    // Same loudness (RMS) as the source within a few percent, left equals right.
    auto rms = [](const std::vector<std::uint8_t>& d, int step) {
        double sum = 0;
        std::size_t n = 0;
        for (std::size_t i = 0; i + 1 < d.size(); i += static_cast<std::size_t>(step)) {
            double v = static_cast<std::int16_t>(d[i] | (d[i + 1] << 8));
            sum += v * v;
            ++n;
        }
        return std::sqrt(sum / static_cast<double>(n));
    };
    EXPECT_NEAR(rms(r.data, 4) / rms(input, 2), 1.0, 0.05);
    for (std::size_t i = 0; i + 3 < r.data.size(); i += 4) {
        ASSERT_EQ(std::memcmp(&r.data[i], &r.data[i + 2], 2), 0);
    }
}

TEST(PcmConverter, SettersClampAndValidate) {
    TMMPCMConverter c;
    EXPECT_TRUE(c.AutoConvert());
    EXPECT_EQ(c.BitLength(), b8Bit);
    EXPECT_EQ(c.Mode(), mMono);
    EXPECT_EQ(c.SampleRate(), 11025);
    EXPECT_EQ(c.Required(), (TMMRequiredParams{rpBits, rpChannels, rpSampleRate}));
    c.SetSampleRate(100000);
    EXPECT_EQ(c.SampleRate(), 88200);
    c.SetSampleRate(1000);
    EXPECT_EQ(c.SampleRate(), 8000);
    c.SetMode(static_cast<TMMMode>(5));
    EXPECT_EQ(c.Mode(), mMono);
    // Without an input the output follows the settings; the stage itself offers nothing.
    ASSERT_NE(c.OutputFormat(), nullptr);
    EXPECT_EQ(c.OutputFormat()->nSamplesPerSec, 8000u);
    EXPECT_EQ(c.OutputFormat()->wBitsPerSample, 8);
    EXPECT_EQ(c.PWaveFormat(), nullptr);
    WAVEFORMATEX bad{};
    MakePCMFormat(bad, 24, 2, 44100);
    try {
        c.SetPWaveFormat(&bad);
        ADD_FAILURE();
    } catch (const EMMConverterError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
}

TEST(PcmConverter, MissingOrOldManagerLeavesTheStageTransparent) {
    for (auto mode : {platform::AcmAvailability::Missing, platform::AcmAvailability::TooOld}) {
        platform::acmSetAvailability(mode);
        ReloadAcmManager();
        Chain chain(Fixture("pcm8_mono_8000.wav"));
        EXPECT_TRUE(chain.converter.ConversionNeeded());
        EXPECT_FALSE(chain.converter.ConversionPossible());
        EXPECT_EQ(chain.converter.PWaveFormat()->wBitsPerSample, 8) << "the input format is passed on";
        chain.source.Opened();
        try {
            chain.converter.Opened();
            ADD_FAILURE();
        } catch (const EMMConverterError& e) {
            EXPECT_STREQ(e.what(), "Unable to convert to destination format");
        }
        chain.source.Closed();
    }
    platform::acmSetAvailability(platform::AcmAvailability::Available);
    ReloadAcmManager();
    Chain chain(Fixture("pcm8_mono_8000.wav"));
    EXPECT_TRUE(chain.converter.ConversionPossible());
}

TEST(PcmConverter, PushPathConvertsInPartsOfTheChunk) {
    // 8-bit stereo pushed in one large buffer arrives downstream as 16-bit in parts of BufferSize.
    WAVEFORMATEX in{};
    MakePCMFormat(in, 8, 2, 22050);
    TMMPCMConverter converter;
    PlayerSettings(converter);
    Collector sink;
    converter.SetOutput(&sink);
    converter.InputFormatChanged(&in);
    ASSERT_TRUE(converter.ConversionPossible());
    EXPECT_EQ(sink.PWaveFormat()->wBitsPerSample, 16);
    converter.Opened();
    converter.Started();
    std::vector<std::uint8_t> block(BufferHeaderBytes + 20000);
    TMMBufferHeader* h = InitBufferHeader(block.data(), 20000);
    for (int i = 0; i < 20000; ++i) {
        h->wh.lpData[i] = static_cast<char>(i * 13);
    }
    h->wh.dwBytesRecorded = 20000;
    converter.BufferReady(AsWaveHdr(h));
    ASSERT_EQ(sink.data.size(), 40000u);
    for (int i = 0; i < 20000; ++i) {
        auto v = static_cast<std::int16_t>(sink.data[2 * i] | (sink.data[2 * i + 1] << 8));
        ASSERT_EQ(v, (static_cast<std::uint8_t>(i * 13) - 128) * 256);
    }
    converter.Closed();
}

TEST(PcmConverter, StopDropsConvertedDataAndResetDropsCarriedInput) {
    Chain chain(Fixture("ima_stereo_44100.wav"));
    chain.Open();
    test::PullBuffer buf(1000);
    ASSERT_TRUE(buf.Load(chain.converter));
    ASSERT_GT(chain.converter.Chain()->Available(), 0u);
    chain.converter.Reset();
    EXPECT_EQ(chain.converter.Chain()->Available(), 0u);
    EXPECT_FALSE(chain.converter.Chain()->InputCarried());
    ASSERT_TRUE(buf.Load(chain.converter));
    chain.converter.Stopped();
    EXPECT_EQ(chain.converter.Chain()->Available(), 0u);
    chain.Close();
}

TEST(PcmConverter, MpegAudioInWaveDecodesLikeMpg123) {
    // Layer II frames in a RIFF WAVE file with format tag 80.
    auto mp2 = test::ReadBytes(Fixture("l2_joint_192_44100.mp2"));
    test::RiffBuilder b;
    b.Fmt(80, 2, 44100, 0, 1, 24000, 40, 22).Chunk("data", mp2);
    const std::string path = (test::Sandbox() / "mpeg.wav").string();
    test::WriteFile(path, test::RiffBuilder::Wave(b));
    Chain chain(path);
    ASSERT_TRUE(chain.converter.ConversionPossible());
    chain.Open();
    auto r = test::PullAll(chain.converter, 4096);
    chain.Close();
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.emptyBuffers, 0);
    auto reference = test::ReadBytes(Fixture("l2_joint_192_44100.s16"));
    EXPECT_EQ(r.data.size(), reference.size());
    EXPECT_LE(test::Compare16(r.data, reference).maxAbs, 1);
}

TEST(PcmConverter, StreamThatNeverYieldsRaisesAfterFiveAttempts) {
    // A WAVE file that claims MPEG layer 3 but holds noise: the decoder takes the bytes and gives
    // nothing back.
    std::mt19937 rng(3);
    std::vector<std::uint8_t> noise(8192 * 8);
    for (auto& v : noise) {
        v = static_cast<std::uint8_t>(rng() & 0x0F); // never a frame sync
    }
    test::RiffBuilder b;
    b.Fmt(85, 2, 44100, 0, 1, 16000, 30, 12).Chunk("data", noise);
    const std::string path = (test::Sandbox() / "noise85.wav").string();
    test::WriteFile(path, test::RiffBuilder::Wave(b));
    Chain chain(path);
    ASSERT_TRUE(chain.converter.ConversionPossible());
    chain.Open();
    test::PullBuffer buf(4096);
    try {
        buf.Load(chain.converter);
        ADD_FAILURE() << "no error";
    } catch (const EMMConverterError& e) {
        EXPECT_STREQ(e.what(), "Unable to convert to destination format");
    }
    EXPECT_FALSE(chain.converter.ConversionPossible());
    chain.Close();
}

TEST(AcmManager, SuggestionAndQueries) {
    WAVEFORMATEX pcm8{}, pcm16{};
    MakePCMFormat(pcm8, 8, 1, 11025);
    MakePCMFormat(pcm16, 16, 2, 44100);
    EXPECT_FALSE(CanConvert(nullptr, &pcm16, cqHigh));
    EXPECT_TRUE(CanConvert(&pcm8, &pcm8, cqLow));
    EXPECT_TRUE(CanConvert(&pcm8, &pcm16, cqHigh));
    // One stream cannot do width and rate together.
    EXPECT_NE(platform::acmStreamOpen(nullptr, nullptr, &pcm8, &pcm16, nullptr, 0, 0,
                                      platform::ACM_STREAMOPENF_QUERY),
              MMSYSERR_NOERROR);
    WAVEFORMATEX ima{};
    ima.wFormatTag = 17;
    ima.nChannels = 1;
    ima.nSamplesPerSec = 22050;
    ima.nBlockAlign = 256;
    ima.wBitsPerSample = 4;
    ima.nAvgBytesPerSec = 11100;
    WAVEFORMATEX s = SuggestPCMFormat(&ima);
    EXPECT_EQ(s.wFormatTag, 1);
    EXPECT_EQ(s.wBitsPerSample, 16);
    EXPECT_EQ(s.nSamplesPerSec, 22050u);
    EXPECT_TRUE(CanConvert(&ima, &pcm16, cqLow)) << "decode, then channels and rate";
    WAVEFORMATEX unknown = ima;
    unknown.wFormatTag = 49; // GSM: no driver
    EXPECT_EQ(SuggestPCMFormat(&unknown).wFormatTag, 0);
    EXPECT_FALSE(CanConvert(&unknown, &pcm16, cqLow));
}

} // namespace
} // namespace tunefold
