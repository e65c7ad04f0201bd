// Triggers and buffers from other threads: a worker's trigger only posts (at most one outstanding),
// drawing happens on the GUI thread, and storing never tears a chunk the trigger is reading.
#include "engine/displays/connector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/message_loop.h"
#include "platform/virtual/virtual_timers.h"

namespace tunefold {
namespace {

class ThreadProbe : public TComponent, public TMMDisplayClient {
public:
    void SetDisplayFormat(const WAVEFORMATEX*) override {}
    int BytesPerUpdate() const override { return 512; }
    void ShowData(const void* data) override {
        onGui &= platform::MessageLoop::Gui().IsGUIThread();
        // Every chunk comes from one whole buffer: all its samples carry the same value.
        std::int16_t first, v;
        std::memcpy(&first, data, 2);
        for (int i = 1; i < 256; ++i) {
            std::memcpy(&v, static_cast<const char*>(data) + 2 * i, 2);
            torn |= v != first;
        }
        ++shown;
    }
    void ResetDisplay() override {}
    TComponent* DisplayComponent() override { return this; }
    bool onGui = true;
    bool torn = false;
    int shown = 0;
};

TEST(ConnectorThreads, WorkerTriggersPostOnceAndDrawOnTheGuiThread) {
    platform::VirtualTimers clock;
    platform::ScopedTimers use(clock);
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 2, 44100);
    TMMConnector c;
    c.SetAutoTrigger(false);
    c.SetSynchronize(false);
    c.SetBufferSize(2048);
    c.SetPWaveFormat(&f);
    ThreadProbe probe;
    c.SetMeter(0, &probe);
    c.Started();
    platform::MessageLoop::Gui().ProcessMessages();
    ASSERT_TRUE(c.IsActive());

    std::vector<std::uint8_t> block(BufferHeaderBytes + 2048);
    TMMBufferHeader* h = InitBufferHeader(block.data(), 2048);
    h->wh.dwBytesRecorded = 2048;

    std::atomic<bool> stop{false};
    std::atomic<int> maxPending{0};
    std::thread worker([&] {
        for (int round = 0; !stop.load(); ++round) {
            // A buffer whose samples all hold the round number, then a trigger request.
            const auto v = static_cast<std::int16_t>(round & 0x7FFF);
            for (int i = 0; i < 1024; ++i)
                std::memcpy(h->wh.lpData + 2 * i, &v, 2);
            c.BufferReady(&h->wh);
            c.Trigger();
            maxPending = std::max(maxPending.load(), c.PendingTriggers());
        }
    });
    platform::MessageLoop::Gui().ProcessUntil([&] { return probe.shown >= 50; }, 10000);
    stop = true;
    worker.join();
    platform::MessageLoop::Gui().ProcessUntil([&] { return c.PendingTriggers() == 0; }, 5000);
    EXPECT_GT(probe.shown, 0);
    EXPECT_TRUE(probe.onGui);
    EXPECT_FALSE(probe.torn);
    EXPECT_LE(maxPending.load(), 1);
    EXPECT_EQ(c.PendingTriggers(), 0);
    c.Stopped();
}

} // namespace
} // namespace tunefold
