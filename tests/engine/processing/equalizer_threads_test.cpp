#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "engine/framework/threads.h"
#include "engine/processing/equalizer.h"
#include "platform/message_loop.h"

namespace tunefold {
namespace {

using platform::MessageLoop;

// A stage thread that runs `body` once, as a device's worker thread drives its chain.
class Worker : public TMMDSPThread {
public:
    Worker(TMMDSPComponent* owner, std::function<void()> body)
        : TMMDSPThread(owner), body_(std::move(body)) {}

protected:
    void Execute() override { body_(); }

private:
    std::function<void()> body_;
};

void Push(TMMEqualizer& eq, std::vector<std::int16_t>& data) {
    WAVEHDR h{};
    h.lpData = reinterpret_cast<char*>(data.data());
    h.dwBufferLength = h.dwBytesRecorded = static_cast<DWORD>(data.size() * 2);
    eq.BufferReady(&h);
}

TEST(EqualizerThreadsTest, OverflowReachesTheGuiThreadWhileTheWorkerWaits) {
    TMMEqualizer eq;
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 2, 44100);
    eq.SetPWaveFormat(&f);
    eq.Filters().AddFilter(0, 22050, 20);
    eq.Opened();

    std::atomic<bool> pushed{false};
    std::atomic<int> calls{0};
    bool onGui = false;
    bool workerWaited = false;
    eq.OnPcmOverflow = [&](TObject*) {
        onGui = MessageLoop::Gui().IsGUIThread();
        workerWaited = !pushed.load();
        ++calls;
    };
    Worker worker(&eq, [&] {
        std::vector<std::int16_t> loud(1024, 25000);
        Push(eq, loud);
        pushed = true;
    });
    worker.Resume();
    ASSERT_TRUE(MessageLoop::Gui().ProcessUntil([&] { return pushed.load(); }, 10000));
    ASSERT_TRUE(worker.WaitFor(10000));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(onGui);
    EXPECT_TRUE(workerWaited);
    eq.Closed();
}

TEST(EqualizerThreadsTest, BandsLengthAndSwitchesChangeWhileAWorkerFilters) {
    TMMEqualizer eq;
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 2, 44100);
    eq.SetPWaveFormat(&f);
    for (int i = 0; i < 10; ++i) {
        eq.Filters().AddFilter(100.0f * i, 100.0f * (i + 1), 0);
    }
    eq.Opened();
    std::atomic<int> overflows{0};
    eq.OnPcmOverflow = [&](TObject*) { ++overflows; };

    // The worker keeps pushing until the GUI side has made its changes, however the two threads
    // happen to be scheduled.
    constexpr int kChanges = 2000;
    std::atomic<int> changes{0};
    std::atomic<bool> done{false};
    Worker worker(&eq, [&] {
        std::vector<std::int16_t> data(1024);
        for (int n = 0; n < 400 || (changes.load() < kChanges && n < 1000000); ++n) {
            for (std::size_t i = 0; i < data.size(); ++i) {
                data[i] = static_cast<std::int16_t>(((i + n) % 50) * 600 - 15000);
            }
            Push(eq, data);
        }
        done = true;
    });
    worker.Resume();
    // The GUI side keeps changing what the worker filters with; the worker's pushes must go on
    // undisturbed (and ThreadSanitizer must find no race).
    for (int step = 0; !done.load(); ++step) {
        eq.Filters().Items(step % 10)->SetGain(static_cast<float>(step % 41 - 20));
        if (step % 7 == 0) {
            eq.SetFFTLength(step % 14 == 0 ? 512 : 256);
        }
        if (step % 11 == 0) {
            eq.SetEnabled(!eq.Enabled());
        }
        if (step % 13 == 0) {
            eq.SetChannel(static_cast<TMMChannel>(step % 3));
            eq.SetWindow(step % 26 == 0 ? fwHanning : fwHamming);
        }
        MessageLoop::Gui().ProcessMessages();
        changes.fetch_add(1);
    }
    ASSERT_TRUE(worker.WaitFor(10000));
    EXPECT_GE(changes.load(), kChanges);
    eq.Closed();
}

} // namespace
} // namespace tunefold
