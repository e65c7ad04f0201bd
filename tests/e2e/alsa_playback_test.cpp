// The real sound path: a private PulseAudio with a null sink, ALSA's "default" routed to it, the
// wave output playing a known signal through the ALSA backend on its worker thread, and the sink's
// monitor recorded with parec. What was heard must be what was played, sample for sample.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine/devices/wave_out.h"
#include "platform/linux/alsa_wave_out.h"
#include "support/private_pulse.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr DWORD kRate = 44100;
constexpr std::size_t kLeadFrames = kRate * 3 / 10; // 300 ms of silence
constexpr std::size_t kSignalFrames = kRate * 2;    // 2 s of signal

// The signal: never a zero sample, so its first and last frames can be found in a recording.
std::int16_t SignalSample(std::size_t frame, int channel) {
    std::uint32_t x = static_cast<std::uint32_t>(frame * 2 + static_cast<std::size_t>(channel)) * 2654435761u;
    x ^= x >> 13;
    const int magnitude = 200 + static_cast<int>(x % 12000);
    return static_cast<std::int16_t>((x & 0x10000u) != 0 ? magnitude : -magnitude);
}

class SignalSource : public TMMDSPComponent {
public:
    explicit SignalSource(const WAVEFORMATEX& format) { SetPWaveFormat(&format); }
    bool PublishesInput() const override { return false; }
    void BufferLoad(PWaveHdr h, bool& more) override {
        const std::size_t total = kLeadFrames + kSignalFrames;
        const std::size_t frames = std::min<std::size_t>(h->dwBufferLength / 4, total - frame_);
        auto* out = reinterpret_cast<std::int16_t*>(h->lpData);
        for (std::size_t i = 0; i < frames; ++i, ++frame_) {
            const bool silent = frame_ < kLeadFrames;
            out[2 * i] = silent ? 0 : SignalSample(frame_ - kLeadFrames, 0);
            out[2 * i + 1] = silent ? 0 : SignalSample(frame_ - kLeadFrames, 1);
        }
        h->dwBytesRecorded = static_cast<DWORD>(frames * 4);
        more = frame_ < total;
    }

private:
    std::size_t frame_ = 0;
};

using AlsaPlayback = test::PulseTest;
using test::End;
using test::FileSize;
using test::Spawn;
using test::WaitFor;

// Plays the signal with `numBuffers` buffers of `bufferSize` bytes and checks the recording.
void PlayAndHearExactly(const fs::path& dir, pid_t& recorder, int numBuffers, int bufferSize) {
    const fs::path recording = dir / ("monitor" + std::to_string(numBuffers) + ".raw");
    recorder = Spawn({"parec", "-d", "tunefold_sink.monitor", "--format=s16le", "--rate=44100",
                      "--channels=2", "--raw", "--latency-msec=20"},
                     recording.string());
    ASSERT_GT(recorder, 0);
    // The null sink's monitor streams silence while idle: recording has begun once bytes arrive.
    ASSERT_TRUE(WaitFor([&] { return FileSize(recording) > kRate; }, 10000)) << "parec recorded nothing";

    auto& alsa = platform::AlsaWaveOut::Instance();
    WAVEFORMATEX format{};
    MakePCMFormat(format, 16, 2, kRate);
    SignalSource source(format);
    TMMWaveOut wo(nullptr, alsa);
    wo.SetDeviceID(-1);
    wo.SetCallBackMode(cmThread);
    wo.SetPriority(tpHighest);
    wo.SetNumBuffers(numBuffers);
    wo.SetBufferSize(bufferSize);
    wo.SetTimeFormat(tfSample);
    wo.SetInput(&source);
    std::atomic<bool> stopped{false};
    wo.OnStop = [&](TObject*) { stopped.store(true); };

    wo.Start();
    // Playing begins when the position first moves, and ends with OnStop after the last frame.
    Clock::time_point began{};
    auto& gui = platform::MessageLoop::Gui();
    ASSERT_TRUE(gui.ProcessUntil(
        [&] {
            if (began == Clock::time_point{} && wo.State().Contains(wosPlaying) && wo.Position() > 0) {
                began = Clock::now();
            }
            return stopped.load();
        },
        15000));
    const auto ended = Clock::now();
    ASSERT_NE(began, Clock::time_point{});
    wo.Close();

    const double seconds = std::chrono::duration<double>(ended - began).count();
    const double expected = static_cast<double>(kLeadFrames + kSignalFrames) / kRate;
    EXPECT_NEAR(seconds, expected, 0.050) << "playing took " << seconds << " s";

    // Find the signal in the recording: its first frame, then every frame after it, exactly.
    auto heardAll = [&](std::string& why) {
        std::ifstream in(recording, std::ios::binary);
        std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t frames = raw.size() / 4;
        const auto* s = reinterpret_cast<const std::int16_t*>(raw.data());
        std::size_t first = 0;
        while (first < frames && s[2 * first] == 0 && s[2 * first + 1] == 0) {
            ++first;
        }
        if (first + kSignalFrames > frames) {
            why = "only " + std::to_string(frames - std::min(first, frames)) + " frames heard";
            return false;
        }
        for (std::size_t i = 0; i < kSignalFrames; ++i) {
            if (s[2 * (first + i)] != SignalSample(i, 0) || s[2 * (first + i) + 1] != SignalSample(i, 1)) {
                why = "frame " + std::to_string(i) + " of the signal differs: heard " +
                      std::to_string(s[2 * (first + i)]) + " for " + std::to_string(SignalSample(i, 0));
                return true; // complete, but wrong: no point waiting
            }
        }
        for (std::size_t i = first + kSignalFrames; i < frames; ++i) {
            if (s[2 * i] != 0 || s[2 * i + 1] != 0) {
                why = "sound after the signal at frame " + std::to_string(i - first - kSignalFrames);
                return true;
            }
        }
        why.clear();
        return true;
    };
    std::string why;
    ASSERT_TRUE(WaitFor([&] { return heardAll(why); }, 5000)) << why;
    EXPECT_EQ(why, "");
    End(recorder);
    recorder = -1;
}

TEST_F(AlsaPlayback, SignalIsHeardExactlyOnceInOneRunAndInItsTime) {
    PlayAndHearExactly(dir, recorder, 32, 2048);
}

// A queue shorter than two of ALSA's periods (70 ms): between two refills everything queued is in
// ALSA's buffer, which must not get silence between the buffers.
TEST_F(AlsaPlayback, ASmallQueueIsHeardWithoutGaps) {
    PlayAndHearExactly(dir, recorder, 3, 4096);
}

} // namespace
} // namespace tunefold

namespace tunefold {
namespace {

struct DoneLog {
    std::mutex mutex;
    std::vector<WAVEHDR*> done;
    std::vector<UINT> messages;
};

void LogNotification(std::uintptr_t, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    auto* log = reinterpret_cast<DoneLog*>(instance);
    std::lock_guard lock(log->mutex);
    log->messages.push_back(msg);
    if (msg == platform::WOM_DONE) {
        log->done.push_back(reinterpret_cast<WAVEHDR*>(param1));
    }
}

// The backend's own promises, on the same private server: the device list, format queries, a
// position that holds while paused and never runs backwards, a reset that returns everything.
TEST_F(AlsaPlayback, BackendOrderPausePositionAndReset) {
    auto& alsa = platform::AlsaWaveOut::Instance();
    platform::WAVEOUTCAPS caps;
    ASSERT_EQ(alsa.GetDevCaps(-1, caps), MMSYSERR_NOERROR);
    EXPECT_FALSE(caps.szPname.empty());
    EXPECT_EQ(alsa.PcmName(-1), "default");
    const int count = static_cast<int>(alsa.GetNumDevs());
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(alsa.GetDevCaps(i, caps), MMSYSERR_NOERROR);
        EXPECT_FALSE(caps.szPname.empty());
        EXPECT_LT(caps.szPname.size(), platform::MAXPNAMELEN);
    }
    EXPECT_EQ(alsa.GetDevCaps(count, caps), MMSYSERR_BADDEVICEID);

    WAVEFORMATEX format{};
    MakePCMFormat(format, 16, 2, kRate);
    WAVEFORMATEX odd = format;
    odd.wBitsPerSample = 12;
    EXPECT_EQ(alsa.Open(nullptr, -1, &odd, nullptr, 0, platform::WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_EQ(alsa.Open(nullptr, -1, &format, nullptr, 0, platform::WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);

    DoneLog log;
    platform::HWAVEOUT h = 0;
    ASSERT_EQ(alsa.Open(&h, -1, &format, &LogNotification, reinterpret_cast<DWORD_PTR>(&log),
                        platform::CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    constexpr int kBuffers = 20;
    constexpr std::size_t kBytes = 4410 * 4; // 100 ms each
    std::vector<std::vector<char>> data(kBuffers, std::vector<char>(kBytes, 1));
    std::vector<WAVEHDR> headers(kBuffers);
    for (int i = 0; i < kBuffers; ++i) {
        headers[static_cast<std::size_t>(i)].lpData = data[static_cast<std::size_t>(i)].data();
        headers[static_cast<std::size_t>(i)].dwBufferLength = kBytes;
        ASSERT_EQ(alsa.PrepareHeader(h, &headers[static_cast<std::size_t>(i)]), MMSYSERR_NOERROR);
        ASSERT_EQ(alsa.Write(h, &headers[static_cast<std::size_t>(i)]), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(alsa.Write(h, &headers[0]), WAVERR_STILLPLAYING);
    auto position = [&] {
        platform::MMTIME t;
        EXPECT_EQ(alsa.GetPosition(h, t), MMSYSERR_NOERROR);
        return t.value;
    };
    auto doneCount = [&] {
        std::lock_guard lock(log.mutex);
        return log.done.size();
    };
    // Play two buffers' worth, watching the position only ever grow.
    DWORD last = 0;
    bool backwards = false;
    ASSERT_TRUE(WaitFor(
        [&] {
            const DWORD p = position();
            backwards = backwards || p < last;
            last = p;
            return doneCount() >= 2;
        },
        5000));
    EXPECT_FALSE(backwards);
    EXPECT_GE(position(), 2u * 4410) << "a buffer comes back only after its last frame was heard";
    ASSERT_EQ(alsa.Pause(h), MMSYSERR_NOERROR);
    const DWORD paused = position();
    const std::size_t doneWhilePausing = doneCount();
    usleep(300000); // the device must hold still for a while: this wait is the test
    EXPECT_LE(position() - paused, 4410u / 5) << "paused, the position holds";
    EXPECT_EQ(doneCount(), doneWhilePausing) << "nothing comes back while paused";
    EXPECT_EQ(alsa.Close(h), WAVERR_STILLPLAYING);
    ASSERT_EQ(alsa.Restart(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitFor([&] { return doneCount() >= doneWhilePausing + 1; }, 5000));
    ASSERT_EQ(alsa.Reset(h), MMSYSERR_NOERROR);
    {
        std::lock_guard lock(log.mutex);
        ASSERT_EQ(log.done.size(), static_cast<std::size_t>(kBuffers)) << "the reset returned everything";
        for (int i = 0; i < kBuffers; ++i) {
            EXPECT_EQ(log.done[static_cast<std::size_t>(i)], &headers[static_cast<std::size_t>(i)])
                << "in order";
            EXPECT_NE(headers[static_cast<std::size_t>(i)].dwFlags & WHDR_DONE, 0u);
        }
    }
    EXPECT_EQ(position(), 0u) << "a reset starts the position again";
    for (auto& header : headers) {
        EXPECT_EQ(alsa.UnprepareHeader(h, &header), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(alsa.Close(h), MMSYSERR_NOERROR);
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.messages.front(), platform::WOM_OPEN);
    EXPECT_EQ(log.messages.back(), platform::WOM_CLOSE);
}

} // namespace
} // namespace tunefold
