// tunefold-render --line-in on the virtual platform: what the virtual card's input hears recorded
// through the ring and the chain into a file, and the options the recording refuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/render_run.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

TEST(RenderLineIn, RecordsTheGivenTimeWholeIntoAFileAfterTheStartUpSilence) {
    // What the virtual card's line input hears: 1.5 s of samples that are never 0, then silence.
    constexpr std::size_t kRate = 44100;
    std::vector<std::int16_t> heard(2 * (kRate * 3 / 2));
    for (std::size_t i = 0; i < heard.size() / 2; ++i) {
        heard[2 * i] = static_cast<std::int16_t>(i % 30000 + 1);
        heard[2 * i + 1] = static_cast<std::int16_t>(-heard[2 * i]);
    }
    const auto raw = test::Sandbox() / "line-in.raw";
    std::ofstream(raw, std::ios::binary)
        .write(reinterpret_cast<const char*>(heard.data()), static_cast<std::streamsize>(heard.size() * 2));
    const auto wav = test::Sandbox() / "line-in.wav";
    const auto run =
        test::RunRender("--line-in 1 --no-eq --out '" + wav.string() + "'",
                        "TUNEFOLD_PLATFORM=virtual TUNEFOLD_VIRTUAL_LINE_IN='" + raw.string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(test::ReadWhole(wav).compare(0, 4, "RIFF"), 0);
    const std::vector<std::int16_t> got = test::ReadWaveSamples(wav);
    ASSERT_FALSE(got.empty()) << "no data chunk";
    const std::size_t frames = got.size() / 2;

    // First the silence the output's queue and the ring's fill give while the devices start (how
    // much of the fill depends on when the output starts pulling against the input's clock), then
    // the second recorded, every frame of it in order, then the silence the output played out.
    std::size_t first = 0;
    while (first < frames && got[2 * first] == 0) {
        ++first;
    }
    const std::size_t queue = 132 * 2048 / 4;
    const std::size_t fill = 67 * 2048 / 4;
    EXPECT_GE(first, queue / 2) << "the recording comes after the start-up silence";
    EXPECT_LE(first, queue + fill + kRate / 2);
    ASSERT_GE(frames, first + kRate) << "the whole second reached the file";
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < kRate; ++i) {
        wrong += got[2 * (first + i)] != heard[2 * i] || got[2 * (first + i) + 1] != heard[2 * i + 1];
    }
    EXPECT_EQ(wrong, 0U) << "frames of the second that differ from what the input heard";
    std::size_t after = 0;
    for (std::size_t i = 2 * (first + kRate); i < got.size(); ++i) {
        after += got[i] != 0;
    }
    EXPECT_EQ(after, 0U) << "samples beyond the second recorded";
}

TEST(RenderLineIn, RefusesWhatARecordingCannotTake) {
    for (const std::string args :
         {"--line-in 2 some.mp3", "--line-in 0", "--line-in 2 --loop 1", "--line-in 2 --demo", "--line-in x",
          "--line-in 2 --snapshot-ms 1 --snapshot a.bmp"}) {
        SCOPED_TRACE(args);
        const auto run = test::RunRender(args, "TUNEFOLD_PLATFORM=virtual");
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("--line-in"), std::string::npos) << run.err;
    }
    const auto help = test::RunRender("--help");
    EXPECT_NE(help.out.find("--line-in SECONDS"), std::string::npos);
}

} // namespace
} // namespace tunefold
