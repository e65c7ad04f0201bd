// The equalizer heard: the real program under Xvfb plays four tones into a private PulseAudio null
// sink whose monitor is recorded, once with a flat start-up curve and once with normal.eq0 raising
// one band by 12 dB. The level of each tone moves as the equalizer's designed response says. Then,
// while it plays, that band's point is dragged on the chart through the X server and the change is
// found in the recording, with the time from the drag to the first changed sound. Skipped, saying
// so, where PulseAudio, Xvfb, xdotool or parec is missing.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/eq_curve.h"
#include "engine/framework/pcm.h"
#include "engine/processing/eq_engine.h"
#include "support/desktop_session.h"
#include "support/private_pulse.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;
using test::End;
using test::OnPath;
using test::ScopedEnv;
using test::Spawn;
using test::WaitFor;

constexpr int kRate = 44100;
// The equalizer designs its filter on 256 bins: tones on bin centres are measured cleanly.
constexpr double kBin = kRate / 256.0;
// Band 7 (1000 .. 2000 Hz) is raised; its centre is bin 8. The others lie in bands 5, 9 and 10.
constexpr int kRaisedBand = 7;
const std::vector<int> kToneBins{2, 8, 40, 70};
constexpr std::size_t kCentre = 1; // index of the raised band's tone
constexpr double kToneAmplitude = 3000.0;

// The left channel of a raw s16le stereo recording, from frame `first` on.
std::vector<double> LeftChannel(const fs::path& recording, std::size_t first = 0) {
    const std::string bytes = test::ReadWhole(recording);
    std::vector<double> left;
    for (std::size_t i = first * 4; i + 3 < bytes.size(); i += 4) {
        left.push_back(static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                                 static_cast<std::uint8_t>(bytes[i + 1]) << 8));
    }
    return left;
}

// The amplitude of frequency `f` in samples [from, from + n), Hann-windowed.
double ToneLevel(const std::vector<double>& x, std::size_t from, std::size_t n, double f) {
    std::complex<double> sum = 0;
    double weight = 0;
    for (std::size_t i = 0; i < n && from + i < x.size(); ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / static_cast<double>(n));
        sum += w * x[from + i] * std::polar(1.0, -2 * M_PI * f * static_cast<double>(i) / kRate);
        weight += w;
    }
    return weight > 0 ? 2 * std::abs(sum) / weight : 0;
}

double Db(double ratio) {
    return 20 * std::log10(ratio);
}

// Four tones, each at kToneAmplitude, in both channels, for `seconds`.
void WriteTones(const fs::path& path, int seconds) {
    const std::uint32_t frames = static_cast<std::uint32_t>(seconds * kRate);
    std::string data;
    data.reserve(frames * 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        double v = 0;
        for (int bin : kToneBins) {
            v += kToneAmplitude * std::sin(2 * M_PI * bin * kBin * i / kRate + bin);
        }
        const auto s = static_cast<std::int16_t>(std::lround(v));
        for (int c = 0; c < 2; ++c) {
            data.push_back(static_cast<char>(s & 0xFF));
            data.push_back(static_cast<char>((s >> 8) & 0xFF));
        }
    }
    auto u32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 24)};
    };
    auto u16 = [](std::uint16_t v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; };
    std::ofstream out(path, std::ios::binary);
    out << "RIFF" << u32(36 + static_cast<std::uint32_t>(data.size())) << "WAVE"
        << "fmt " << u32(16) << u16(1) << u16(2) << u32(kRate) << u32(kRate * 4) << u16(4) << u16(16)
        << "data" << u32(static_cast<std::uint32_t>(data.size())) << data;
}

// What the equalizer stage is designed to do at bin `bin` with these band gains, in dB relative to
// its flat design: the magnitude of its filter's response there.
double DesignedDb(const std::array<float, 10>& gains, int bin) {
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 2, kRate);
    auto response = [&](const std::array<float, 10>& g) {
        TMMEQEngine* engine = InitEQ(&f, 256, 16384);
        EXPECT_NE(engine, nullptr);
        for (std::size_t i = 0; i < EqBands.size(); ++i) {
            SetEQBand(engine, EqBands[i].F1, EqBands[i].F2, g[i]);
        }
        const double m = std::hypot(engine->Response[2 * bin], engine->Response[2 * bin + 1]);
        DoneEQ(engine);
        return m;
    };
    return Db(response(gains) / response({}));
}

class EqualizerEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "parec"}) {
            if (!OnPath(tool)) {
                GTEST_SKIP() << tool << " is not installed here (scripts/install-deps installs it)";
            }
        }
        std::string why;
        if (!pulse.Start("tunefold_eq_sink", why)) {
            GTEST_SKIP() << "PulseAudio could not start here: " << why;
        }
        dir = pulse.Dir();
        if (std::string whyNot; !x.Start(dir, whyNot)) {
            GTEST_SKIP() << "Xvfb could not start here: " << whyNot;
        }
        program = dir / "program";
        fs::create_directories(program);
        tones = dir / "tones.wav";
        WriteTones(tones, 40);
        // The output's queue as a new user has it: 132 buffers of 2048 bytes, 1.5 s.
        const fs::path store = fs::path(std::getenv("XDG_CONFIG_HOME")) / "tunefold" / "registry.reg";
        fs::create_directories(store.parent_path());
        std::ofstream(store) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brenvik\\Tunefold\\2.0]\n"
                             << "\"Scheme\"=\"Y\"\n";
    }
    void TearDown() override {
        End(player);
        End(recorder);
        x.Stop();
        pulse.Stop();
    }

    // Starts the program playing the tones and recording the sink; the equalizer window's id.
    std::string Start(const std::string& name) {
        recording = dir / (name + ".raw");
        recorder = Spawn({"parec", "-d", "tunefold_eq_sink.monitor", "--format=s16le", "--rate=44100",
                          "--channels=2", "--raw", "--latency-msec=10"},
                         recording.string());
        EXPECT_GT(recorder, 0);
        {
            ScopedEnv real("TUNEFOLD_PLATFORM", std::nullopt);
            ScopedEnv qpa("QT_QPA_PLATFORM", std::nullopt);
            ScopedEnv home("TUNEFOLD_HOME", program.string());
            player = Spawn({TUNEFOLD_BINARY_DIR "/tunefold", "--play", tones.string()},
                           (dir / (name + ".log")).string());
        }
        EXPECT_GT(player, 0);
        const std::string shown = test::Run({"timeout", "20", "xdotool", "search", "--sync", "--onlyvisible",
                                             "--name", "^Tunefold Equalizer$"},
                                            dir / "search.out");
        EXPECT_FALSE(shown.empty()) << "no equalizer window: " << test::ReadWhole(dir / (name + ".log.err"));
        // Heard: the tones reach the sink.
        EXPECT_TRUE(WaitFor(
            [&] {
                const std::vector<double> x = LeftChannel(recording);
                return x.size() > 8192 && ToneLevel(x, x.size() - 8192, 8192, kToneBins[0] * kBin) > 300;
            },
            20000))
            << "the sink heard nothing: " << test::ReadWhole(dir / (name + ".log.err"));
        return shown.substr(0, shown.find('\n'));
    }
    // The level of every tone over the next `seconds` of the recording: the median of eight parts,
    // so a gap of the busy machine's sound server in one part does not count.
    std::vector<double> Levels(double seconds) {
        const std::size_t from = test::FileSize(recording) / 4;
        const auto n = static_cast<std::size_t>(seconds * kRate);
        EXPECT_TRUE(WaitFor([&] { return test::FileSize(recording) / 4 >= from + n; }, 20000));
        const std::vector<double> x = LeftChannel(recording, from);
        std::vector<double> levels;
        for (int bin : kToneBins) {
            std::vector<double> parts;
            for (std::size_t part = 0; part < 8; ++part) {
                parts.push_back(ToneLevel(x, part * n / 8, n / 8, bin * kBin));
            }
            std::nth_element(parts.begin(), parts.begin() + 4, parts.end());
            levels.push_back(parts[4]);
        }
        return levels;
    }
    void Stop() {
        End(player);
        End(recorder);
    }

    test::PrivatePulse pulse;
    fs::path dir, program, tones, recording;
    test::PrivateX x;
    pid_t recorder = -1;
    pid_t player = -1;
};

TEST_F(EqualizerEndToEnd, AStartUpCurveIsHeardAsDesignedAndADraggedBandChangesTheSoundWhilePlaying) {
    // Flat first.
    Start("flat");
    const std::vector<double> flat = Levels(2.0);
    Stop();

    // Then band 7 at +12 dB from normal.eq0 in the program folder.
    TEqCurve curve{};
    curve[BandCurvePoint(kRaisedBand) - 1] = 12.0 * UnitsPerDecibel;
    ASSERT_EQ(WriteEqCurveFile(program / "normal.eq0", curve), TEqWriteResult::Ok);
    const std::string window = Start("raised");
    const std::vector<double> raised = Levels(2.0);
    // What the sound server holds of ours before the sink plays it.
    const std::string inputs = test::Run({"pactl", "list", "sink-inputs"}, dir / "inputs.out");
    double serverMs = 0;
    for (const char* key : {"Buffer Latency: ", "Sink Latency: "}) {
        const auto at = inputs.find(key);
        if (at != std::string::npos) {
            serverMs += std::atof(inputs.c_str() + at + std::strlen(key)) / 1000.0;
        }
    }
    const std::array<float, 10> gains = BandGains(curve);
    for (std::size_t i = 0; i < kToneBins.size(); ++i) {
        const double heard = Db(raised[i] / flat[i]);
        const double designed = DesignedDb(gains, kToneBins[i]);
        RecordProperty("tone_" + std::to_string(i) + "_heard_db", std::to_string(heard));
        std::printf("tone %.0f Hz: heard %+.2f dB, designed %+.2f dB\n", kToneBins[i] * kBin, heard,
                    designed);
        EXPECT_NEAR(heard, designed, i == kCentre ? 1.5 : 1.0) << kToneBins[i] * kBin << " Hz";
    }
    EXPECT_GT(DesignedDb(gains, kToneBins[kCentre]), 9.0);

    // The curve view, then band 7's point (at +12 dB) dragged down 30 pixels, to about -1 dB.
    test::Run({"xdotool", "mousemove", "--window", window, "131", "163", "click", "1"}, dir / "click.out");
    const int x = 52 + static_cast<int>(std::lround(65.0 / 100.0 * 339));
    const int y = 30 + static_cast<int>(std::lround((120.0 - 66.0) / 240.0 * 98));
    test::Run(
        {"xdotool", "mousemove", "--window", window, std::to_string(x), std::to_string(y), "mousedown", "1"},
        dir / "press.out");
    const std::vector<double> before = Levels(0.5);
    // Where the recording stands when the move is sent: everything the sink played up to here was
    // produced before the drag.
    const std::size_t dragFrame = test::FileSize(recording) / 4;
    test::Run({"xdotool", "mousemove", "--window", window, std::to_string(x), std::to_string(y + 30)},
              dir / "move.out");
    test::Run({"xdotool", "mouseup", "1"}, dir / "release.out");
    ASSERT_TRUE(WaitFor([&] { return test::FileSize(recording) / 4 >= dragFrame + 2 * kRate; }, 10000));
    const std::vector<double> after = LeftChannel(recording, dragFrame);
    const double target = before[kCentre] / 2; // 6 dB down: well past the noise, short of the end value
    constexpr std::size_t kWindow = 512;       // 11.6 ms
    std::optional<std::size_t> changedAt;
    for (std::size_t at = 0; at + kWindow <= after.size(); at += 64) {
        // The far tone still sounding tells a change of the band from a gap in the sound.
        if (ToneLevel(after, at, kWindow, kToneBins[kCentre] * kBin) < target &&
            ToneLevel(after, at, kWindow, kToneBins[3] * kBin) > 0.7 * before[3]) {
            changedAt = at + kWindow;
            break;
        }
    }
    ASSERT_TRUE(changedAt) << "the drag was never heard";
    const double latencyMs = 1000.0 * static_cast<double>(*changedAt) / kRate;
    std::printf("the drag was heard %.0f ms after it was sent\n", latencyMs);
    RecordProperty("drag_heard_after_ms", std::to_string(latencyMs));
    // The equalizer works on each buffer as it goes to the sound server, not when the queue is
    // filled: between the change and the sink are the buffer going out (11.6 ms) and what the
    // server holds of ours (the card's short buffer of 60 ms among it), plus the analysis window
    // and the time xdotool takes to send the move.
    std::printf("sound server %.0f ms\n", serverMs);
    EXPECT_LT(latencyMs, 12 + serverMs + 60);
    EXPECT_LT(latencyMs, 150);
    // The tone of the dragged band fell by about 13 dB; the far tones stayed.
    const std::vector<double> settled = Levels(1.0);
    EXPECT_LT(Db(settled[kCentre] / before[kCentre]), -9.0);
    EXPECT_NEAR(Db(settled[3] / before[3]), 0.0, 1.0);
}

} // namespace
} // namespace tunefold
