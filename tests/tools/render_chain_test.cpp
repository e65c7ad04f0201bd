// tunefold-render's chain as the player builds it: the pre-volume and balance, the equalizer's bands
// from the command line or a curve file, and the picture of the displays at one play time.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/logic/eq_curve.h"
#include "engine/framework/raster.h"
#include "support/files.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 44100;

int Render(const std::string& args) {
    const std::string command = std::string(TUNEFOLD_BINARY_DIR) + "/tools/tunefold-render " + args + " >" +
                                (test::Sandbox() / "out.txt").string() + " 2>" +
                                (test::Sandbox() / "err.txt").string();
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Stderr() {
    std::ifstream f(test::Sandbox() / "err.txt");
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string Path(const std::string& name) {
    return (test::Sandbox() / name).string();
}

void Put32(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// 16-bit stereo at 44.1 kHz, `frames` frames from sample(frame, channel).
std::string WriteStereo(const std::string& name, int frames, const std::function<int(int, int)>& sample) {
    std::string data;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(sample(i, c)));
            data += static_cast<char>(v & 0xFF);
            data += static_cast<char>(v >> 8);
        }
    }
    std::string file = "RIFF";
    Put32(file, static_cast<std::uint32_t>(36 + data.size()));
    file += "WAVEfmt ";
    Put32(file, 16);
    file += std::string("\x01\x00\x02\x00", 4);
    Put32(file, kRate);
    Put32(file, kRate * 4);
    file += std::string("\x04\x00\x10\x00", 4);
    file += "data";
    Put32(file, static_cast<std::uint32_t>(data.size()));
    file += data;
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << file;
    return path;
}

// Root mean square of one channel over frames [from, to).
double Rms(const std::vector<std::int16_t>& s, int channel, int from, int to) {
    double sum = 0;
    for (int i = from; i < to; ++i) {
        const double v = s[static_cast<std::size_t>(2 * i + channel)];
        sum += v * v;
    }
    return std::sqrt(sum / (to - from));
}

// Sample x gain / 16384, shifted down (floor) and clipped, as the volume stage scales.
int Scaled(int s, int gain) {
    const int v = (s * gain) >> 14;
    return v > 32767 ? 32767 : (v < -32768 ? -32768 : v);
}

TEST(Render, VolumeAndBalanceScaleEverySample) {
    // Every sample value a 16-bit stereo file can hold somewhere, odd values included.
    const std::string in =
        WriteStereo("ramp.wav", 32768, [](int i, int c) { return c == 0 ? 2 * i - 32768 : 32767 - 2 * i; });
    const auto input = test::ReadWaveSamples(in);
    const std::string out = Path("vol.wav");

    ASSERT_EQ(Render("--no-eq --out " + out + " " + in), 0) << Stderr();
    EXPECT_EQ(test::ReadWaveSamples(out), input) << "unity volume leaves the samples as they are";

    ASSERT_EQ(Render("--no-eq --volume 8192 --out " + out + " " + in), 0) << Stderr();
    auto half = test::ReadWaveSamples(out);
    ASSERT_EQ(half.size(), input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        ASSERT_EQ(half[i], Scaled(input[i], 8192)) << "sample " << i;
    }

    // Volume 20000, balance -5000: the left keeps 20000, the right gets 11384 x 20000 / 16384 =
    // 13896.48.., rounded to 13896; the loud samples clip.
    ASSERT_EQ(Render("--no-eq --volume 20000 --balance -5000 --out " + out + " " + in), 0) << Stderr();
    auto panned = test::ReadWaveSamples(out);
    ASSERT_EQ(panned.size(), input.size());
    for (std::size_t i = 0; i < input.size(); i += 2) {
        ASSERT_EQ(panned[i], Scaled(input[i], 20000)) << "left " << i;
        ASSERT_EQ(panned[i + 1], Scaled(input[i + 1], 13896)) << "right " << i;
    }
    // A positive balance lowers the left: 16384 - 16384 leaves it silent.
    ASSERT_EQ(Render("--no-eq --balance 16384 --out " + out + " " + in), 0) << Stderr();
    auto right = test::ReadWaveSamples(out);
    ASSERT_EQ(right.size(), input.size());
    for (std::size_t i = 0; i < input.size(); i += 2) {
        ASSERT_EQ(right[i], 0);
        ASSERT_EQ(right[i + 1], input[i + 1]);
    }
}

TEST(Render, EqualizerTakesItsBandsFromCommandLineOrCurve) {
    // Left: 1414 Hz, in the 1000-2000 Hz band; right: 90 Hz, in the 64-130 Hz band. Every buffer
    // holds whole half-blocks of the filter, so no buffer end shifts the stream.
    const int frames = 44032;
    const std::string in = WriteStereo("tones.wav", frames, [](int i, int c) {
        const double f = c == 0 ? 1414.0 : 90.0;
        return static_cast<int>(std::lround(12000 * std::sin(2 * kPi * f * i / kRate)));
    });
    const auto input = test::ReadWaveSamples(in);
    const std::string out = Path("eq.wav");

    ASSERT_EQ(Render("--out " + out + " " + in), 0) << Stderr();
    const auto flat = test::ReadWaveSamples(out);
    ASSERT_EQ(flat.size(), input.size()) << "the equalizer gives out as many bytes as it takes";
    // All bands at 0 dB: the input 64 frames (a quarter of the 256-point transform) later, at
    // 10^(6/20) / 2 of its level.
    const double g = std::pow(10.0, 6.0 / 20.0) / 2.0;
    int off = 0;
    for (std::size_t i = 2 * 4096; i < input.size(); ++i) {
        if (std::abs(flat[i] - input[i - 2 * 64] * g) >= 2.0)
            ++off;
    }
    EXPECT_EQ(off, 0) << "flat equalizer: delayed and scaled input";

    // --bands of zeros and a flat curve file are the same thing.
    ASSERT_EQ(Render("--bands 0,0,0,0,0,0,0,0,0,0 --out " + out + " " + in), 0) << Stderr();
    EXPECT_EQ(test::ReadWaveSamples(out), flat);
    TEqCurve zero{};
    ASSERT_EQ(WriteEqCurveFile(Path("flat.eq"), zero), TEqWriteResult::Ok);
    ASSERT_EQ(Render("--eq " + Path("flat.eq") + " --out " + out + " " + in), 0) << Stderr();
    EXPECT_EQ(test::ReadWaveSamples(out), flat);

    // Band 7 cut by 20 dB: the left tone drops, the right one stays.
    ASSERT_EQ(Render("--bands 0,0,0,0,0,0,-20,0,0,0 --out " + out + " " + in), 0) << Stderr();
    const auto cut = test::ReadWaveSamples(out);
    ASSERT_EQ(cut.size(), input.size());
    const double leftDrop = 20 * std::log10(Rms(cut, 0, 8192, frames) / Rms(flat, 0, 8192, frames));
    const double rightDrop = 20 * std::log10(Rms(cut, 1, 8192, frames) / Rms(flat, 1, 8192, frames));
    EXPECT_LT(leftDrop, -12.0);
    EXPECT_NEAR(rightDrop, 0.0, 1.0);

    // A curve file raising band 7 by 11 dB (point 65 at 60.5 units) does what --bands does with 11.
    TEqCurve raised{};
    raised[BandCurvePoint(7) - 1] = 60.5L;
    ASSERT_EQ(WriteEqCurveFile(Path("raised.eq"), raised), TEqWriteResult::Ok);
    ASSERT_EQ(Render("--eq " + Path("raised.eq") + " --out " + out + " " + in), 0) << Stderr();
    const auto fromCurve = test::ReadWaveSamples(out);
    ASSERT_EQ(Render("--bands 0,0,0,0,0,0,11,0,0,0 --out " + out + " " + in), 0) << Stderr();
    EXPECT_EQ(test::ReadWaveSamples(out), fromCurve);
    EXPECT_GT(Rms(fromCurve, 0, 8192, frames), 2.5 * Rms(flat, 0, 8192, frames));
}

TEST(Render, BadChainArgumentsAreRefused) {
    const std::string in = WriteStereo("short.wav", 100, [](int, int) { return 0; });
    const std::string out = " --out " + Path("bad.wav") + " " + in;
    std::ofstream(Path("loud.eq"), std::ios::binary) << " 2.00000000000000E+0002\r\n";
    const char* bad[] = {"--volume -1",
                         "--volume 32769",
                         "--volume 1x",
                         "--balance 16385",
                         "--balance -16385",
                         "--bands 0,0,0,0,0,0,0,0,0",
                         "--bands 0,0,0,0,0,0,0,0,0,0,0",
                         "--bands 0,0,0,0,x,0,0,0,0,0",
                         "--bands 0,0,0,0,,0,0,0,0,0",
                         "--bands 0,0,0,0,20.5,0,0,0,0,0",
                         "--bands nan,0,0,0,0,0,0,0,0,0",
                         "--no-eq --bands 0,0,0,0,0,0,0,0,0,0",
                         "--eq /nonexistent/curve.eq",
                         "--snapshot-ms 10",
                         "--snapshot x.bmp",
                         "--snapshot-ms -5 --snapshot x.bmp",
                         "--spectrum-kind 2",
                         "--snapshot-ms 0 --snapshot x.bmp --spectrum-kind 7"};
    for (const char* args : bad) {
        EXPECT_EQ(Render(std::string(args) + out), 2) << args;
        EXPECT_NE(Stderr().find("tunefold-render: "), std::string::npos) << args;
    }
    EXPECT_EQ(Render("--eq " + Path("loud.eq") + out), 2) << "a value beyond 110 rejects the curve";
    EXPECT_NE(Stderr().find("loud.eq"), std::string::npos);
    EXPECT_EQ(Render("--eq " + Path("loud.eq") + " --bands 0,0,0,0,0,0,0,0,0,0" + out), 2);
    // Limits themselves are fine.
    EXPECT_EQ(Render("--volume 32768 --balance -16384 --bands -20,20,0,0,0,0,0,0,0,0" + out), 0) << Stderr();
}

struct Picture {
    TRaster r;
    // Pixels of the middle row of a meter lit in a bar colour, and those showing an unlit spot.
    int Lit(int top) const { return Count(top, {clAqua, clYellow, clRed}); }
    int Unlit(int top) const { return Count(top, {clTeal, clOlive, clMaroon}); }
    int Count(int top, std::initializer_list<TColor> colours) const {
        int n = 0;
        for (int x = 58; x < 58 + 143; ++x) {
            const TColor c = r.GetPixel(x, top + 5);
            for (TColor k : colours)
                n += c == k;
        }
        return n;
    }
    // Pixels of a spectrum column (0 .. 255 of the drawing area) in a bar colour.
    int Bar(int column) const {
        int n = 0;
        for (int y = 34 + 2; y < 34 + 2 + 99; ++y) {
            const TColor c = r.GetPixel(2 + column, y);
            n += c == clAqua || c == clYellow || c == clRed;
        }
        return n;
    }
};

Picture Load(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)),
                                          std::istreambuf_iterator<char>());
    auto r = ReadBMP(bytes);
    return Picture{r ? *r : TRaster()};
}

TEST(Render, SnapshotShowsWhatIsPlayingAtThatTime) {
    // Left: a loud tone at the centre of bin 10 of the 256-point analysis, then silence from 1.5 s;
    // right: silent throughout.
    const double f = 10.0 * kRate / 256;
    const std::string in = WriteStereo("bin10.wav", 3 * kRate, [f](int i, int c) {
        return c == 0 && i < 3 * kRate / 2
                   ? static_cast<int>(std::lround(30000 * std::sin(2 * kPi * f * i / kRate)))
                   : 0;
    });
    const std::string bmp = Path("snap.bmp");
    const std::string out = " --out " + Path("snap.wav") + " ";
    ASSERT_EQ(Render("--snapshot-ms 1000 --snapshot " + bmp + " --spectrum-kind 2" + out + in), 0)
        << Stderr();
    const Picture loud = Load(bmp);
    ASSERT_EQ(loud.r.Width(), 260);
    ASSERT_EQ(loud.r.Height(), 137);
    // -0.8 dB: all but the top spot or two lit on the left meter; the right meter is dark.
    EXPECT_GT(loud.Lit(4), 0);
    EXPECT_LE(loud.Unlit(4), loud.Lit(4) / 20);
    EXPECT_EQ(loud.Lit(19), 0);
    EXPECT_GT(loud.Unlit(19), 60);
    // The player's spectrum gives each bin four columns: bin 10 is columns 40 .. 43, and the
    // window's main lobe reaches two bins to either side; nothing else rises.
    int highest = 0;
    for (int x = 0; x < 256; ++x)
        highest = std::max(highest, loud.Bar(x));
    EXPECT_GT(highest, 40);
    EXPECT_EQ(loud.Bar(41), highest);
    for (int x = 0; x < 256; ++x) {
        if (x < 4 * 8 || x >= 4 * 13) {
            ASSERT_LT(loud.Bar(x), highest / 2) << "column " << x;
        }
    }

    // Two seconds in, half a second into the silence: the meters have fallen back; with a
    // snapshot of silence from the start everything is dark.
    ASSERT_EQ(Render("--snapshot-ms 2500 --snapshot " + bmp + " --spectrum-kind 2" + out + in), 0)
        << Stderr();
    const Picture later = Load(bmp);
    EXPECT_LT(later.Lit(4), loud.Lit(4) / 2);
    const std::string quiet = WriteStereo("quiet.wav", kRate, [](int, int) { return 0; });
    ASSERT_EQ(Render("--snapshot-ms 500 --snapshot " + bmp + " --spectrum-kind 2" + out + quiet), 0)
        << Stderr();
    const Picture silent = Load(bmp);
    EXPECT_EQ(silent.Lit(4), 0);
    EXPECT_EQ(silent.Lit(19), 0);
    EXPECT_GT(silent.Unlit(4), 60);
    for (int x = 0; x < 256; ++x)
        ASSERT_EQ(silent.Bar(x), 0) << "column " << x;

    // The kind picks the picture: the scrolling kind draws differently from the bars.
    ASSERT_EQ(Render("--snapshot-ms 1000 --snapshot " + bmp + out + in), 0) << Stderr();
    const Picture scroll = Load(bmp);
    EXPECT_NE(scroll.r.Pixels(), loud.r.Pixels());

    // A time past the end: nothing to show, and it says so.
    EXPECT_EQ(Render("--snapshot-ms 5000 --snapshot " + Path("none.bmp") + out + quiet), 1);
    EXPECT_NE(Stderr().find("no snapshot written"), std::string::npos);
}

} // namespace
} // namespace tunefold
