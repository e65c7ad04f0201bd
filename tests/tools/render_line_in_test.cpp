// tunefold-render --line-in on the virtual platform: the virtual card's input (silence) recorded
// through the ring and the chain into a file, and the options the recording refuses.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/render_run.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

TEST(RenderLineIn, RecordsTheGivenTimeIntoAFileAfterTheStartUpSilence) {
    const auto wav = test::Sandbox() / "line-in.wav";
    const auto run = test::RunRender("--line-in 1 --out '" + wav.string() + "'", "TUNEFOLD_PLATFORM=virtual");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string bytes = test::ReadWhole(wav);
    const std::size_t data = bytes.find("data");
    ASSERT_NE(data, std::string::npos);
    ASSERT_EQ(bytes.compare(0, 4, "RIFF"), 0);
    const std::size_t frames = (bytes.size() - data - 8) / 4;
    // The output's 132 buffers and the 67 the ring gives while it fills, then the second recorded.
    // Both devices run on real clocks of their own: the ring may run dry for a moment and give a
    // little more silence, never less.
    const std::size_t startUp = (132 + 67) * 2048 / 4;
    EXPECT_GE(frames, startUp + 44100 - 2048);
    EXPECT_LE(frames, startUp + 44100 + 22050);
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
