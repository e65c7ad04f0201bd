// tunefold-render's CD side on the virtual drive: the disc's information from the title database,
// and a track played digitally through the chain into a WAV file holding exactly the disc's samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/paths.h"
#include "platform/virtual/virtual_cd_drive.h"
#include "support/files.h"
#include "support/pull.h"
#include "support/render_run.h"

namespace tunefold {
namespace {

namespace pf = platform;

struct CdRun {
    CdRun() {
        folder = test::FreshFolder("render-cd");
        layout = folder / "disc.txt";
        test::WriteBytes(layout, "# two audio tracks and a data track\n"
                                 "track 0:02:00\ntrack 0:03:00\ntrack 0:05:00 data\nleadout 0:06:00\n");
        std::filesystem::create_directories(pf::ConfigFolder());
        database = std::filesystem::path(pf::ConfigFolder()) / "cdplayer.ini";
    }
    ~CdRun() { std::filesystem::remove(database); }
    test::RenderRun Run(const std::string& args) const {
        return test::RunRender(args,
                               "TUNEFOLD_PLATFORM=virtual TUNEFOLD_VIRTUAL_CD='" + layout.string() + "'");
    }
    std::filesystem::path folder;
    std::filesystem::path layout;
    std::filesystem::path database;
};

TEST(RenderCd, DiscInfoFromTheDatabase) {
    CdRun cd;
    // 512 + 768 + 1280 packed starts.
    test::WriteBytes(cd.database, "[a00]\r\nartist=Virtual Band\r\ntitle=Test Disc\r\n0=Opening\r\n"
                                  "numtracks=2\r\nnumplay=3\r\norder=1 0 2\r\n");
    const test::RenderRun r = cd.Run("--disc-info");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "DiscID: A00\nArtist: Virtual Band\nTitle: Test Disc\nTracks: 3\n"
                     "Track 1: Opening (0:01)\nTrack 2: Track 2 (0:02)\nTrack 3: Track 3 (0:01) [data]\n"
                     "Play order: 2 1\n");
    EXPECT_EQ(test::ReadWhole(cd.database).substr(0, 7), "[a00]\r\n"); // read, never written

    std::filesystem::remove(cd.database);
    const test::RenderRun plain = cd.Run("--disc-info");
    EXPECT_EQ(plain.status, 0);
    EXPECT_NE(plain.out.find("Artist: New Artist\nTitle: New Title\n"), std::string::npos);
    EXPECT_NE(plain.out.find("Play order: 1 2 3\n"), std::string::npos);
}

TEST(RenderCd, NoDiscNoDriveAndBadLayouts) {
    CdRun cd;
    test::WriteBytes(cd.layout, "nodisc\n");
    const test::RenderRun empty = cd.Run("--disc-info");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.out, "DiscID: No Disc\n");
    EXPECT_NE(empty.err.find("no audio disc"), std::string::npos);
    EXPECT_EQ(cd.Run("--cd-track 1").status, 1);

    test::WriteBytes(cd.layout, "nodrive\n");
    const test::RenderRun noDrive = cd.Run("--disc-info");
    EXPECT_EQ(noDrive.status, 1);
    EXPECT_NE(noDrive.err.find("no CD drive"), std::string::npos);

    test::WriteBytes(cd.layout, "track 0:02:00\nleadout 0:01:00\n");
    const test::RenderRun bad = cd.Run("--disc-info");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("lead-out"), std::string::npos) << bad.err;

    EXPECT_EQ(cd.Run("--cd-track 0").status, 2);
    EXPECT_EQ(cd.Run("--cd-track 100").status, 2);
    EXPECT_EQ(cd.Run("--cd-track 1 some.mp3").status, 2);
    EXPECT_EQ(cd.Run("--cd-track 1 --loop 2").status, 2);
    EXPECT_EQ(cd.Run("--disc-info --out x.wav").status, 2);
}

TEST(RenderCd, ATrackPlaysDigitallyThroughTheChain) {
    CdRun cd;
    const auto out = cd.folder / "track2.wav";
    const test::RenderRun r = cd.Run("--cd-track 2 --no-eq --out '" + out.string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::uint8_t> wav = test::ReadBytes(out.string());
    ASSERT_GT(wav.size(), 44u);
    // The data chunk: 2 s of track 2 (150 sectors), the disc's own samples.
    const auto at = std::search(wav.begin(), wav.end(), std::begin("data"), std::end("data") - 1);
    ASSERT_NE(at, wav.end());
    std::uint32_t size = 0;
    std::memcpy(&size, &*(at + 4), 4);
    ASSERT_EQ(size, 150u * pf::kCdSectorBytes);
    const std::uint8_t* data = &*(at + 8);
    const std::int64_t first = std::int64_t{pf::MsfToFrames({0, 3, 0}) - pf::kCdLeadInFrames} * 588;
    int mismatches = 0;
    for (std::int64_t i = 0; i < 150 * 588; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            const std::uint8_t* p = data + i * 4 + ch * 2;
            const auto v = static_cast<std::int16_t>(p[0] | (p[1] << 8));
            mismatches += v != pf::VirtualCdDrive::SignalSample(2, first + i, ch);
        }
    }
    EXPECT_EQ(mismatches, 0);

    // A data track and a track the disc lacks are no audio to play; the target stays untouched.
    test::WriteBytes(out, "old");
    EXPECT_EQ(cd.Run("--cd-track 3 --out '" + out.string() + "'").status, 1);
    const test::RenderRun missing = cd.Run("--cd-track 9 --out '" + out.string() + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no audio track 9"), std::string::npos);
    EXPECT_EQ(test::ReadWhole(out), "old");
}

} // namespace
} // namespace tunefold
