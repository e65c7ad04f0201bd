#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/linux/alsa_wave_out.h"
#include "platform/platform_mode.h"
#include "platform/virtual/virtual_sound_card.h"
#include "support/test_env.h"

namespace tunefold::platform {
namespace {

struct Log {
    std::vector<UINT> messages;
    std::vector<WAVEHDR*> done;
    std::vector<DWORD_PTR> follow; // param2 of each done: notifications still to come in its batch
};

void Record(std::uintptr_t, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2) {
    auto* log = reinterpret_cast<Log*>(instance);
    log->messages.push_back(msg);
    if (msg == WOM_DONE) {
        log->done.push_back(reinterpret_cast<WAVEHDR*>(param1));
        log->follow.push_back(param2);
    }
}

WAVEFORMATEX Stereo16(DWORD rate = 44100) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = rate * 4;
    return f;
}

struct Buffer {
    std::vector<char> data;
    WAVEHDR header{};
    explicit Buffer(std::size_t bytes, char fill) : data(bytes, fill) {
        header.lpData = data.data();
        header.dwBufferLength = static_cast<DWORD>(bytes);
    }
};

class VirtualCardTest : public ::testing::Test {
protected:
    void SetUp() override { card.ResetAll(); }
    HWAVEOUT OpenDevice() {
        HWAVEOUT h = 0;
        WAVEFORMATEX f = Stereo16();
        EXPECT_EQ(card.Open(&h, 0, &f, &Record, reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        return h;
    }
    VirtualSoundCard card;
    Log log;
};

TEST_F(VirtualCardTest, PlaysHeadersInOrderAndReturnsEachAfterItsLastFrame) {
    HWAVEOUT h = OpenDevice();
    ASSERT_EQ(log.messages, std::vector<UINT>{WOM_OPEN});
    Buffer a(16, 'a'), b(10, 'b'); // b ends in half a frame: it still plays every byte delivered
    ASSERT_EQ(card.Write(h, &a.header), WAVERR_UNPREPARED);
    card.PrepareHeader(h, &a.header);
    card.PrepareHeader(h, &b.header);
    ASSERT_EQ(card.Write(h, &a.header), MMSYSERR_NOERROR);
    ASSERT_EQ(card.Write(h, &b.header), MMSYSERR_NOERROR);
    EXPECT_EQ(card.Write(h, &a.header), WAVERR_STILLPLAYING);

    EXPECT_EQ(card.Advance(3), 3u); // 12 of a's 16 bytes
    EXPECT_TRUE(log.done.empty());
    EXPECT_EQ(a.header.dwFlags & WHDR_DONE, 0u);
    card.Advance(1);
    ASSERT_EQ(log.done, std::vector<WAVEHDR*>{&a.header});
    EXPECT_NE(a.header.dwFlags & WHDR_DONE, 0u);
    EXPECT_EQ(a.header.dwFlags & WHDR_INQUEUE, 0u);
    EXPECT_EQ(card.UnprepareHeader(h, &b.header), WAVERR_STILLPLAYING);
    card.AdvanceAll();
    ASSERT_EQ(log.done.size(), 2u);
    EXPECT_EQ(log.done[1], &b.header);

    std::vector<std::uint8_t> expected(16, 'a');
    expected.insert(expected.end(), 10, 'b');
    EXPECT_EQ(card.Played(), expected);
    EXPECT_EQ(card.PlayedHeaderLengths(), (std::vector<DWORD>{16, 10}));
    card.SetRecordLimit(card.Played().size());
    card.PrepareHeader(h, &a.header);
    card.Write(h, &a.header);
    card.AdvanceAll();
    EXPECT_EQ(card.Played(), expected) << "past the limit nothing more is kept";
    MMTIME t;
    ASSERT_EQ(card.GetPosition(h, t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, TIME_SAMPLES);
    EXPECT_EQ(t.value, 11u);
    EXPECT_EQ(card.Close(h), MMSYSERR_NOERROR);
    EXPECT_EQ(log.messages.back(), WOM_CLOSE);
    EXPECT_EQ(card.Close(h), MMSYSERR_INVALHANDLE);
}

TEST_F(VirtualCardTest, PauseHoldsAudioAndResetReturnsEverythingAtOnce) {
    HWAVEOUT h = OpenDevice();
    Buffer a(400, 'a'), b(400, 'b'), c(400, 'c');
    for (Buffer* x : {&a, &b, &c}) {
        card.PrepareHeader(h, &x->header);
        card.Write(h, &x->header);
    }
    card.Pause(h);
    EXPECT_EQ(card.Advance(1000), 0u);
    card.Restart(h);
    card.Advance(150); // a done, half of b
    ASSERT_EQ(log.done.size(), 1u);
    EXPECT_EQ(card.Close(h), WAVERR_STILLPLAYING);
    card.Pause(h);
    ASSERT_EQ(card.Reset(h), MMSYSERR_NOERROR);
    ASSERT_EQ(log.done, (std::vector<WAVEHDR*>{&a.header, &b.header, &c.header}));
    EXPECT_TRUE(card.IsPaused()) << "a reset keeps a paused device paused";
    MMTIME t;
    card.GetPosition(h, t);
    EXPECT_EQ(t.value, 0u) << "a reset sets the position to 0";
    EXPECT_EQ(card.QueuedCount(), 0);
    EXPECT_EQ(card.Close(h), MMSYSERR_NOERROR);
}

TEST_F(VirtualCardTest, FormatsDevicesAndInjectedFaults) {
    card.SetDevices({{"First", 0x0102, {{2, 44100, 16}}}, {"Second", 0x0300, {}}});
    EXPECT_EQ(card.GetNumDevs(), 2u);
    WAVEOUTCAPS caps;
    ASSERT_EQ(card.GetDevCaps(1, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Second");
    EXPECT_EQ(caps.vDriverVersion, 0x0300u);
    ASSERT_EQ(card.GetDevCaps(-1, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "First");
    EXPECT_EQ(card.GetDevCaps(2, caps), MMSYSERR_BADDEVICEID);

    WAVEFORMATEX f = Stereo16(22050);
    EXPECT_EQ(card.Open(nullptr, 0, &f, nullptr, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_EQ(card.Open(nullptr, 1, &f, nullptr, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(card.OpenCount(), 0) << "a query keeps nothing open";

    VirtualWaveFaults faults;
    faults.write = {MMSYSERR_NOMEM, 1};
    faults.position = {MMSYSERR_ERROR, 0};
    faults.noOpenNotify = true;
    card.SetFaults(faults);
    HWAVEOUT h = 0;
    ASSERT_EQ(
        card.Open(&h, 1, &f, &Record, reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION | WAVE_MAPPED),
        MMSYSERR_NOERROR);
    EXPECT_TRUE(log.messages.empty()) << "the open notification was suppressed";
    EXPECT_EQ(card.LastOpenFlags() & WAVE_MAPPED, WAVE_MAPPED);
    Buffer a(8, 'a');
    card.PrepareHeader(h, &a.header);
    EXPECT_EQ(card.Write(h, &a.header), MMSYSERR_NOERROR);
    card.AdvanceAll();
    EXPECT_EQ(card.Write(h, &a.header), MMSYSERR_NOMEM) << "the second write fails";
    MMTIME t;
    EXPECT_EQ(card.GetPosition(h, t), MMSYSERR_ERROR);
}

TEST_F(VirtualCardTest, PositionWrapsEarlyAndCanAnswerInBytes) {
    VirtualWaveFaults faults;
    faults.wrapAt = 100;
    card.SetFaults(faults);
    HWAVEOUT h = OpenDevice();
    Buffer a(4 * 130, 'x');
    card.PrepareHeader(h, &a.header);
    card.Write(h, &a.header);
    card.Advance(99);
    MMTIME t;
    card.GetPosition(h, t);
    EXPECT_EQ(t.value, 99u);
    card.Advance(31);
    card.GetPosition(h, t);
    EXPECT_EQ(t.value, 30u);

    faults.positionInBytesOnly = true;
    faults.wrapAt = 0;
    card.SetFaults(faults);
    t.wType = TIME_SAMPLES;
    card.GetPosition(h, t);
    EXPECT_EQ(t.wType, TIME_BYTES);
    EXPECT_EQ(t.value, 130u * 4);
}

TEST_F(VirtualCardTest, LateDoneFlagComesAfterTheNotification) {
    VirtualWaveFaults faults;
    faults.lateDoneFlagMs = 20;
    card.SetFaults(faults);
    HWAVEOUT h = OpenDevice();
    Buffer a(8, 'a');
    card.PrepareHeader(h, &a.header);
    card.Write(h, &a.header);
    card.AdvanceAll();
    ASSERT_EQ(log.done.size(), 1u);
    EXPECT_EQ(a.header.dwFlags & WHDR_DONE, 0u) << "notified before the flag";
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((a.header.dwFlags & WHDR_DONE) == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    EXPECT_NE(a.header.dwFlags & WHDR_DONE, 0u);
}

TEST_F(VirtualCardTest, RealTimeAndFastClocksPlayByThemselvesAndTheSessionGoesToAWavFile) {
    const auto path = (test::Sandbox() / "played.wav").string();
    card.RecordToFile(path);
    for (VirtualClock clock : {VirtualClock::Fast, VirtualClock::RealTime}) {
        card.SetClock(clock);
        Log local;
        HWAVEOUT h = 0;
        WAVEFORMATEX f = Stereo16(8000);
        ASSERT_EQ(card.Open(&h, 0, &f, &Record, reinterpret_cast<DWORD_PTR>(&local), CALLBACK_FUNCTION), 0u);
        Buffer a(320, 'r'); // 10 ms
        card.PrepareHeader(h, &a.header);
        card.Write(h, &a.header);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (card.QueuedCount() > 0 && std::chrono::steady_clock::now() < until) {
            std::this_thread::yield();
        }
        EXPECT_EQ(card.QueuedCount(), 0);
        EXPECT_EQ(card.Close(h), MMSYSERR_NOERROR);
        EXPECT_EQ(local.done.size(), 1u);
    }
    card.SetClock(VirtualClock::Manual);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 44u + 320u);
    EXPECT_EQ(std::string(bytes.data(), 4), "RIFF");
    EXPECT_EQ(std::string(bytes.data() + 8, 8), "WAVEfmt ");
    EXPECT_EQ(bytes[44], 'r');
}

// Buffers finished together go out as one batch whose notifications count down to 0, so a handler
// can wake its thread once; the recording keeps every byte across its internal blocks.
TEST_F(VirtualCardTest, BuffersFinishedTogetherComeAsOneCountedBatch) {
    HWAVEOUT h = OpenDevice();
    Buffer a(400, 'a'), b(400, 'b'), c(400, 'c');
    for (Buffer* x : {&a, &b, &c}) {
        card.PrepareHeader(h, &x->header);
        card.Write(h, &x->header);
    }
    card.Advance(250); // a and b end, c is under way
    EXPECT_EQ(log.done, (std::vector<WAVEHDR*>{&a.header, &b.header}));
    EXPECT_EQ(log.follow, (std::vector<DWORD_PTR>{1, 0}));
    card.Advance(100);
    EXPECT_EQ(log.follow.back(), 0u);
    card.PrepareHeader(h, &a.header);
    card.PrepareHeader(h, &b.header);
    card.Write(h, &a.header);
    card.Write(h, &b.header);
    card.Reset(h);
    EXPECT_EQ(log.done.size(), 5u);
    EXPECT_EQ(std::vector<DWORD_PTR>(log.follow.end() - 2, log.follow.end()), (std::vector<DWORD_PTR>{1, 0}));

    // 700 000 bytes span several recording blocks.
    card.ClearRecording();
    Buffer big(700000, 0);
    for (std::size_t i = 0; i < big.data.size(); ++i) {
        big.data[i] = static_cast<char>(i * 7 + i / 251);
    }
    card.PrepareHeader(h, &big.header);
    card.Write(h, &big.header);
    card.AdvanceAll();
    const auto played = card.Played();
    ASSERT_EQ(played.size(), big.data.size());
    EXPECT_TRUE(std::equal(played.begin(), played.end(), big.data.begin(),
                           [](std::uint8_t p, char d) { return p == static_cast<std::uint8_t>(d); }));
    card.ClearRecording();
    EXPECT_TRUE(card.Played().empty());
    EXPECT_EQ(card.Close(h), MMSYSERR_NOERROR);
}

// The service follows the platform mode at every call (a switch after the first use is not
// ignored), and one installed for a while takes precedence.
TEST(WaveOutService, FollowsThePlatformModeAndAnInstalledCard) {
    UseVirtualPlatform(false);
    EXPECT_EQ(&WaveOut(), &AlsaWaveOut::Instance());
    UseVirtualPlatform(true);
    EXPECT_EQ(&WaveOut(), &VirtualSoundCard::Instance());
    {
        VirtualSoundCard mine;
        ScopedWaveOut scoped(mine);
        EXPECT_EQ(&WaveOut(), &mine);
    }
    EXPECT_EQ(&WaveOut(), &VirtualSoundCard::Instance());
}

TEST(WaveErrorText, KnownAndUnknownCodes) {
    std::string text;
    EXPECT_EQ(WaveGetErrorText(WAVERR_BADFORMAT, text), MMSYSERR_NOERROR);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(WaveGetErrorText(4711, text), MMSYSERR_BADERRNUM);
    EXPECT_EQ(text, "Specified error number is out of range (unknown error)");
}

} // namespace
} // namespace tunefold::platform
