#include "engine/displays/connector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/displays/level.h"
#include "engine/displays/spectrum.h"
#include "engine/framework/display_timer.h"
#include "platform/message_loop.h"
#include "platform/virtual/virtual_timers.h"

namespace tunefold {
namespace {

// A display that records what it was shown: the capture holds each sample's own index, so the
// first sample of a chunk tells its offset.
class Probe : public TComponent, public TMMDisplayClient {
public:
    explicit Probe(int bytes) : bytes_(bytes) {}
    void SetDisplayFormat(const WAVEFORMATEX* f) override { format = *f; }
    int BytesPerUpdate() const override { return bytes_; }
    void ShowData(const void* data) override {
        std::int16_t first;
        std::memcpy(&first, data, 2);
        offsets.push_back(first * 2);
    }
    void ResetDisplay() override { ++resets; }
    TComponent* DisplayComponent() override { return this; }

    WAVEFORMATEX format{};
    std::vector<int> offsets;
    int resets = 0;

private:
    int bytes_;
};

// One buffer record with its data, as the wave output passes them on.
struct Buffer {
    explicit Buffer(std::uint32_t bytes) : block(BufferHeaderBytes + bytes) {
        header = InitBufferHeader(block.data(), bytes);
        header->wh.dwBytesRecorded = bytes;
    }
    // Samples 0, 1, 2, ... (plus `base`) as 16-bit values.
    Buffer& Ramp(int base = 0) {
        for (std::uint32_t i = 0; i < header->wh.dwBufferLength / 2; ++i) {
            const auto v = static_cast<std::int16_t>(base + static_cast<int>(i));
            std::memcpy(header->wh.lpData + 2 * i, &v, 2);
        }
        return *this;
    }
    Buffer& Fill(std::int16_t v) {
        for (std::uint32_t i = 0; i < header->wh.dwBufferLength / 2; ++i)
            std::memcpy(header->wh.lpData + 2 * i, &v, 2);
        return *this;
    }
    PWaveHdr wh() { return &header->wh; }
    std::vector<std::uint8_t> block;
    TMMBufferHeader* header;
};

void Pump() {
    platform::MessageLoop::Gui().ProcessMessages();
}

class ConnectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakePCMFormat(format, 16, 2, 44100);
        connector.SetAutoTrigger(false);
        connector.SetBufferSize(2048);
        connector.SetPWaveFormat(&format);
    }
    void Start() {
        connector.Started();
        Pump(); // the activation message
        ASSERT_TRUE(connector.IsActive());
    }
    platform::VirtualTimers clock{1000000};
    platform::ScopedTimers use{clock};
    WAVEFORMATEX format{};
    TMMConnector connector;
};

TEST_F(ConnectorTest, ChunksAreShownWhenTheirAudioIsDue) {
    Probe probe(1024);
    connector.SetMeter(0, &probe);
    EXPECT_EQ(probe.format.nSamplesPerSec, 44100u); // the format arrives with the attachment
    Start();
    Buffer b(2048);
    b.Ramp();
    connector.BufferReady(b.wh());
    EXPECT_EQ(connector.CaptureTime(), 1000000);

    connector.Trigger(); // offset 0 is due at once
    ASSERT_EQ(probe.offsets, std::vector<int>({0}));
    connector.Trigger();
    EXPECT_EQ(probe.offsets.size(), 1u);
    // trunc(1024 x 1000000 / 176400) = 5804 microseconds after the capture.
    clock.AdvanceMicroseconds(5803);
    connector.Trigger();
    EXPECT_EQ(probe.offsets.size(), 1u);
    clock.AdvanceMicroseconds(1);
    connector.Trigger();
    EXPECT_EQ(probe.offsets, std::vector<int>({0, 1024}));
    // The next chunk would run past the 2048 valid bytes: the group waits for the next buffer.
    clock.AdvanceMicroseconds(20000);
    connector.Trigger();
    EXPECT_FALSE(connector.GroupPending(TMMConnector::gMeters));
    EXPECT_EQ(probe.offsets.size(), 2u);
    EXPECT_EQ(connector.UpdateCount(TMMConnector::gMeters), 2);

    // A new buffer starts over at offset 0, shown at the next trigger.
    Buffer next(2048);
    next.Ramp(5000);
    connector.BufferReady(next.wh());
    connector.Trigger();
    ASSERT_EQ(probe.offsets.size(), 3u);
    EXPECT_EQ(probe.offsets[2], 10000);
}

TEST_F(ConnectorTest, AThousandByteMeterGetsTwoUpdatesPerBuffer) {
    class CountingLevel : public TMMLevel {
    public:
        void ShowData(const void* data) override {
            ++shown;
            TMMLevel::ShowData(data);
        }
        int shown = 0;
    };
    CountingLevel left, right;
    for (TMMLevel* m : {static_cast<TMMLevel*>(&left), static_cast<TMMLevel*>(&right)}) {
        m->SetSamples(250);
        m->SetChannel(m == &left ? chLeft : chRight);
    }
    TMMSpectrum spectrum;
    spectrum.SetFFTLength(256);
    connector.SetLevel1(&left);
    connector.SetLevel2(&right);
    connector.SetSpectrum1(&spectrum);
    EXPECT_EQ(left.BytesPerUpdate(), 1000); // 16-bit stereo from the connector's format
    EXPECT_EQ(spectrum.BytesPerUpdate(), 1024);
    Start();
    Buffer b(2048);
    b.Fill(12000);
    for (int i = 0; i < 3; ++i) {
        connector.BufferReady(b.wh());
        for (int t = 0; t < 6; ++t) {
            connector.Trigger();
            clock.AdvanceMicroseconds(3000);
        }
    }
    EXPECT_EQ(left.shown, 6);
    EXPECT_EQ(right.shown, 6);
    EXPECT_EQ(connector.UpdateCount(TMMConnector::gLevels), 6);
    EXPECT_EQ(connector.UpdateCount(TMMConnector::gSpectra), 6);
    EXPECT_GT(left.LitSpots(), 0);
}

TEST_F(ConnectorTest, SynchronizeStoresTheBufferBeingPlayed) {
    Probe probe(64);
    connector.SetMeter(1, &probe);
    Start();
    Buffer pushed(2048), playing(2048);
    pushed.Ramp(100);
    playing.Ramp(7000);
    pushed.header->NextBuffer = playing.header;
    connector.BufferReady(pushed.wh());
    connector.Trigger();
    ASSERT_EQ(probe.offsets.size(), 1u);
    EXPECT_EQ(probe.offsets[0], 14000); // the data of NextBuffer

    // A pushed buffer without bytes stores its own, empty, data: nothing to show.
    Buffer empty(2048);
    empty.header->wh.dwBytesRecorded = 0;
    empty.header->NextBuffer = playing.header;
    connector.BufferReady(empty.wh());
    EXPECT_EQ(connector.ValidBytes(), 0);
    connector.Trigger();
    EXPECT_EQ(probe.offsets.size(), 1u);

    connector.SetSynchronize(false);
    connector.BufferReady(pushed.wh());
    connector.Trigger();
    ASSERT_EQ(probe.offsets.size(), 2u);
    EXPECT_EQ(probe.offsets[1], 200); // the pushed buffer's own
    // Without pacing every chunk is due at once.
    connector.Trigger();
    EXPECT_EQ(probe.offsets.size(), 3u);
}

TEST_F(ConnectorTest, PausedDisplaysFallToSilence) {
    TMMLevel meter;
    meter.SetSamples(250);
    meter.SetChannel(chLeft);
    connector.SetLevel1(&meter);
    Start();
    Buffer loud(2048);
    loud.Fill(30000);
    connector.BufferReady(loud.wh());
    connector.Trigger();
    EXPECT_EQ(meter.LastRawLevel(), 30000);

    connector.Paused();
    EXPECT_TRUE(connector.IsPaused());
    EXPECT_TRUE(connector.PauseTimerAdded());
    EXPECT_FALSE(connector.GroupPending(TMMConnector::gLevels));
    connector.BufferReady(loud.wh()); // nothing is stored while paused
    connector.Trigger();
    EXPECT_EQ(meter.LastRawLevel(), 30000);
    // The pause refresh (every 12 ms of buffer, raised to the timer's 25 ms) makes the silent
    // capture due again.
    clock.Advance(25);
    EXPECT_TRUE(connector.GroupPending(TMMConnector::gLevels));
    connector.Trigger();
    EXPECT_EQ(meter.LastRawLevel(), 0);
    clock.Advance(25);
    connector.Trigger();
    EXPECT_EQ(meter.LastRawLevel(), 0);

    connector.Restarted();
    EXPECT_FALSE(connector.IsPaused());
    EXPECT_FALSE(connector.PauseTimerAdded());
    connector.BufferReady(loud.wh());
    connector.Trigger();
    EXPECT_EQ(meter.LastRawLevel(), 30000);

    // A seek fills the capture with silence.
    connector.Reset();
    clock.AdvanceMicroseconds(5668);
    connector.Trigger();
    EXPECT_EQ(meter.LastRawLevel(), 0);
}

TEST_F(ConnectorTest, StopClearsTheDisplays) {
    TMMLevel meter;
    meter.SetSamples(250);
    Probe probe(512);
    connector.SetLevel1(&meter);
    connector.SetMeter(0, &probe);
    Start();
    Buffer loud(2048);
    loud.Fill(30000);
    connector.BufferReady(loud.wh());
    connector.Trigger();
    EXPECT_GT(meter.LitSpots(), 0);
    connector.Stopped();
    EXPECT_FALSE(connector.IsActive());
    EXPECT_FALSE(connector.HasCaptureBuffer());
    EXPECT_EQ(meter.LitSpots(), 0);
    EXPECT_EQ(meter.PeakSpot(), 0);
    EXPECT_EQ(probe.resets, 1);
    connector.BufferReady(loud.wh());
    connector.Trigger();
    EXPECT_EQ(meter.LitSpots(), 0);

    // Without RefreshOnStop the picture stays.
    connector.SetRefreshOnStop(false);
    Start();
    connector.BufferReady(loud.wh());
    connector.Trigger();
    connector.Stopped();
    EXPECT_GT(meter.LitSpots(), 0);
    EXPECT_EQ(probe.resets, 1);
}

TEST_F(ConnectorTest, PropertiesAndAttachments) {
    connector.SetSpeed(0);
    EXPECT_EQ(connector.Speed(), 1);
    connector.SetSpeed(9000);
    EXPECT_EQ(connector.Speed(), 5000);

    TMMLevel a, b;
    connector.SetLevel1(&a);
    connector.SetLevel2(&a); // one display cannot take both slots
    EXPECT_EQ(connector.Level2(), nullptr);
    connector.SetLevel2(&b);
    EXPECT_EQ(connector.Level2(), &b);
    {
        TMMLevel gone;
        connector.SetLevel1(&gone);
    }
    EXPECT_EQ(connector.Level1(), nullptr); // a destroyed display is detached

    // Disabling resets every display.
    Probe probe(100);
    connector.SetMeter(0, &probe);
    connector.SetEnabled(false);
    EXPECT_EQ(probe.resets, 1);
    connector.SetEnabled(true);

    // A display refusing the format raises its own error.
    WAVEFORMATEX bad{};
    bad.wFormatTag = 2;
    TMMConnector other;
    other.SetPWaveFormat(&bad);
    TMMSpectrum s;
    EXPECT_NO_THROW(other.SetSpectrum1(&s)); // no PCM format yet: nothing to adopt
    EXPECT_EQ(other.DisplayFormat(), nullptr);
    other.Started();
    EXPECT_FALSE(other.HasCaptureBuffer());
    other.Stopped();
}

TEST_F(ConnectorTest, ManualTriggerOnlyInManualMode) {
    Probe probe(256);
    connector.SetMeter(0, &probe);
    Start();
    Buffer b(2048);
    b.Ramp();
    connector.SetAutoTrigger(true);
    connector.BufferReady(b.wh());
    connector.Trigger(); // automatic mode: the caller's trigger does nothing
    EXPECT_TRUE(probe.offsets.empty());
    // The automatic loop triggers from the message queue.
    ASSERT_TRUE(platform::MessageLoop::Gui().ProcessUntil([&] { return !probe.offsets.empty(); }, 5000));
    EXPECT_EQ(TMMConnector::AutomaticCount(), 1);
    // Back to manual: the connector stays active and the caller's triggers work at once.
    connector.SetAutoTrigger(false);
    EXPECT_EQ(TMMConnector::AutomaticCount(), 0);
    Pump();
    const std::size_t n = probe.offsets.size();
    clock.AdvanceMicroseconds(100000);
    connector.Trigger();
    EXPECT_EQ(probe.offsets.size(), n + 1);
    Pump(); // the loop ends with no automatic connector left
    EXPECT_EQ(platform::MessageLoop::Gui().ProcessMessages(), 0);
}

TEST_F(ConnectorTest, RealTimeOffShowsEachBufferAtOnceAndCannotChangeWhileOpen) {
    TMMConnector c;
    c.SetBufferSize(2048);
    c.SetPWaveFormat(&format);
    c.SetRealTime(false); // with AutoTrigger on, storing triggers at once
    Probe probe(1024);
    c.SetMeter(0, &probe);
    c.Started();
    EXPECT_FALSE(c.IsActive());
    Buffer b(2048);
    b.Ramp();
    c.BufferReady(b.wh());
    EXPECT_EQ(probe.offsets, std::vector<int>({0}));
    c.Stopped();

    c.Opened();
    try {
        c.SetRealTime(true);
        ADD_FAILURE() << "no error";
    } catch (const EMMConnectorError& e) {
        EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    EXPECT_FALSE(c.RealTime());
    c.Closed();
    c.SetRealTime(true);
    EXPECT_TRUE(c.RealTime());
}

} // namespace
} // namespace tunefold
