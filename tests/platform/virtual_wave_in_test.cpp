#include "platform/virtual/virtual_wave_in.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "platform/virtual/virtual_sound_card.h"
#include "platform/wave_header.h"

namespace tunefold::platform {
namespace {

struct Log {
    std::vector<UINT> messages;
    std::vector<WAVEHDR*> data;
    std::vector<bool> doneBeforeNotice;
};

void Record(std::uintptr_t, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    auto* log = reinterpret_cast<Log*>(instance);
    log->messages.push_back(msg);
    if (msg == WIM_DATA) {
        auto* h = reinterpret_cast<WAVEHDR*>(param1);
        log->data.push_back(h);
        log->doneBeforeNotice.push_back(HeaderHas(*h, WHDR_DONE) && !HeaderHas(*h, WHDR_INQUEUE));
    }
}

WAVEFORMATEX Stereo16(DWORD rate = 44100) {
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 2, rate, rate * 4, 4, 16, 0};
    return f;
}

struct Buffer {
    std::vector<char> bytes;
    WAVEHDR header{};
    explicit Buffer(std::size_t n) : bytes(n, 0) {
        header.lpData = bytes.data();
        header.dwBufferLength = static_cast<DWORD>(n);
    }
    std::vector<std::uint8_t> Recorded() const {
        return {bytes.begin(), bytes.begin() + header.dwBytesRecorded};
    }
};

std::vector<std::uint8_t> Ramp(std::size_t n, std::size_t from = 0) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::uint8_t>((from + i) * 3 + 1);
    }
    return v;
}

class VirtualWaveInTest : public ::testing::Test {
protected:
    void SetUp() override {
        card.ResetAll();
        in().SetSignal(0, VirtualSignalFromBytes(Ramp(4000), 16));
    }
    VirtualWaveIn& in() { return card.Capture(); }
    HWAVEIN OpenDevice(int id = 0) {
        HWAVEIN h = 0;
        WAVEFORMATEX f = Stereo16();
        EXPECT_EQ(in().Open(&h, id, &f, &Record, reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        return h;
    }
    VirtualSoundCard card;
    Log log;
};

TEST_F(VirtualWaveInTest, FillsAddedBuffersInOrderFromTheSignalOnTheCardsClock) {
    HWAVEIN h = OpenDevice();
    ASSERT_EQ(log.messages, std::vector<UINT>{WIM_OPEN});
    Buffer a(400), b(400), c(400);
    ASSERT_EQ(in().AddBuffer(h, &a.header), WAVERR_UNPREPARED);
    for (Buffer* x : {&a, &b, &c}) {
        in().PrepareHeader(h, &x->header);
        ASSERT_EQ(in().AddBuffer(h, &x->header), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(in().AddBuffer(h, &a.header), WAVERR_STILLPLAYING);
    card.Advance(1000);
    EXPECT_TRUE(log.data.empty()) << "nothing is recorded before Start";
    ASSERT_EQ(in().Start(h), MMSYSERR_NOERROR);
    card.Advance(99);
    EXPECT_TRUE(log.data.empty());
    card.Advance(1); // 100 frames fill a
    ASSERT_EQ(log.data, std::vector<WAVEHDR*>{&a.header});
    EXPECT_TRUE(log.doneBeforeNotice[0]);
    EXPECT_EQ(a.Recorded(), Ramp(400));
    card.Advance(150); // b, and half of c
    ASSERT_EQ(log.data.size(), 2u);
    EXPECT_EQ(b.Recorded(), Ramp(400, 400));
    MMTIME t;
    ASSERT_EQ(in().GetPosition(h, t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, TIME_SAMPLES);
    EXPECT_EQ(t.value, 250u);
    t.wType = TIME_BYTES;
    in().GetPosition(h, t);
    EXPECT_EQ(t.value, 1000u);

    // Stop returns the buffer being filled with what it holds; an empty one would stay queued.
    EXPECT_EQ(in().Close(h), WAVERR_STILLPLAYING);
    ASSERT_EQ(in().Stop(h), MMSYSERR_NOERROR);
    ASSERT_EQ(log.data.size(), 3u);
    EXPECT_EQ(c.Recorded(), Ramp(200, 800));
    card.Advance(1000);
    EXPECT_EQ(log.data.size(), 3u) << "a stopped input records nothing";
    EXPECT_EQ(in().UnprepareHeader(h, &a.header), MMSYSERR_NOERROR);
    EXPECT_EQ(in().Close(h), MMSYSERR_NOERROR);
    EXPECT_EQ(log.messages.back(), WIM_CLOSE);
    EXPECT_EQ(in().Close(h), MMSYSERR_INVALHANDLE);
}

TEST_F(VirtualWaveInTest, ResetReturnsEveryBufferAndAManualAdvanceMovesOutputsToo) {
    HWAVEIN h = OpenDevice();
    HWAVEOUT out = 0;
    WAVEFORMATEX f = Stereo16();
    ASSERT_EQ(card.Open(&out, 0, &f, nullptr, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Buffer played(400);
    card.PrepareHeader(out, &played.header);
    card.Write(out, &played.header);

    Buffer a(400), b(400);
    for (Buffer* x : {&a, &b}) {
        in().PrepareHeader(h, &x->header);
        in().AddBuffer(h, &x->header);
    }
    in().Start(h);
    card.Advance(100);
    EXPECT_EQ(card.Played().size(), 400u) << "one clock for both directions";
    ASSERT_EQ(log.data.size(), 1u);
    card.Advance(30);
    ASSERT_EQ(in().Reset(h), MMSYSERR_NOERROR);
    ASSERT_EQ(log.data.size(), 2u);
    EXPECT_EQ(log.data[1], &b.header);
    EXPECT_EQ(b.header.dwBytesRecorded, 120u);
    EXPECT_TRUE(HeaderHas(b.header, WHDR_DONE));
    MMTIME t;
    in().GetPosition(h, t);
    EXPECT_EQ(t.value, 0u) << "a reset sets the position to 0";
    EXPECT_EQ(in().QueuedCount(), 0);
    EXPECT_EQ(in().Close(h), MMSYSERR_NOERROR);
    card.Close(out);
}

TEST_F(VirtualWaveInTest, OnTheFastClockBuffersComeBackFilledAtOnceFromTheDevicesThread) {
    card.SetClock(VirtualClock::Fast);
    std::atomic<int> data{0};
    struct Counter {
        static void Proc(std::uintptr_t, UINT msg, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
            if (msg == WIM_DATA) {
                reinterpret_cast<std::atomic<int>*>(instance)->fetch_add(1);
            }
        }
    };
    HWAVEIN h = 0;
    WAVEFORMATEX f = Stereo16();
    ASSERT_EQ(in().Open(&h, 0, &f, &Counter::Proc, reinterpret_cast<DWORD_PTR>(&data), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer a(400), b(400);
    for (Buffer* x : {&a, &b}) {
        in().PrepareHeader(h, &x->header);
        in().AddBuffer(h, &x->header);
    }
    in().Start(h);
    ASSERT_TRUE(WaitHeaderDone(b.header, std::chrono::seconds(10)));
    EXPECT_EQ(a.Recorded(), Ramp(400));
    EXPECT_EQ(b.Recorded(), Ramp(400, 400));
    in().Reset(h);
    EXPECT_EQ(in().Close(h), MMSYSERR_NOERROR);
    EXPECT_EQ(data.load(), 2);
}

TEST_F(VirtualWaveInTest, DevicesFormatsFaultsAndLostFrames) {
    card.SetDevices({{"First", 0x0102, {{2, 44100, 16}, {1, 11025, 8}}}, {"Second", 0x0300, {}}});
    EXPECT_EQ(in().GetNumDevs(), 2u);
    WAVEINCAPS caps;
    ASSERT_EQ(in().GetDevCaps(1, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Second") << "the inputs are numbered as the outputs";
    EXPECT_EQ(caps.dwFormats, 0xFFFu) << "every standard format";
    ASSERT_EQ(in().GetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.dwFormats, WAVE_FORMAT_4S16 | WAVE_FORMAT_1M08);
    EXPECT_EQ(in().GetDevCaps(2, caps), MMSYSERR_BADDEVICEID);
    WAVEFORMATEX f = Stereo16(22050);
    EXPECT_EQ(in().Open(nullptr, 0, &f, nullptr, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_EQ(in().Open(nullptr, 1, &f, nullptr, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(in().OpenCount(), 0) << "a query keeps nothing open";

    VirtualWaveInFaults faults;
    faults.noDataNotify = true;
    faults.positionInBytesOnly = true;
    faults.add = {MMSYSERR_NOMEM, 1};
    in().SetFaults(faults);
    in().SetHoldLimit(50);
    HWAVEIN h = OpenDevice(1);
    Buffer a(400), b(400);
    in().PrepareHeader(h, &a.header);
    in().PrepareHeader(h, &b.header);
    EXPECT_EQ(in().AddBuffer(h, &a.header), MMSYSERR_NOERROR);
    EXPECT_EQ(in().AddBuffer(h, &b.header), MMSYSERR_NOMEM);
    in().Start(h);
    card.Advance(100);
    EXPECT_TRUE(HeaderHas(a.header, WHDR_DONE)) << "filled and returned";
    EXPECT_TRUE(log.data.empty()) << "without its notification";
    card.Advance(80); // no buffer: 50 frames are kept, 30 are lost
    EXPECT_EQ(in().LostFrames(), 30u);
    MMTIME t;
    in().GetPosition(h, t);
    EXPECT_EQ(t.wType, TIME_BYTES);
    EXPECT_EQ(t.value, 400u);
    in().Reset(h);
    in().Close(h);
}

} // namespace
} // namespace tunefold::platform
