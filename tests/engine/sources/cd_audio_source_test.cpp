#include "engine/sources/cd_audio_source.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/virtual/virtual_cd_drive.h"
#include "support/pull.h"

namespace tunefold {
namespace {

namespace pf = platform;

// Track 1 of 2 s (150 sectors), a data track, then audio track 3 of 1 s.
pf::VirtualDisc Disc() {
    pf::VirtualDisc disc = pf::MakeVirtualDisc({{0, 2, 0}, {0, 4, 0}, {0, 10, 0}}, {0, 11, 0});
    disc.tracks[1].data = true;
    return disc;
}

// The samples the drive holds for `frames` sectors of `track` from absolute frame `from`.
std::vector<std::uint8_t> Expected(int track, int from, int frames) {
    std::vector<std::uint8_t> bytes;
    const std::int64_t first = std::int64_t{from - pf::kCdLeadInFrames} * (pf::kCdSectorBytes / 4);
    for (std::int64_t i = 0; i < std::int64_t{frames} * (pf::kCdSectorBytes / 4); ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            const auto v = static_cast<std::uint16_t>(pf::VirtualCdDrive::SignalSample(track, first + i, ch));
            bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    }
    return bytes;
}

TEST(CDAudioSource, GivesTheTrackSampleForSampleInBuffersOfAnySize) {
    pf::VirtualCdDrive drive;
    drive.InsertDisc(Disc());
    TMMCDAudioSource source(nullptr, &drive);
    const WAVEFORMATEX* f = source.PWaveFormat();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->nSamplesPerSec, 44100u);
    EXPECT_EQ(f->nChannels, 2);
    EXPECT_EQ(f->wBitsPerSample, 16);

    ASSERT_TRUE(source.SelectTrack(3));
    EXPECT_EQ(source.LengthMs(), 1000);
    EXPECT_EQ(drive.OpenCount(), 1);
    source.Opened();
    source.Started();
    // 10000 bytes: no whole number of sectors.
    const test::PullResult r = test::PullAll(source, 10000);
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.shortBeforeLast, 0);
    EXPECT_EQ(r.data, Expected(3, pf::MsfToFrames({0, 10, 0}), 75));
    EXPECT_EQ(source.PositionMs(), 1000);
    EXPECT_FALSE(source.ReadFailed());
    // A stop and a new start play the track again from its beginning.
    source.Stopped();
    source.Started();
    test::PullBuffer again(4 * pf::kCdSectorBytes);
    EXPECT_TRUE(again.Load(source));
    const std::vector<std::uint8_t> head = Expected(3, pf::MsfToFrames({0, 10, 0}), 4);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), again.Data()));
    source.Closed();

    // A range within the track: a play from 0:00:50 of track 1 to its end.
    ASSERT_TRUE(source.SelectTrack(1));
    ASSERT_TRUE(source.SelectFrames(200, 300));
    EXPECT_FALSE(source.SelectFrames(100, 300)); // outside the selection
    source.Opened();
    source.Started();
    EXPECT_EQ(test::PullAll(source, 4 * pf::kCdSectorBytes).data, Expected(1, 200, 100));
    source.Closed();
    source.Deselect();
    EXPECT_EQ(drive.OpenCount(), 0);
}

TEST(CDAudioSource, APlayFromAPlaceRunsOnThroughTheFollowingAudioTracks) {
    pf::VirtualCdDrive drive;
    // Three audio tracks of 1 s, then a data track.
    pf::VirtualDisc disc = pf::MakeVirtualDisc({{0, 2, 0}, {0, 3, 0}, {0, 4, 0}, {0, 5, 0}}, {0, 9, 0});
    disc.tracks[3].data = true;
    drive.InsertDisc(disc);
    TMMCDAudioSource source(nullptr, &drive);
    // From the middle of track 2: the rest of it and all of track 3, not the data track.
    ASSERT_TRUE(source.SelectFrom(225 + 30));
    EXPECT_EQ(source.Track(), 2);
    EXPECT_EQ(source.LengthMs(), (375 - 255) * 1000 / 75);
    source.Opened();
    source.Started();
    const test::PullResult r = test::PullAll(source, 3 * pf::kCdSectorBytes);
    EXPECT_TRUE(r.ended);
    std::vector<std::uint8_t> expected = Expected(2, 255, 45);
    const std::vector<std::uint8_t> third = Expected(3, 300, 75);
    expected.insert(expected.end(), third.begin(), third.end());
    EXPECT_EQ(r.data, expected);
    source.Closed();
    // Before the first track, on a data track, past the disc: nothing.
    EXPECT_FALSE(source.SelectFrom(100));
    EXPECT_FALSE(source.SelectFrom(400));
    source.Deselect();
    EXPECT_EQ(drive.OpenCount(), 0);
}

TEST(CDAudioSource, RefusesDataAndMissingTracksAndEndsOnAReadError) {
    pf::VirtualCdDrive drive;
    drive.InsertDisc(Disc());
    TMMCDAudioSource source(nullptr, &drive);
    EXPECT_FALSE(source.SelectTrack(2)); // data
    EXPECT_FALSE(source.SelectTrack(4));
    EXPECT_FALSE(source.SelectTrack(0));
    EXPECT_EQ(drive.OpenCount(), 0);
    // Nothing selected: the source gives nothing, and says there is no more.
    source.Opened();
    source.Started();
    const test::PullResult none = test::PullAll(source, 4096);
    EXPECT_TRUE(none.ended);
    EXPECT_TRUE(none.data.empty());
    source.Closed();

    ASSERT_TRUE(source.SelectTrack(1));
    source.Opened();
    source.Started();
    test::PullBuffer buffer(TMMCDAudioSource::kReadSectors * pf::kCdSectorBytes);
    EXPECT_TRUE(buffer.Load(source));
    // Whole sample frames only: an odd buffer is filled short of its end, never with half a frame.
    test::PullBuffer odd(10001);
    EXPECT_TRUE(odd.Load(source));
    EXPECT_EQ(odd.Recorded(), 10000u);
    pf::VirtualCdFaults faults;
    faults.readErrors = true;
    drive.SetFaults(faults);
    // What was read before the error still plays; then the stream ends, well before the track.
    const test::PullResult rest = test::PullAll(source, 4096);
    EXPECT_TRUE(rest.ended);
    EXPECT_LT(rest.data.size(), std::size_t{150 - 2 * TMMCDAudioSource::kReadSectors} * pf::kCdSectorBytes);
    EXPECT_TRUE(source.ReadFailed());
    source.Closed();

    // The door open, no disc, no drive: nothing is selected.
    drive.SetFaults({});
    drive.OpenDoor();
    EXPECT_FALSE(source.SelectTrack(1));
    drive.CloseDoor();
    drive.InsertDisc(std::nullopt);
    EXPECT_FALSE(source.SelectTrack(1));
    drive.SetNoDrive(true);
    EXPECT_FALSE(source.SelectTrack(1));
    EXPECT_EQ(drive.OpenCount(), 0);
}

} // namespace
} // namespace tunefold
