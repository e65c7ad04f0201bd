// The player's display path end to end: wave output on the virtual card -> connector -> meter.
#include <gtest/gtest.h>

#include "engine/devices/wave_out.h"
#include "engine/devices/wave_out_fixture.h"
#include "engine/displays/connector.h"
#include "engine/displays/level.h"

namespace tunefold {
namespace {

TEST(ConnectorChain, WaveOutFeedsTheMeterWhatIsBeingPlayed) {
    test::Card().ResetAll();
    const WAVEFORMATEX f = test::Stereo16();
    test::PatternSource source(1 << 20, &f);
    TMMWaveOut wo;
    wo.SetCallBackMode(cmWindow);
    wo.SetNumBuffers(4);
    wo.SetBufferSize(2048);
    TMMConnector connector;
    connector.SetAutoTrigger(false);
    TMMLevel meter;
    meter.SetSamples(250);
    meter.SetChannel(chLeft);
    connector.SetLevel1(&meter);
    // What the connector hands the meter must be the buffer the card plays now.
    std::vector<std::uint8_t> playing;
    wo.OnBufferReady = [&](TObject*, PWaveHdr h) {
        const TMMBufferHeader* next = AsBufferHeader(h)->NextBuffer;
        if (next != nullptr)
            playing.assign(next->wh.lpData, next->wh.lpData + next->wh.dwBytesRecorded);
    };
    wo.SetInput(&source);
    wo.SetOutput(&connector);
    wo.Start();
    test::Settle(wo);
    ASSERT_TRUE(connector.IsConnectorStarted());
    ASSERT_TRUE(test::PumpUntil([&] { return connector.IsActive(); }));
    EXPECT_EQ(meter.BytesPerUpdate(), 1000);

    test::Card().Advance(1024);
    test::Settle(wo);
    ASSERT_FALSE(playing.empty());
    EXPECT_EQ(connector.ValidBytes(), static_cast<int>(playing.size()));
    connector.Trigger();
    int expected = 0;
    for (int i = 0; i < 250; ++i) {
        std::int16_t v;
        std::memcpy(&v, playing.data() + 4 * i, 2);
        expected = std::max(expected, std::abs(static_cast<int>(v)));
    }
    EXPECT_EQ(meter.LastRawLevel(), expected);
    EXPECT_GT(meter.LitSpots(), 0);

    wo.Stop();
    test::Settle(wo);
    EXPECT_FALSE(connector.IsConnectorStarted());
    EXPECT_EQ(meter.LitSpots(), 0);
    wo.SetOutput(nullptr);
    test::Card().ResetAll();
}

} // namespace
} // namespace tunefold
