#include "engine/devices/ring_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "engine/devices/ring_buffer_fixture.h"

namespace tunefold {
namespace {

using test::EntryBytes;
using test::Push;
using test::Request;

class RingBufferTest : public ::testing::Test {
protected:
    TMMRingBuffer& Open(TMMQueueMode mode, int entries, int size, const WAVEFORMATEX& format) {
        ring.SetPWaveFormat(&format);
        ring.SetQueueMode(mode);
        ring.SetNumBuffers(entries);
        ring.SetBufferSize(size);
        ring.OnOverlow = [this](TObject*) { ++overflows; };
        ring.OnEmpty = [this](TObject*) { ++empties; };
        ring.Opened();
        ring.Started();
        return ring;
    }
    TMMRingBuffer ring;
    int overflows = 0;
    int empties = 0;
};

TEST_F(RingBufferTest, PropertiesDefaultsClampsAndChangesWhileOpen) {
    EXPECT_EQ(ring.BufferSize(), 2048);
    EXPECT_EQ(ring.NumBuffers(), 20);
    EXPECT_EQ(ring.QueueMode(), qmNone);
    EXPECT_TRUE(ring.Enabled());
    EXPECT_FALSE(ring.WaitIfFull());
    EXPECT_FALSE(ring.LoopIfEmpty());
    EXPECT_EQ(ring.TimeOut(), 10000);
    ring.SetBufferSize(10);
    EXPECT_EQ(ring.BufferSize(), 32);
    ring.SetNumBuffers(1);
    EXPECT_EQ(ring.NumBuffers(), 20);

    Open(qmDuplex, 4, 64, test::Pcm(16, 2, 44100));
    EXPECT_EQ(ring.BytesFree(), 4 * 64);
    for (auto change :
         std::vector<std::function<void()>>{[&] { ring.SetNumBuffers(5); }, [&] { ring.SetBufferSize(128); },
                                            [&] { ring.SetQueueMode(qmRead); }}) {
        try {
            change();
            ADD_FAILURE() << "a change while open went through";
        } catch (const EMMBufferError& e) {
            EXPECT_STREQ(e.what(), "Change to property while device was open");
        }
    }
    ring.SetNumBuffers(4); // unchanged values are no change
    ring.SetNumBuffers(1); // nor are ignored ones
    EXPECT_EQ(ring.NumBuffers(), 4);
    ring.Closed();
    ring.SetNumBuffers(5);
    EXPECT_EQ(ring.NumBuffers(), 5);
}

TEST_F(RingBufferTest, PrimingDeliversSilenceUntilMoreThanHalfIsQueuedThenTheFirstEntry) {
    Open(qmDuplex, 132, 2048, test::Pcm(16, 2, 44100));
    Request pull(4096);
    const std::vector<std::uint8_t> silence(2048, 0);
    for (int i = 0; i < 66; ++i) {
        Push(ring, EntryBytes(i, 2048));
        ASSERT_TRUE(pull.Pull(ring, 2048)) << "the duplex ring always has more";
        ASSERT_EQ(pull.Bytes(), silence) << "pull " << i;
    }
    EXPECT_FALSE(ring.Primed());
    // The pull during which the 67th entry lands still plays silence, of the whole length asked
    // for (longer than an entry and than nothing the ring holds).
    Push(ring, EntryBytes(66, 2048));
    pull.Pull(ring, 4096);
    EXPECT_EQ(pull.Bytes(), std::vector<std::uint8_t>(4096, 0));
    EXPECT_TRUE(ring.Primed());
    pull.Pull(ring, 2048);
    EXPECT_EQ(pull.Bytes(), EntryBytes(0, 2048)) << "real data begins with the first entry";
    pull.Pull(ring, 2048);
    EXPECT_EQ(pull.Bytes(), EntryBytes(1, 2048));
    EXPECT_EQ(ring.RingCount(), 65);

    // A pull longer than any block the ring owns is still silence of its whole length, while
    // priming.
    ring.Stopped();
    ring.Started();
    Request huge(100000);
    std::memset(huge.Wave()->lpData, 0x55, 100000);
    huge.Pull(ring, 100000);
    EXPECT_EQ(huge.Bytes(), std::vector<std::uint8_t>(100000, 0));
    for (int i = 0; i < 67; ++i) {
        Push(ring, EntryBytes(i, 2048));
    }
    pull.Pull(ring, 2048);
    pull.Pull(ring, 2048);
    ASSERT_EQ(pull.Bytes(), EntryBytes(0, 2048));

    // A stop empties the ring and a new start primes again.
    ring.Stopped();
    EXPECT_EQ(ring.RingCount(), 0);
    EXPECT_EQ(ring.RingBytes(), 0);
    ring.Started();
    for (int i = 0; i < 70; ++i) {
        Push(ring, EntryBytes(100 + i, 2048));
    }
    pull.Pull(ring, 2048);
    EXPECT_EQ(pull.Bytes(), silence) << "the first pull after a restart is silence again";
    pull.Pull(ring, 2048);
    EXPECT_EQ(pull.Bytes(), EntryBytes(100, 2048));
}

TEST_F(RingBufferTest, PartialPullsTakeWhatAnEntryHoldsAndKeepTheRest) {
    Open(qmDuplex, 2, 2048, test::Pcm(16, 2, 44100));
    Push(ring, EntryBytes(0, 2048));
    Push(ring, EntryBytes(1, 2048));
    Request pull(4096);
    pull.Pull(ring, 4096); // primes: two entries are more than half of two
    ASSERT_TRUE(ring.Primed());

    pull.Pull(ring, 4096);
    EXPECT_EQ(pull.Bytes(), EntryBytes(0, 2048)) << "one entry, not two";
    pull.Pull(ring, 1000);
    const auto second = EntryBytes(1, 2048);
    EXPECT_EQ(pull.Bytes(), std::vector<std::uint8_t>(second.begin(), second.begin() + 1000));
    EXPECT_EQ(ring.RingBytes(), 1048);
    EXPECT_EQ(ring.RingCount(), 1);
    pull.Pull(ring, 4096);
    EXPECT_EQ(pull.Bytes(), std::vector<std::uint8_t>(second.begin() + 1000, second.end()));
    EXPECT_TRUE(ring.IsEmpty());
    EXPECT_EQ(ring.RingBytes(), 0);
}

TEST_F(RingBufferTest, AFullRingDropsNewBuffersWithOneOverflowEachAndKeepsWhatItHolds) {
    for (const bool waitIfFull : {false, true}) {
        SCOPED_TRACE(waitIfFull);
        overflows = 0;
        // Outside qmWrite nobody makes room for a waiting writer: it is dropped as well.
        ring.SetWaitIfFull(waitIfFull);
        Open(qmDuplex, 6, 64, test::Pcm(16, 2, 44100));
        for (int i = 0; i < 6 + 3; ++i) {
            Push(ring, EntryBytes(i, 64));
        }
        EXPECT_EQ(overflows, 3);
        EXPECT_EQ(ring.RingCount(), 6);
        EXPECT_TRUE(ring.IsFull());
        EXPECT_EQ(ring.BytesFree(), 0);
        Request pull(64);
        pull.Pull(ring, 64); // priming silence
        for (int i = 0; i < 6; ++i) {
            pull.Pull(ring, 64);
            EXPECT_EQ(pull.Bytes(), EntryBytes(i, 64)) << "entry " << i;
        }
        EXPECT_TRUE(ring.IsEmpty());
        ring.Closed();
    }
}

TEST_F(RingBufferTest, AnEmptyRingPlaysSilenceOfTheFormatForTheWholeLengthAndGoesOn) {
    for (const int bits : {16, 8}) {
        SCOPED_TRACE(bits);
        empties = 0;
        Open(qmDuplex, 2, 64, test::Pcm(bits, 1, 22050));
        Push(ring, EntryBytes(0, 64));
        Push(ring, EntryBytes(1, 64));
        Request pull(1000);
        pull.Pull(ring, 1000); // primed
        pull.Pull(ring, 1000);
        pull.Pull(ring, 1000);
        ASSERT_TRUE(ring.IsEmpty());
        std::memset(pull.Wave()->lpData, 0x55, 1000);
        EXPECT_TRUE(pull.Pull(ring, 1000));
        EXPECT_EQ(pull.Bytes(), std::vector<std::uint8_t>(1000, bits == 8 ? 0x80 : 0));
        EXPECT_EQ(empties, 1);
        ring.Closed();
    }
}

TEST_F(RingBufferTest, RepeatingTheLastEntryNeedsOneAndFallsBackToSilence) {
    WAVEFORMATEX compressed = test::Pcm(16, 2, 44100);
    compressed.wFormatTag = 2;
    for (const bool pcm : {true, false}) {
        SCOPED_TRACE(pcm);
        // Repeating is asked for (PCM) or the only way to keep a compressed stream whole.
        ring.SetLoopIfEmpty(pcm);
        Open(qmNone, 4, 64, pcm ? test::Pcm(16, 2, 44100) : compressed);
        std::vector<char> out(100, 0x55);
        DWORD bytes = 100, flags = 7;
        DWORD_PTR user = 9;
        // Nothing was ever read: silence of the whole length, never an empty answer (which the
        // output would take for a failed refill, "Error filling wave buffer").
        ring.GetData(out.data(), bytes, flags, user);
        EXPECT_EQ(bytes, 100u);
        EXPECT_EQ(std::vector<char>(out.begin(), out.end()), std::vector<char>(100, 0));
        EXPECT_EQ(flags, 0u);
        EXPECT_EQ(user, 0u);

        const auto entry = EntryBytes(4, 64);
        ring.PutBuffer(reinterpret_cast<const char*>(entry.data()), 64, RingLoopRestart, 42);
        bytes = 100;
        ring.GetData(out.data(), bytes, flags, user);
        ASSERT_EQ(bytes, 64u);
        bytes = 100;
        std::fill(out.begin(), out.end(), 0);
        ring.GetData(out.data(), bytes, flags, user);
        EXPECT_EQ(bytes, 64u) << "empty: the last entry again";
        EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 64), entry);
        EXPECT_EQ(flags, RingLoopRestart);
        EXPECT_EQ(user, 42u);
        EXPECT_EQ(empties, 2);
        empties = 0;
        ring.Closed();
    }
}

TEST_F(RingBufferTest, OtherModesPassPushesOnAndBlocksAreSplitIntoEntries) {
    test::CollectingSink sink;
    ring.SetOutput(&sink);
    Open(qmNone, 4, 64, test::Pcm(16, 2, 44100));
    Push(ring, EntryBytes(3, 40));
    EXPECT_EQ(sink.data, EntryBytes(3, 40)) << "qmNone hands a pushed buffer on unchanged";
    EXPECT_TRUE(ring.IsEmpty());
    ring.Closed();

    Open(qmNone, 4, 64, test::Pcm(16, 2, 44100));
    const auto block = EntryBytes(9, 200);
    EXPECT_EQ(ring.WriteData(reinterpret_cast<const char*>(block.data()), 200, RingLastBuffer), 200u);
    EXPECT_EQ(ring.RingCount(), 4);
    std::vector<std::uint8_t> back(300, 0);
    EXPECT_EQ(ring.ReadData(reinterpret_cast<char*>(back.data()), 300), 200u)
        << "stops when the ring is empty";
    back.resize(200);
    EXPECT_EQ(back, block);
    EXPECT_EQ(ring.WriteData(reinterpret_cast<const char*>(block.data()), 200, 0), 200u);
    EXPECT_EQ(ring.WriteData(reinterpret_cast<const char*>(block.data()), 200, 0), 0u) << "full";
}

// A source of numbered 64-byte buffers that ends after `count` of them.
class CountedSource : public TMMDSPComponent {
public:
    explicit CountedSource(int count) : count_(count) {}
    bool PublishesInput() const override { return false; }
    void BufferLoad(PWaveHdr h, bool& more) override {
        const DWORD n = std::min<DWORD>(h->dwBufferLength, 64);
        if (next_ >= count_) {
            h->dwBytesRecorded = 0;
            more = false;
            return;
        }
        const auto bytes = EntryBytes(next_++, n);
        std::copy(bytes.begin(), bytes.end(), h->lpData);
        h->dwBytesRecorded = n;
        more = next_ < count_;
    }

private:
    int count_;
    int next_ = 0;
};

TEST_F(RingBufferTest, ReadModeFillsFromItsInputOnItsThreadAndMarksTheEnd) {
    CountedSource source(3);
    source.SetPWaveFormat(&static_cast<const WAVEFORMATEX&>(test::Pcm(16, 2, 44100)));
    ring.SetInput(&source);
    int fills = 0;
    ring.OnFillQueueEnd = [&](TObject*) { ++fills; };
    Open(qmRead, 8, 64, test::Pcm(16, 2, 44100));
    Request pull(64);
    std::vector<std::uint8_t> heard;
    bool more = true;
    for (int i = 0; i < 3 && more; ++i) {
        more = pull.Pull(ring, 64);
        const auto b = pull.Bytes();
        heard.insert(heard.end(), b.begin(), b.end());
    }
    EXPECT_FALSE(more) << "the source's end travels with its last entry";
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 3; ++i) {
        const auto b = EntryBytes(i, 64);
        expected.insert(expected.end(), b.begin(), b.end());
    }
    EXPECT_EQ(heard, expected);
    EXPECT_GE(fills, 1);
    ring.Closed();
}

} // namespace
} // namespace tunefold
