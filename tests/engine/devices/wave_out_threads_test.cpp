// Random sequences of the transport operations against a card that plays as fast as it can, in
// every callback mode: the device must never deadlock, lose or double a buffer, or show a state
// outside the five it can be in.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "engine/devices/wave_out.h"
#include "engine/devices/wave_out_fixture.h"

namespace tunefold {
namespace {

using test::Card;

bool ValidState(TMMWaveOutState s) {
    switch (s.Bits()) {
    case wosClosed:
    case wosOpened:
    case wosOpened | wosPaused:
    case wosOpened | wosPlaying:
    case wosOpened | wosPlaying | wosPaused:
        return true;
    default:
        return false;
    }
}

class WaveOutStress : public ::testing::TestWithParam<TMMCBMode> {
protected:
    void SetUp() override {
        Card().ResetAll();
        Card().SetClock(platform::VirtualClock::Fast);
        SetDirectCallbacksAllowed(true);
        saved = WaveOutUserInterface();
        WaveOutUserInterface().showException = [this](const std::exception&) { exceptions.fetch_add(1); };
    }
    void TearDown() override {
        Card().ResetAll();
        SetDirectCallbacksAllowed(false);
        WaveOutUserInterface() = saved;
    }
    WaveOutUi saved;
    std::atomic<int> exceptions{0};
};

TEST_P(WaveOutStress, RandomTransportSequences) {
    WAVEFORMATEX f = test::Stereo16(8000);
    test::PatternSource source(64 * 400, &f);
    test::CountingSink sink;
    TMMWaveOut wo;
    wo.SetCallBackMode(GetParam());
    wo.SetNumBuffers(8);
    wo.SetBufferSize(64);
    wo.SetInput(&source);
    wo.SetOutput(&sink);

    std::atomic<int> badStates{0};
    std::atomic<bool> stopInside{false};
    std::atomic<int> stops{0}, opens{0}, closes{0};
    wo.OnBufferReady = [&](TObject*, PWaveHdr) {
        if (!ValidState(wo.State())) {
            badStates.fetch_add(1);
        }
        if (stopInside.exchange(false)) {
            wo.Stop(); // a stop that meets the running completion
        }
    };
    wo.OnStop = [&](TObject*) { stops.fetch_add(1); };
    wo.OnOpen = [&](TObject*) { opens.fetch_add(1); };
    wo.OnClose = [&](TObject*) { closes.fetch_add(1); };

    std::mt19937 rng(1234u + static_cast<unsigned>(GetParam()));
    std::uniform_int_distribution<int> opPick(0, 7);
    std::uniform_int_distribution<int> lengthPick(1, 8);
    for (int sequence = 0; sequence < 500; ++sequence) {
        SCOPED_TRACE(sequence);
        const int length = lengthPick(rng);
        std::string ops;
        for (int step = 0; step < length; ++step) {
            const int op = opPick(rng);
            ops += "SPRFTCIM"[op];
            try {
                switch (op) {
                case 0:
                    if (!wo.State().Contains(wosPlaying) && source.position.load() > 64 * 300) {
                        source.Seek(0);
                    }
                    wo.Start();
                    break;
                case 1:
                    wo.Pause();
                    break;
                case 2:
                    wo.Restart();
                    break;
                case 3:
                    if (wo.State().Contains(wosPaused)) {
                        source.Seek(64 * 10);
                    }
                    wo.Flush();
                    break;
                case 4:
                    wo.Stop();
                    break;
                case 5:
                    wo.Close();
                    break;
                case 6:
                    stopInside.store(true);
                    break;
                default:
                    platform::MessageLoop::Gui().ProcessMessages();
                    break;
                }
            } catch (const EMMWaveOutError& e) {
                ADD_FAILURE() << e.what() << " after " << ops;
            }
            EXPECT_TRUE(ValidState(wo.State())) << int(wo.State().Bits());
        }
        stopInside.store(false);
        wo.Close();
        ASSERT_TRUE(test::PumpUntil([&] {
            return wo.State() == TMMWaveOutState(wosClosed) && wo.CompletionsIdle();
        })) << "the device did not come to rest after "
            << ops << ": state " << int(wo.State().Bits()) << ", stop pending " << wo.StopPending()
            << ", close deferred " << wo.CloseDeferred() << ", completions idle " << wo.CompletionsIdle();
        // Every header the card accepted came back exactly once, and every prepared one was
        // unprepared before its memory went back to the pool.
        ASSERT_EQ(Card().QueuedCount(), 0);
        ASSERT_EQ(Card().CallCount("written"), Card().CallCount("done"));
        ASSERT_EQ(Card().CallCount("prepare"), Card().CallCount("unprepare"));
        ASSERT_EQ(Card().OpenCount(), 0);
        ASSERT_EQ(wo.QueuedBuffers(), 0);
        ASSERT_EQ(opens.load(), closes.load()) << "after " << ops;
    }
    EXPECT_EQ(badStates.load(), 0);
    EXPECT_EQ(exceptions.load(), 0);
    EXPECT_EQ(opens.load(), closes.load());
    EXPECT_GT(stops.load(), 0);
}

// The worker thread held inside a completion: its source blocks in the refill until released.
class WorkerInARefill : public ::testing::Test {
protected:
    void SetUp() override {
        Card().ResetAll();
        source.OnBufferLoad = [this](TObject*, PWaveHdr, bool&) {
            if (block.exchange(false)) {
                inLoad.Set();
                release.Wait(10000);
            }
        };
    }
    void TearDown() override { Card().ResetAll(); }

    // Starts `wo` on the worker thread and returns once the worker is inside its first refill.
    void StartAndHoldARefill(TMMWaveOut& wo) {
        wo.SetCallBackMode(cmThread);
        wo.SetNumBuffers(4);
        wo.SetBufferSize(64);
        wo.SetInput(&source);
        wo.Start();
        block.store(true);
        Card().Advance(16);
        ASSERT_TRUE(inLoad.Wait(10000));
    }

    WAVEFORMATEX format = test::Stereo16(8000);
    test::PatternSource source{64 * 100, &format};
    platform::SyncEvent inLoad, release;
    std::atomic<bool> block{false};
};

// A stop from the GUI thread while the worker thread is inside a completion (its source is slow):
// the stop is left pending, and finished by the GUI thread once the completion is over.
TEST_F(WorkerInARefill, StopFromTheGuiIsFinishedByTheGui) {
    TMMWaveOut wo;
    std::atomic<int> stopsOnGui{0}, stopsElsewhere{0};
    wo.OnStop = [&](TObject*) {
        (platform::MessageLoop::Gui().IsGUIThread() ? stopsOnGui : stopsElsewhere).fetch_add(1);
    };
    ASSERT_NO_FATAL_FAILURE(StartAndHoldARefill(wo));
    wo.Stop();
    EXPECT_TRUE(wo.StopPending());
    wo.Close();
    EXPECT_TRUE(wo.CloseDeferred());
    EXPECT_EQ(wo.Position(), 0);
    EXPECT_EQ(stopsOnGui.load() + stopsElsewhere.load(), 0);
    release.Set();
    ASSERT_TRUE(test::PumpUntil([&] { return wo.State() == TMMWaveOutState(wosClosed); }));
    EXPECT_EQ(stopsOnGui.load(), 1);
    EXPECT_EQ(stopsElsewhere.load(), 0);
    EXPECT_EQ(Card().OpenCount(), 0);
    EXPECT_EQ(Card().CallCount("written"), Card().CallCount("done"));
}

// A second Close while a deferred one waits for the pending stop, made after the completion
// has finished but before its end message reached the GUI thread: the device closes once.
TEST_F(WorkerInARefill, ASecondCloseWhileOneIsDeferredClosesOnce) {
    TMMWaveOut wo;
    int stops = 0, closes = 0;
    wo.OnStop = [&](TObject*) { ++stops; };
    wo.OnClose = [&](TObject*) { ++closes; };
    ASSERT_NO_FATAL_FAILURE(StartAndHoldARefill(wo));
    wo.Close();
    ASSERT_TRUE(wo.CloseDeferred());
    release.Set();
    for (int i = 0; i < 5000 && wo.InDoneCount() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(wo.InDoneCount(), 0);
    wo.Close();
    ASSERT_TRUE(test::PumpUntil([&] { return wo.State() == TMMWaveOutState(wosClosed); }));
    test::PumpUntil([] { return false; }, 50); // a second close would come from the end message
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(Card().OpenCount(), 0);
}

// Destroyed while its close waits for a completion that the worker thread is still running:
// the device is closed before the component is gone.
TEST_F(WorkerInARefill, DestroyedWhileACloseIsDeferredClosesTheDevice) {
    std::thread releaser;
    {
        TMMWaveOut wo;
        ASSERT_NO_FATAL_FAILURE(StartAndHoldARefill(wo));
        wo.Close();
        ASSERT_TRUE(wo.CloseDeferred());
        releaser = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            release.Set();
        });
    }
    releaser.join();
    EXPECT_EQ(Card().OpenCount(), 0);
    EXPECT_EQ(Card().CallCount("prepare"), Card().CallCount("unprepare"));
}

// The card returns a whole period of buffers in one batch and the worker thread is woken only at
// the batch's last notification: every buffer of the batch must still be handed on and refilled,
// also when the batch is a whole ring, and also when a stop lands between two batches.
TEST(WaveOutThreads, WorkerHandlesEveryBufferOfABatch) {
    Card().ResetAll();
    WAVEFORMATEX f = test::Stereo16(8000);
    test::PatternSource source(64 * 40, &f);
    test::CountingSink sink;
    TMMWaveOut wo;
    wo.SetCallBackMode(cmThread);
    wo.SetNumBuffers(6);
    wo.SetBufferSize(64);
    wo.SetInput(&source);
    wo.SetOutput(&sink);
    wo.Start();
    ASSERT_EQ(Card().CallCount("written"), 6);
    for (int batch = 1; batch <= 3; ++batch) {
        Card().Advance(6 * 16); // the whole ring at once
        ASSERT_TRUE(test::PumpUntil([&] { return Card().CallCount("written") == 6 + 6 * batch; }))
            << "batch " << batch << ": " << Card().CallCount("written") << " written";
        ASSERT_TRUE(test::PumpUntil([&] { return wo.CompletionsIdle(); }));
        EXPECT_EQ(wo.QueuedBuffers(), 6);
    }
    Card().Advance(3 * 16);
    ASSERT_TRUE(test::PumpUntil([&] { return wo.CompletionsIdle() && Card().CallCount("written") == 27; }));
    {
        std::lock_guard lock(sink.mutex);
        EXPECT_EQ(sink.buffers, 21);
        EXPECT_EQ(sink.bytes, 21u * 64u);
    }
    wo.Stop();
    EXPECT_EQ(Card().QueuedCount(), 0);
    EXPECT_EQ(Card().CallCount("written"), Card().CallCount("done"));
    wo.Close();
    Card().ResetAll();
}

// A card that sets each done flag a little after it returned the buffer, on a thread of its own,
// while it plays as fast as it can: the refill waits for the flag that thread sets, and a stop
// never leaves a header to be flagged behind its back. Every byte is heard once and in order.
TEST_P(WaveOutStress, DoneFlagsSetLateOnAnotherThread) {
    platform::VirtualWaveFaults faults;
    faults.lateDoneFlagMs = 2;
    Card().SetFaults(faults);
    WAVEFORMATEX f = test::Stereo16(8000);
    test::PatternSource source(64 * 30, &f);
    TMMWaveOut wo;
    wo.SetCallBackMode(GetParam());
    wo.SetNumBuffers(4);
    wo.SetBufferSize(64);
    wo.SetInput(&source);
    std::atomic<int> stops{0}, errors{0};
    wo.OnStop = [&](TObject*) { stops.fetch_add(1); };
    wo.OnError = [&](TObject*) { errors.fetch_add(1); };

    wo.Start();
    ASSERT_TRUE(test::PumpUntil([&] { return stops.load() == 1; }));
    std::vector<std::uint8_t> expected(64 * 30);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expected[i] = test::PatternByte(i);
    }
    EXPECT_EQ(Card().Played(), expected);

    // Stopped while buffers wait for their flags.
    source.Seek(0);
    wo.Start();
    ASSERT_TRUE(test::PumpUntil([&] { return Card().CallCount("done") > 40; }));
    wo.Stop();
    ASSERT_TRUE(test::PumpUntil([&] { return stops.load() == 2 && wo.CompletionsIdle(); }));
    EXPECT_EQ(Card().QueuedCount(), 0);
    EXPECT_EQ(Card().CallCount("prepare"), Card().CallCount("unprepare"));
    wo.Close();
    EXPECT_EQ(errors.load(), 0);
    EXPECT_EQ(exceptions.load(), 0);
    EXPECT_EQ(Card().OpenCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutStress, ::testing::Values(cmWindow, cmCallback, cmThread),
                         [](const auto& info) { return std::string(test::ModeName(info.param)); });

} // namespace
} // namespace tunefold
