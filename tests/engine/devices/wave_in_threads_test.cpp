// The wave input and the ring buffer across threads: a stop that meets a running handler, the
// full-duplex route from a recording device through the ring to a playing one, a writer that waits
// for room, and readers, writers and resets of the ring at once.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>

#include "engine/devices/ring_buffer.h"
#include "engine/devices/ring_buffer_fixture.h"
#include "engine/devices/wave_in.h"
#include "engine/devices/wave_out_fixture.h"
#include "platform/virtual/virtual_wave_in.h"

namespace tunefold {
namespace {

using test::Card;
using test::PumpUntil;

std::uint8_t SignalByte(std::uint64_t i) {
    return static_cast<std::uint8_t>((i * 13 + i / 509) % 250 + 1); // never 0: silence is told apart
}

void Signal(std::uint64_t first, std::uint8_t* out, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        out[k] = SignalByte(first + k);
    }
}

class WaveInThreads : public ::testing::Test {
protected:
    void SetUp() override {
        Card().ResetAll();
        Card().Capture().SetSignal(0, &Signal);
    }
    void TearDown() override { Card().ResetAll(); }
};

TEST_F(WaveInThreads, AStopDuringAHandlerEndsLaterAndHandsTheLateBufferOnOnce) {
    test::CollectingSink sink;
    TMMWaveIn wi;
    wi.SetCallBackMode(cmThread);
    wi.SetNumBuffers(4);
    wi.SetBufferSize(1024);
    wi.SetMode(mStereo);
    wi.SetBitLength(b16Bit);
    wi.SetSampleRate(44100);
    wi.SetOutput(&sink);
    std::atomic<int> stops{0};
    std::atomic<bool> stopOnGui{false};
    std::atomic<bool> pendingSeen{false};
    wi.OnStop = [&](TObject*) {
        stops.fetch_add(1);
        stopOnGui.store(platform::MessageLoop::Gui().IsGUIThread());
    };
    bool first = true;
    wi.OnBufferReady = [&](TObject*, PWaveHdr) {
        if (std::exchange(first, false)) {
            wi.Stop(); // on the worker thread, inside the handler
            pendingSeen.store(wi.StopPending());
        }
    };
    wi.Start();
    Card().Advance(256 + 100); // a full buffer, and 400 bytes in the next
    ASSERT_TRUE(PumpUntil([&] { return stops.load() > 0; }));
    EXPECT_TRUE(pendingSeen.load()) << "the stop waits for the handler";
    EXPECT_TRUE(stopOnGui.load()) << "and is finished on the GUI thread";
    EXPECT_EQ(stops.load(), 1);
    std::lock_guard lock(sink.mutex);
    EXPECT_EQ(sink.sizes, (std::vector<DWORD>{1024, 400}));
    std::vector<std::uint8_t> expected(1424);
    Signal(0, expected.data(), expected.size());
    EXPECT_EQ(sink.data, expected);
    EXPECT_EQ(wi.QueuedBuffers(), 0);
}

TEST_F(WaveInThreads, FullDuplexPlaysTheRecordingAfterThePrimingSilence) {
    TMMWaveIn wi;
    TMMRingBuffer ring;
    TMMWaveOut wo;
    for (TMMCustomSoundComponent* device : std::initializer_list<TMMCustomSoundComponent*>{&wi, &wo}) {
        device->SetCallBackMode(cmThread);
        device->SetNumBuffers(8);
        device->SetBufferSize(256);
    }
    wi.SetMode(mStereo);
    wi.SetBitLength(b16Bit);
    wi.SetSampleRate(44100);
    ring.SetQueueMode(qmDuplex);
    ring.SetNumBuffers(12);
    wi.SetOutput(&ring);
    ring.SetOutput(&wo);
    wi.Start(); // opens and starts the whole chain: the output primes from the ring
    ASSERT_EQ(wo.State(), TMMWaveOutState(wosOpened | wosPlaying));
    for (int i = 0; i < 60; ++i) {
        Card().Advance(64); // one buffer recorded and one played
        ASSERT_TRUE(PumpUntil([&] { return wi.CompletionsIdle() && wo.CompletionsIdle(); }));
    }
    const auto played = Card().Played();
    ASSERT_EQ(played.size(), 60u * 256);
    std::size_t start = 0;
    while (start < played.size() && played[start] == 0) {
        ++start;
    }
    // Eight silent buffers fill the output at the start; the ring gives silence until it holds
    // more than six entries.
    EXPECT_GE(start, 8u * 256);
    EXPECT_EQ(start % 256, 0u);
    ASSERT_LT(start, played.size());
    std::vector<std::uint8_t> expected(played.size() - start);
    Signal(0, expected.data(), expected.size());
    EXPECT_EQ(std::vector<std::uint8_t>(played.begin() + static_cast<std::ptrdiff_t>(start), played.end()),
              expected)
        << "the recording, from its first byte, with nothing lost or doubled";
    wi.Stop();
    EXPECT_EQ(wo.State(), TMMWaveOutState(wosOpened)) << "a stop of the input stops the output";
    EXPECT_EQ(ring.RingCount(), 0);
    wi.Close();
    EXPECT_EQ(wo.State(), TMMWaveOutState(wosClosed));
}

// A stage that takes pushed buffers only when let through.
class GatedSink : public test::CollectingSink {
public:
    void BufferReady(PWaveHdr h) override {
        {
            std::unique_lock lock(gateMutex);
            gateChanged.wait_for(lock, std::chrono::seconds(10), [this] { return open; });
        }
        CollectingSink::BufferReady(h);
    }
    void Open() {
        {
            std::lock_guard lock(gateMutex);
            open = true;
        }
        gateChanged.notify_all();
    }
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool open = false;
};

TEST_F(WaveInThreads, AWriterWaitsForRoomInWriteModeAndAStopEndsTheWait) {
    GatedSink sink;
    TMMRingBuffer ring;
    WAVEFORMATEX f = test::Pcm(16, 2, 44100);
    ring.SetPWaveFormat(&f);
    ring.SetQueueMode(qmWrite);
    ring.SetWaitIfFull(true);
    ring.SetNumBuffers(4);
    ring.SetBufferSize(64);
    ring.SetOutput(&sink);
    std::atomic<int> overflows{0};
    ring.OnOverlow = [&](TObject*) { overflows.fetch_add(1); };
    ring.Opened();
    ring.Started();

    // With room made by the queue thread every pushed buffer arrives, in order: the thread
    // drains the ring each time it is half full, and the stop sends on what is left.
    sink.Open();
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 4 + 3; ++i) {
        const auto bytes = test::EntryBytes(i, 64);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        test::Push(ring, bytes);
    }
    ring.Stopped();
    EXPECT_EQ(overflows.load(), 0);
    {
        std::lock_guard lock(sink.mutex);
        EXPECT_EQ(sink.data, expected);
    }
    ring.Closed();

    // Nobody drains: the writer waits, and a close ends the wait.
    GatedSink shut;
    ring.SetOutput(&shut);
    ring.Opened();
    ring.Started();
    std::atomic<bool> returned{false};
    std::thread writer([&] {
        for (int i = 0; i < 12; ++i) {
            test::Push(ring, test::EntryBytes(i, 64));
        }
        returned.store(true);
    });
    std::thread closer([&] { ring.Stopped(); });
    const bool ended = PumpUntil([&] { return returned.load(); }, 5000);
    shut.Open(); // lets the queue thread and the final flush go
    writer.join();
    closer.join();
    EXPECT_TRUE(ended) << "the waiting writer was released by the stop";
    ring.Closed();
}

TEST_F(WaveInThreads, ReadsWritesAndResetsAtOnceKeepTheCountsSane) {
    TMMRingBuffer ring;
    WAVEFORMATEX f = test::Pcm(16, 2, 44100);
    ring.SetPWaveFormat(&f);
    ring.SetQueueMode(qmNone);
    ring.SetNumBuffers(8);
    ring.SetBufferSize(64);
    ring.Opened();
    std::atomic<bool> stop{false};
    std::atomic<int> insane{0};
    std::thread producer([&] {
        const auto bytes = test::EntryBytes(1, 64);
        while (!stop.load()) {
            ring.PutBuffer(reinterpret_cast<const char*>(bytes.data()), 64, 0, 0);
        }
    });
    std::thread consumer([&] {
        char out[48];
        while (!stop.load()) {
            DWORD n = sizeof out, flags = 0;
            DWORD_PTR user = 0;
            ring.GetData(out, n, flags, user); // partial reads move entries' rests around
        }
    });
    for (int i = 0; i < 20000; ++i) {
        if (i % 7 == 0) {
            ring.ResetQueue();
        }
        const int count = ring.RingCount();
        const auto bytes = ring.RingBytes();
        if (count < 0 || count > 8 || bytes < 0 || bytes > 8 * 64) {
            insane.fetch_add(1);
        }
    }
    stop.store(true);
    producer.join();
    consumer.join();
    EXPECT_EQ(insane.load(), 0);
    // Drained, the ring holds exactly what its counts say.
    char out[64];
    while (!ring.IsEmpty()) {
        DWORD n = sizeof out, flags = 0;
        DWORD_PTR user = 0;
        ring.GetData(out, n, flags, user);
    }
    EXPECT_EQ(ring.RingBytes(), 0);
    EXPECT_EQ(ring.BytesFree(), 8 * 64);
    ring.Closed();
}

// A source that delivers only when let through.
class GatedSource : public TMMDSPComponent {
public:
    bool PublishesInput() const override { return false; }
    void BufferLoad(PWaveHdr h, bool& more) override {
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::seconds(10), [this] { return open; });
        }
        const auto bytes = test::EntryBytes(loads++, h->dwBufferLength);
        std::copy(bytes.begin(), bytes.end(), h->lpData);
        h->dwBytesRecorded = h->dwBufferLength;
        more = true;
    }
    void Open() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int loads = 0;
};

TEST_F(WaveInThreads, ReadModeGivesUpAfterItsTimeOutAndPlaysOnceTheQueueIsFilled) {
    GatedSource source;
    WAVEFORMATEX f = test::Pcm(16, 2, 44100);
    source.SetPWaveFormat(&f);
    TMMRingBuffer ring;
    ring.SetInput(&source);
    ring.SetQueueMode(qmRead);
    ring.SetNumBuffers(4);
    ring.SetBufferSize(64);
    ring.SetTimeOut(20);
    ring.Opened();
    ring.Started();
    test::Request pull(64);
    pull.Pull(ring, 64);
    EXPECT_EQ(pull.Wave()->dwBytesRecorded, 0u) << "nothing came within the time-out";
    EXPECT_FALSE(ring.Primed());
    source.Open();
    ring.SetTimeOut(10000);
    ASSERT_TRUE(PumpUntil([&] { return ring.RingCount() > 0; }));
    pull.Pull(ring, 64);
    EXPECT_EQ(pull.Bytes(), test::EntryBytes(0, 64)) << "the first entry the thread stored";
    ring.Closed();
}

} // namespace
} // namespace tunefold
