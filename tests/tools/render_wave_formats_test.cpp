// The WAVE files people have now, rendered through the player's chain and held against what sox
// makes of the same file: 24- and 32-bit integer PCM, 32- and 64-bit float, extensible records,
// 5.1 folded into stereo, float beyond full scale.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/pull.h"
#include "support/render_run.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

// Our own writer's header: RIFF, fmt (18 bytes), data.
constexpr std::size_t kDataAt = 12 + 8 + 18 + 8;

std::vector<std::uint8_t> Rendered(const std::string& input) {
    const std::string out = (test::Sandbox() / "wide.wav").string();
    const auto r = test::RunRender("--no-eq --out " + out + " " + input);
    EXPECT_EQ(r.status, 0) << r.err;
    auto bytes = test::ReadBytes(out);
    if (bytes.size() < kDataAt) {
        return {};
    }
    std::uint32_t size = 0;
    std::memcpy(&size, bytes.data() + kDataAt - 4, 4);
    return std::vector<std::uint8_t>(
        bytes.begin() + kDataAt,
        bytes.begin() + static_cast<long>(std::min<std::size_t>(kDataAt + size, bytes.size())));
}

std::string InfoLine(const std::string& input) {
    const auto r = test::RunRender("--info " + input);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
}

void ExpectLikeSox(const std::string& fixture, const std::vector<std::uint8_t>& reference) {
    const auto ours = Rendered(test::Fixture(fixture + ".wav"));
    ASSERT_EQ(ours.size(), reference.size()) << fixture;
    const auto d = test::Compare16(ours, reference);
    EXPECT_LE(d.maxAbs, 1) << fixture << ": first difference at sample " << d.firstIndex;
}

TEST(RenderWaveFormats, WideAndFloatSamplesPlayAsSoxConvertsThem) {
    for (const char* name : {"pcm24_stereo_48000", "pcm24_plain_stereo_44100", "pcm32_stereo_44100",
                             "float32_stereo_48000", "float64_stereo_44100"}) {
        ExpectLikeSox(name, test::ReadBytes(test::Fixture(std::string(name) + ".s16")));
    }
}

TEST(RenderWaveFormats, FiveOneFoldsIntoStereo) {
    for (const char* name : {"pcm24_6ch_96000", "pcm16_plain_6ch_44100", "float32_6ch_48000"}) {
        ExpectLikeSox(name, test::ReadBytes(test::Fixture(std::string(name) + ".s16")));
    }
}

TEST(RenderWaveFormats, InfoLinesTellWhatTheFilesHold) {
    EXPECT_EQ(InfoLine(test::Fixture("pcm24_6ch_96000.wav")), "WAVE -  PCM 96.000 kHz, 24 Bit, 6 Channels");
    EXPECT_EQ(InfoLine(test::Fixture("pcm24_plain_stereo_44100.wav")),
              "WAVE -  PCM 44.100 kHz, 24 Bit, Stereo");
    EXPECT_EQ(InfoLine(test::Fixture("pcm32_stereo_44100.wav")), "WAVE -  PCM 44.100 kHz, 32 Bit, Stereo");
    EXPECT_EQ(InfoLine(test::Fixture("float32_stereo_48000.wav")),
              "WAVE -  IEEE Float 48.000 kHz, 32 Bit, Stereo");
    EXPECT_EQ(InfoLine(test::Fixture("float32_6ch_48000.wav")),
              "WAVE -  IEEE Float 48.000 kHz, 32 Bit, 6 Channels");
}

void Put16(std::string& s, std::uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, std::uint32_t v) {
    Put16(s, static_cast<std::uint16_t>(v));
    Put16(s, static_cast<std::uint16_t>(v >> 16));
}

TEST(RenderWaveFormats, FloatBeyondFullScaleSaturates) {
    // A stereo float file well past full scale both ways, with huge values: sox clips such
    // samples, and so must we -- a wrapped sample is a loud click.
    std::string data;
    const float huge = 1e30f;
    for (int i = 0; i < 4410; ++i) {
        const float v = static_cast<float>(3.0 * std::sin(i * 0.05));
        for (float f : {v, i % 100 == 0 ? (i % 200 == 0 ? huge : -huge) : -v}) {
            std::uint32_t u = 0;
            std::memcpy(&u, &f, 4);
            Put32(data, u);
        }
    }
    std::string file = "RIFF";
    Put32(file, static_cast<std::uint32_t>(4 + 26 + 8 + data.size()));
    file += "WAVEfmt ";
    Put32(file, 18);
    Put16(file, 3);
    Put16(file, 2);
    Put32(file, 44100);
    Put32(file, 44100 * 8);
    Put16(file, 8);
    Put16(file, 32);
    Put16(file, 0);
    file += "data";
    Put32(file, static_cast<std::uint32_t>(data.size()));
    file += data;
    const auto path = test::Sandbox() / "loud.wav";
    std::ofstream(path, std::ios::binary) << file;
    const auto reference = test::Sandbox() / "loud.s16";
    const std::string sox =
        "sox -D " + path.string() + " -t raw -e signed -b 16 -L " + reference.string() + " 2>/dev/null";
    ASSERT_EQ(std::system(sox.c_str()), 0);
    const auto ours = Rendered(path.string());
    const auto theirs = test::ReadBytes(reference.string());
    ASSERT_EQ(ours.size(), theirs.size());
    EXPECT_LE(test::Compare16(ours, theirs).maxAbs, 1);
    // The loudest samples sit at the rails, not past them.
    int top = 0, bottom = 0;
    for (std::size_t i = 0; i + 1 < ours.size(); i += 2) {
        const auto s = static_cast<std::int16_t>(ours[i] | (ours[i + 1] << 8));
        top += s == 32767;
        bottom += s == -32768;
    }
    EXPECT_GT(top, 1000);
    EXPECT_GT(bottom, 1000);
}

} // namespace
} // namespace tunefold
