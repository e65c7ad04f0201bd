// tunefold-render as a user runs it: the info lines, exit codes, and a rendering that holds exactly
// what an independent decoder makes of the file.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "support/pull.h"
#include "support/render_run.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

using test::RenderRun;

// Stderr of the last run.
std::string lastErr;

RenderRun Render(const std::string& args) {
    RenderRun r = test::RunRender(args);
    lastErr = r.err;
    return r;
}

std::string Stderr() {
    return lastErr;
}

TEST(Render, InfoLinesAsThePlayerShowsThem) {
    auto mp3 = Render("--info " + test::Fixture("l3_cbr128_joint_44100.mp3"));
    EXPECT_EQ(mp3.status, 0);
    EXPECT_EQ(mp3.out, "ISO MPEG 1 - Layer III; 44.100 kHz; 128 KBit/s; Joint Stereo;\nlength_ms=2200\n"
                       "TITLE: Fixture Title ARTIST: Fixture Artist ALBUM: Fixture Album\n");
    auto mp2 = Render("--info " + test::Fixture("l2_mono_96_48000.mp2"));
    EXPECT_EQ(mp2.out.substr(0, mp2.out.find('\n')), "ISO MPEG 1 - Layer II; 48.000 kHz; 96 KBit/s; Mono;");
    auto lsf = Render("--info " + test::Fixture("l3_cbr64_mono_22050.mp3"));
    EXPECT_EQ(lsf.out.substr(0, lsf.out.find('\n')), "ISO MPEG 2 - Layer III; 22.050 kHz; 64 KBit/s; Mono;");
    auto v2 = Render("--info " + test::Fixture("id3v2_utf8.mp3"));
    EXPECT_EQ(v2.out.substr(v2.out.rfind('\n', v2.out.size() - 2) + 1),
              "TITLE: naïve €uro 🎵 ARTIST: Zoë ALBUM: 東京\n");
    auto wav = Render("--info " + test::Fixture("pcm8_stereo_22050.wav"));
    EXPECT_EQ(wav.status, 0);
    EXPECT_EQ(wav.out, "WAVE -  PCM 22.050 kHz, 8 Bit, Stereo\nlength_ms=1300\n\n");
    auto junk = Render("--info " + test::Fixture("pcm16_mono_11025.s16"));
    EXPECT_EQ(junk.status, 1);
    EXPECT_EQ(junk.out, "Unknown File\nlength_ms=0\n\n");
    EXPECT_NE(Stderr().find(" is not a valid Audiofile"), std::string::npos);
}

TEST(Render, ExitCodes) {
    EXPECT_EQ(Render("--help").status, 0);
    auto v = Render("--version");
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("tunefold-render ", 0), 0u);
    EXPECT_EQ(Render("").status, 2);
    EXPECT_EQ(Render("--bogus x.mp3").status, 2);
    EXPECT_EQ(Render("--loop").status, 2);
    EXPECT_EQ(Render("--loop -3 x.mp3").status, 2);
    const std::string missing = (test::Sandbox() / "missing.mp3").string();
    EXPECT_EQ(Render("--out " + (test::Sandbox() / "x.wav").string() + " " + missing).status, 1);
    EXPECT_EQ(Stderr(), missing + " is not a valid Audiofile\n");
}

TEST(Render, OutHoldsWhatTheDeviceGot) {
    const std::string out = (test::Sandbox() / "render.wav").string();
    // Without the equalizer the chain gives the decoder's samples unchanged.
    auto r = Render("--no-eq --out " + out + " " + test::Fixture("l3_vbr_stereo_44100.mp3"));
    ASSERT_EQ(r.status, 0) << Stderr();
    auto bytes = test::ReadBytes(out);
    auto reference = test::ReadBytes(test::Fixture("l3_vbr_stereo_44100.s16"));
    ASSERT_GT(bytes.size(), 44u);
    // Our own writer: RIFF, fmt (18 bytes), data.
    const std::size_t data = 12 + 8 + 18 + 8;
    ASSERT_GE(bytes.size(), data + reference.size());
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + data,
                                        bytes.begin() + static_cast<long>(data + reference.size())),
              reference);

    // A playlist of two entries (one relative, one with a backslash) and a loop: everything in order.
    const std::string list = (test::Sandbox() / "two.m3u").string();
    {
        std::ofstream f(list, std::ios::binary);
        f << test::Fixture("pcm8_mono_8000.wav") << "\r\n"
          << "\\" << test::Fixture("pcm8_mono_8000.wav") << "\r\n";
    }
    auto l = Render("--loop 1 --out " + out + " " + list);
    ASSERT_EQ(l.status, 0) << Stderr();
    auto pcm = test::ReadBytes(test::Fixture("pcm8_mono_8000.s16"));
    auto twice = test::ReadBytes(out);
    EXPECT_EQ(twice.size(), data + 4 * pcm.size() + 12)
        << "two entries, each played twice, then the fact chunk";
}

} // namespace
} // namespace tunefold
