// The player's chain on the wave output's worker thread: a file source, the converter with the
// player's settings and the device on the virtual card. What the card plays is what the independent
// decoder makes of the file, whatever thread pulls it.
#include <gtest/gtest.h>

#include <chrono>

#include "engine/devices/wave_out.h"
#include "engine/sources/acm_converter.h"
#include "engine/sources/mpeg_file.h"
#include "engine/sources/wave_file.h"
#include "platform/message_loop.h"
#include "platform/virtual/virtual_sound_card.h"
#include "support/pull.h"

namespace tunefold {
namespace {

class SourceChain : public ::testing::TestWithParam<TMMCBMode> {
protected:
    void SetUp() override {
        auto& card = platform::VirtualSoundCard::Instance();
        card.ResetAll();
        card.SetClock(platform::VirtualClock::Fast);
        SetDirectCallbacksAllowed(true);
        converter.BeginLoading();
        converter.SetQuality(cqHigh);
        converter.SetAutoConvert(false);
        converter.SetSampleRate(44100);
        converter.SetBitLength(b16Bit);
        converter.SetMode(mStereo);
        converter.SetRequired({rpBits});
        converter.Loaded();
        out.SetCallBackMode(GetParam());
        out.SetNumBuffers(6);
        out.SetBufferSize(3000);
        out.SetInput(&converter);
    }
    void TearDown() override {
        out.Close();
        platform::VirtualSoundCard::Instance().ResetAll();
        SetDirectCallbacksAllowed(false);
    }
    std::vector<std::uint8_t> PlayToTheEnd() {
        out.Start();
        const bool ended = platform::MessageLoop::Gui().ProcessUntil(
            [&] { return !out.State().Contains(wosPlaying); }, 60000);
        EXPECT_TRUE(ended) << "the stream did not end";
        out.Close();
        return platform::VirtualSoundCard::Instance().Played();
    }

    TMMPCMConverter converter;
    TMMWaveOut out;
};

TEST_P(SourceChain, EightBitWaveArrivesConverted) {
    TMMWaveFile wave;
    wave.Wave().SetTimeFormat(tfMillisecond);
    wave.Wave().SetFileName(test::Fixture("pcm8_stereo_22050.wav"));
    converter.SetInput(&wave);
    ASSERT_EQ(out.PWaveFormat()->wBitsPerSample, 16);
    auto played = PlayToTheEnd();
    EXPECT_EQ(played, test::ReadBytes(test::Fixture("pcm8_stereo_22050.s16")));
}

TEST_P(SourceChain, AdpcmWaveArrivesDecoded) {
    TMMWaveFile wave;
    wave.Wave().SetFileName(test::Fixture("ima_stereo_44100.wav"));
    converter.SetInput(&wave);
    auto played = PlayToTheEnd();
    auto reference = test::ReadBytes(test::Fixture("ima_stereo_44100.s16"));
    ASSERT_GE(played.size(), reference.size());
    played.resize(reference.size());
    EXPECT_EQ(played, reference);
}

TEST_P(SourceChain, MpegPassesStraightThrough) {
    TMMMPEGFile mpeg;
    mpeg.SetFileName(test::Fixture("l2_joint_192_44100.mp2"));
    converter.SetInput(&mpeg);
    EXPECT_FALSE(converter.ConversionNeeded());
    auto played = PlayToTheEnd();
    EXPECT_EQ(played, test::ReadBytes(test::Fixture("l2_joint_192_44100.s16")));
}

INSTANTIATE_TEST_SUITE_P(Modes, SourceChain, ::testing::Values(cmWindow, cmCallback, cmThread),
                         [](const auto& info) {
                             return std::string(info.param == cmWindow     ? "Window"
                                                : info.param == cmCallback ? "Callback"
                                                                           : "Thread");
                         });

} // namespace
} // namespace tunefold
