// The volume and the equalizer in front of the output work late: what they do to a buffer is done
// as it goes to the card, so a change reaches every buffer still queued, and the sound is the same
// as when they worked on each buffer as it was filled.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/devices/wave_out.h"
#include "engine/devices/wave_out_fixture.h"
#include "engine/processing/equalizer.h"
#include "engine/processing/volume.h"

namespace tunefold {
namespace {

using test::Card;

// Passes buffers on untouched and cannot work late: the stages in front of it work when filled.
class Through : public TMMDSPComponent {};

class WaveOutLateTest : public ::testing::Test {
protected:
    static constexpr std::size_t kBytes = 8 * 256 - 100; // the last buffer is not whole

    void SetUp() override { Card().ResetAll(); }
    void TearDown() override {
        wo.reset();
        Card().ResetAll();
    }

    // Source -> stages (in order) -> output, the output paused with its queue filled and nothing
    // sent to the card yet.
    void StartPaused(const std::vector<TMMDSPComponent*>& stages) {
        format = test::Stereo16();
        source = std::make_unique<test::PatternSource>(kBytes, &format);
        wo = std::make_unique<TMMWaveOut>();
        wo->SetCallBackMode(cmWindow);
        wo->SetNumBuffers(8);
        wo->SetBufferSize(256);
        TMMDSPComponent* upstream = source.get();
        for (TMMDSPComponent* stage : stages) {
            stage->SetInput(upstream);
            upstream = stage;
        }
        wo->SetInput(upstream);
        wo->Pause();
        wo->Start();
        ASSERT_EQ(Card().Played().size(), 0u);
    }
    std::vector<std::uint8_t> PlayAll() {
        wo->Restart();
        Card().Advance(kBytes / 4);
        test::Settle(*wo);
        return Card().Played();
    }
    static std::vector<std::uint8_t> Pattern() {
        std::vector<std::uint8_t> bytes(kBytes);
        for (std::size_t i = 0; i < kBytes; ++i) {
            bytes[i] = test::PatternByte(i);
        }
        return bytes;
    }

    WAVEFORMATEX format{};
    std::unique_ptr<test::PatternSource> source;
    std::unique_ptr<TMMWaveOut> wo;
};

TEST_F(WaveOutLateTest, AVolumeTurnedWhileTheQueueIsFullReachesEveryBufferStillQueued) {
    TMMVolume volume;
    StartPaused({&volume});
    EXPECT_TRUE(volume.WorkingLate());
    volume.SetVolume(0);
    const std::vector<std::uint8_t> played = PlayAll();
    ASSERT_EQ(played.size(), kBytes);
    EXPECT_EQ(played, std::vector<std::uint8_t>(kBytes, 0));
    wo->Stop();
    EXPECT_FALSE(volume.WorkingLate()) << "outside a stream the stage works when pulled again";
}

TEST_F(WaveOutLateTest, AStageThatCannotWorkLateKeepsTheOnesBeforeItWorkingWhenFilled) {
    TMMVolume volume;
    Through through;
    StartPaused({&volume, &through});
    EXPECT_FALSE(volume.WorkingLate());
    volume.SetVolume(0); // the queue was filled at full volume
    EXPECT_EQ(PlayAll(), Pattern());
}

TEST_F(WaveOutLateTest, TheEqualizerSoundsTheSameLateAsWhenFilledToTheLastBlock) {
    // The same bands, once working late and once in front of a stage that cannot; the stream's end
    // (a buffer that is not whole) also takes out what waits for a whole block.
    auto run = [this](bool late) {
        Card().ResetAll();
        TMMVolume volume;
        volume.SetVolume(12000);
        TMMEqualizer eq;
        eq.Filters().AddFilter(1000, 4000, 9);
        eq.Filters().AddFilter(8000, 12000, -6);
        Through through;
        std::vector<TMMDSPComponent*> stages{&volume, &eq};
        if (!late) {
            stages.push_back(&through);
        }
        StartPaused(stages);
        EXPECT_EQ(eq.WorkingLate(), late);
        std::vector<std::uint8_t> played = PlayAll();
        wo->Stop();
        wo->Close();
        wo.reset();
        return played;
    };
    const std::vector<std::uint8_t> late = run(true);
    const std::vector<std::uint8_t> filled = run(false);
    ASSERT_EQ(late.size(), kBytes);
    EXPECT_EQ(late, filled);
    EXPECT_NE(late, Pattern());
}

TEST_F(WaveOutLateTest, AnOverflowFoundLateIsToldOnTheGuiThread) {
    TMMEqualizer eq;
    eq.Filters().AddFilter(0, 22050, 20);
    int told = 0;
    bool onGui = true;
    eq.OnPcmOverflow = [&](TObject*) {
        ++told;
        onGui = onGui && platform::MessageLoop::Gui().IsGUIThread();
    };
    StartPaused({&eq});
    ASSERT_TRUE(eq.WorkingLate());
    PlayAll();
    EXPECT_TRUE(test::PumpUntil([&] { return told > 0; }));
    EXPECT_TRUE(onGui);
    wo->Stop();
}

} // namespace
} // namespace tunefold
