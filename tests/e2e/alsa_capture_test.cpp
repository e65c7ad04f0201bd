// The real recording path: the private PulseAudio's null sink plays a known signal (pacat), and the
// wave input records the sink's monitor, the default source, through the ALSA capture backend on
// its worker thread. The signal must be found in the recording, every frame of it, in order.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/devices/wave_in.h"
#include "platform/linux/alsa_wave_in.h"
#include "platform/linux/alsa_wave_out.h"
#include "platform/message_loop.h"
#include "support/files.h"
#include "support/private_pulse.h"
#include "support/render_run.h"

namespace tunefold {
namespace {

using AlsaPlayback = test::PulseTest;

constexpr DWORD kRate = 44100;
constexpr std::size_t kLeadFrames = kRate / 5; // 200 ms of silence
constexpr std::size_t kSignalFrames = kRate;   // 1 s of signal

std::int16_t Sample(std::size_t frame, int channel) {
    std::uint32_t x = static_cast<std::uint32_t>(frame * 2 + static_cast<std::size_t>(channel)) * 2246822519u;
    x ^= x >> 15;
    const int magnitude = 300 + static_cast<int>(x % 9000);
    return static_cast<std::int16_t>((x & 0x20000u) != 0 ? magnitude : -magnitude);
}

class Recording : public TMMDSPComponent {
public:
    bool PublishesOutput() const override { return false; }
    void BufferReady(PWaveHdr h) override {
        std::lock_guard lock(mutex);
        const auto* s = reinterpret_cast<const std::int16_t*>(h->lpData);
        samples.insert(samples.end(), s, s + h->dwBytesRecorded / 2);
    }
    std::mutex mutex;
    std::vector<std::int16_t> samples;
};

// Where the signal's first frame is, or npos; `why` says what is wrong with what follows it:
// a sample further than `tolerance` (in LSB, plus `relative` of the sample) from the signal's.
std::size_t FindSignal(const std::vector<std::int16_t>& s, std::string& why, int tolerance = 1,
                       double relative = 0) {
    const std::size_t frames = s.size() / 2;
    std::size_t first = 0;
    while (first < frames && std::abs(s[2 * first]) <= 1 && std::abs(s[2 * first + 1]) <= 1) {
        ++first;
    }
    if (first + kSignalFrames > frames) {
        why = "only " + std::to_string(frames - std::min(first, frames)) + " frames of the signal recorded";
        return std::string::npos;
    }
    why.clear();
    for (std::size_t i = 0; i < kSignalFrames && why.empty(); ++i) {
        for (int c = 0; c < 2; ++c) {
            const int heard = s[2 * (first + i) + static_cast<std::size_t>(c)];
            const int expected = Sample(i, c);
            if (std::abs(heard - expected) > tolerance + relative * std::abs(expected)) {
                why = "frame " + std::to_string(i) + " channel " + std::to_string(c) + ": recorded " +
                      std::to_string(heard) + " for " + std::to_string(Sample(i, c));
                break;
            }
        }
    }
    return first;
}

TEST_F(AlsaPlayback, CaptureRecordsTheSignalPlayedIntoTheSink) {
    auto& alsa = platform::AlsaWaveIn::Instance();
    platform::WAVEINCAPS caps;
    ASSERT_EQ(alsa.GetDevCaps(-1, caps), MMSYSERR_NOERROR);
    EXPECT_NE(caps.dwFormats & platform::WAVE_FORMAT_4S16, 0u) << "ALSA's tests of the default source";
    platform::WAVEOUTCAPS outCaps;
    ASSERT_EQ(platform::AlsaWaveOut::Instance().GetDevCaps(-1, outCaps), MMSYSERR_NOERROR);
    EXPECT_NE(outCaps.dwFormats & platform::WAVE_FORMAT_4S16, 0u) << "and of the default sink";
    EXPECT_NE(outCaps.dwFormats & platform::WAVE_FORMAT_1M08, 0u);

    TMMWaveIn wi(nullptr, alsa);
    wi.SetDeviceID(-1);
    wi.SetCallBackMode(cmThread);
    wi.SetPriority(tpHighest);
    wi.SetNumBuffers(32);
    wi.SetBufferSize(4096);
    wi.SetMode(mStereo);
    wi.SetBitLength(b16Bit);
    wi.SetSampleRate(kRate);
    Recording recording;
    wi.SetOutput(&recording);
    std::atomic<int> errors{0};
    wi.OnError = [&](TObject*) { errors.fetch_add(1); };
    wi.Start();
    auto recorded = [&] {
        std::lock_guard lock(recording.mutex);
        return recording.samples.size() / 2;
    };
    // The monitor streams silence while nothing plays: recording runs once frames arrive.
    ASSERT_TRUE(test::WaitFor([&] { return recorded() > kRate / 5; }, 10000)) << "nothing was recorded";

    std::vector<std::int16_t> signal(2 * (kLeadFrames + kSignalFrames), 0);
    for (std::size_t i = 0; i < kSignalFrames; ++i) {
        signal[2 * (kLeadFrames + i)] = Sample(i, 0);
        signal[2 * (kLeadFrames + i) + 1] = Sample(i, 1);
    }
    const auto file = dir / "signal.raw";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(signal.data()), static_cast<std::streamsize>(signal.size() * 2));
    pid_t player = test::Spawn({"pacat", "--playback", "-d", "tunefold_sink", "--format=s16le",
                                "--rate=44100", "--channels=2", "--raw", file.string()},
                               (dir / "pacat.log").string());
    ASSERT_GT(player, 0);
    int status = 0;
    ASSERT_TRUE(test::WaitFor([&] { return waitpid(player, &status, WNOHANG) == player; }, 15000));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "pacat could not play the signal";

    std::string why;
    std::size_t first = std::string::npos;
    ASSERT_TRUE(test::WaitFor(
        [&] {
            std::lock_guard lock(recording.mutex);
            first = FindSignal(recording.samples, why);
            return first != std::string::npos;
        },
        5000))
        << why;
    wi.Stop();
    wi.Close();
    // A stop that meets a buffer being handed on finishes, with the close, once the GUI thread
    // gets the input's stop message.
    EXPECT_TRUE(platform::MessageLoop::Gui().ProcessUntil([&] { return wi.State() == wisClosed; }, 5000));
    EXPECT_EQ(why, "") << "the whole signal, aligned, within 1 LSB";
    EXPECT_EQ(errors.load(), 0);
}

// The line-in route of the render tool as a user runs it: the default source (the sink's monitor)
// recorded through the ring, the pre-volume at unity and the output rendered to a file.
TEST_F(AlsaPlayback, LineInRecordsTheDefaultSourceThroughTheRingIntoAFile) {
    // pacat's silence before the signal, while the tool starts and opens its devices.
    constexpr std::size_t kLead = 3 * kRate;
    std::vector<std::int16_t> signal(2 * (kLead + kSignalFrames), 0);
    for (std::size_t i = 0; i < kSignalFrames; ++i) {
        signal[2 * (kLead + i)] = Sample(i, 0);
        signal[2 * (kLead + i) + 1] = Sample(i, 1);
    }
    const auto file = dir / "signal.raw";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(signal.data()), static_cast<std::streamsize>(signal.size() * 2));
    const auto wav = dir / "line-in.wav";
    test::RenderRun run;
    std::thread tool([&] {
        run = test::RunRender("--line-in 6 --no-eq --out '" + wav.string() + "'", "TUNEFOLD_PLATFORM=");
    });
    pid_t player = test::Spawn({"pacat", "--playback", "-d", "tunefold_sink", "--format=s16le",
                                "--rate=44100", "--channels=2", "--raw", file.string()},
                               (dir / "pacat.log").string());
    tool.join();
    int status = 0;
    EXPECT_TRUE(test::WaitFor([&] { return waitpid(player, &status, WNOHANG) == player; }, 15000));
    ASSERT_EQ(run.status, 0) << run.err;

    const std::vector<std::int16_t> samples = test::ReadWaveSamples(wav);
    ASSERT_FALSE(samples.empty()) << "no data chunk";
    // The output's queue and the ring's start-up fill come first (up to 2.3 s of silence, less of
    // the fill the later the output starts against the input's clock), then the six seconds recorded.
    EXPECT_GE(static_cast<double>(samples.size() / 2) / kRate, 0.77 + 6.0);
    std::string why;
    const std::size_t first = FindSignal(samples, why);
    ASSERT_NE(first, std::string::npos) << why;
    EXPECT_EQ(why, "") << "the signal, aligned, within 1 LSB";
    EXPECT_GT(first, kRate * 23 / 10) << "after the start-up silence";
}

// The full-duplex route heard: the tool records the default source through the ring, the volume
// and the equalizer, and plays it through the real output into the second sink, whose monitor is
// recorded with parec.
TEST_F(AlsaPlayback, LineInIsHeardInTheOtherSink) {
    const auto heard = dir / "out-monitor.raw";
    recorder = test::Spawn({"parec", "-d", "tunefold_out.monitor", "--format=s16le", "--rate=44100",
                            "--channels=2", "--raw", "--latency-msec=20"},
                           heard.string());
    ASSERT_GT(recorder, 0);
    ASSERT_TRUE(test::WaitFor([&] { return test::FileSize(heard) > kRate; }, 10000))
        << "parec recorded nothing";

    constexpr std::size_t kLead = 3 * kRate;
    std::vector<std::int16_t> signal(2 * (kLead + kSignalFrames), 0);
    for (std::size_t i = 0; i < kSignalFrames; ++i) {
        signal[2 * (kLead + i)] = Sample(i, 0);
        signal[2 * (kLead + i) + 1] = Sample(i, 1);
    }
    const auto file = dir / "signal.raw";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(signal.data()), static_cast<std::streamsize>(signal.size() * 2));
    test::RenderRun run;
    // With the equalizer in the route and every band at 0 dB.
    std::thread tool(
        [&] { run = test::RunRender("--line-in 6", "TUNEFOLD_PLATFORM= PULSE_SINK=tunefold_out"); });
    pid_t player = test::Spawn({"pacat", "--playback", "-d", "tunefold_sink", "--format=s16le",
                                "--rate=44100", "--channels=2", "--raw", file.string()},
                               (dir / "pacat.log").string());
    tool.join();
    int status = 0;
    EXPECT_TRUE(test::WaitFor([&] { return waitpid(player, &status, WNOHANG) == player; }, 15000));
    ASSERT_EQ(run.status, 0) << run.err;
    std::string why;
    ASSERT_TRUE(test::WaitFor(
        [&] {
            const std::string bytes = test::ReadWhole(heard);
            std::vector<std::int16_t> samples(bytes.size() / 2);
            std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
            return FindSignal(samples, why, 2, 0.02) != std::string::npos;
        },
        5000))
        << why;
    // The equalizer's filters at 0 dB are close to, not exactly, the identity.
    EXPECT_EQ(why, "") << "the recording played through the chain, within 2 % of each sample";
}

} // namespace
} // namespace tunefold
