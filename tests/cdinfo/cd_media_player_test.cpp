#include "cdinfo/cd_media_player.h"

#include <gtest/gtest.h>

#include "platform/virtual/virtual_cd_drive.h"
#include "platform/virtual/virtual_timers.h"

namespace tunefold {
namespace {

namespace pf = platform;

struct Rig {
    Rig() {
        drive.InsertDisc(pf::MakeVirtualDisc({{0, 2, 0}, {4, 0, 0}, {8, 0, 0}, {12, 0, 0}}, {20, 0, 0}));
        EXPECT_TRUE(player.Open());
    }
    pf::VirtualTimers timers;
    pf::ScopedTimers scoped{timers};
    pf::VirtualCdDrive drive;
    TMMCDPlayer player{nullptr, &drive};
};

TEST(CDMediaPlayer, TracksLengthsAndTheDiscLength) {
    Rig r;
    EXPECT_NE(r.player.DeviceID(), 0);
    EXPECT_EQ(r.player.Mode(), mpStopped);
    EXPECT_TRUE(r.player.MediaPresent());
    EXPECT_EQ(r.player.Tracks(), 4);
    EXPECT_TRUE(r.player.TrackIsAudio(1));
    EXPECT_FALSE(r.player.TrackIsAudio(0));
    EXPECT_FALSE(r.player.TrackIsAudio(5));
    EXPECT_EQ(r.player.TrackPosition(2), (pf::CdMsf{4, 0, 0}));
    EXPECT_EQ(r.player.TrackLength(1), (pf::CdMsf{3, 58, 0}));
    EXPECT_EQ(r.player.TrackLength(4), (pf::CdMsf{8, 0, 0}));
    // Neither track 0 nor the lead-out has a length.
    EXPECT_EQ(r.player.TrackLength(0), (pf::CdMsf{}));
    EXPECT_EQ(r.player.TrackLength(pf::kCdLeadOutTrack), (pf::CdMsf{}));
    EXPECT_EQ(r.player.Length(), (pf::CdMsf{19, 58, 0}));
    EXPECT_EQ(r.player.Position(), (TMSF{1, 0, 0, 0}));
}

TEST(CDMediaPlayer, PlayPauseResumeStopAndTheStartPosition) {
    Rig r;
    ASSERT_TRUE(r.player.Play());
    EXPECT_EQ(r.player.Mode(), mpPlaying);
    r.timers.Advance(61000);
    EXPECT_EQ(r.player.Position(), (TMSF{1, 1, 1, 0}));
    ASSERT_TRUE(r.player.Pause());
    EXPECT_EQ(r.player.Mode(), mpPaused);
    r.timers.Advance(5000);
    EXPECT_EQ(r.player.Position(), (TMSF{1, 1, 1, 0})); // a paused disc stands still
    ASSERT_TRUE(r.player.Pause());                      // the second pause resumes
    r.timers.Advance(1000);
    EXPECT_EQ(r.player.Position(), (TMSF{1, 1, 2, 0}));
    ASSERT_TRUE(r.player.Stop());
    EXPECT_EQ(r.player.Mode(), mpStopped);
    EXPECT_EQ(r.player.Position(), (TMSF{1, 1, 2, 0}));
    // Track 4 at 2:30 is where the next play starts; then the start position is forgotten.
    r.player.SetStartPos(TMSF{4, 2, 30, 0});
    ASSERT_TRUE(r.player.Play());
    EXPECT_FALSE(r.player.HasStartPos());
    EXPECT_EQ(r.player.Position(), (TMSF{4, 2, 30, 0}));
    // Played to the end: the drive completes and the position is the end of the last track.
    r.timers.Advance(6 * 60 * 1000);
    EXPECT_EQ(r.player.Mode(), mpStopped);
    EXPECT_EQ(r.player.Position(), (TMSF{4, 8, 0, 0}));
}

TEST(CDMediaPlayer, PreviousAndNext) {
    Rig r;
    ASSERT_TRUE(r.player.Next());
    EXPECT_EQ(r.player.Position(), (TMSF{2, 0, 0, 0}));
    EXPECT_EQ(r.player.Mode(), mpStopped); // next keeps a stopped disc stopped
    ASSERT_TRUE(r.player.Play());
    r.timers.Advance(500);
    ASSERT_TRUE(r.player.Previous()); // within the first second: the previous track
    EXPECT_EQ(r.player.Position(), (TMSF{1, 0, 0, 0}));
    EXPECT_EQ(r.player.Mode(), mpPlaying);
    ASSERT_TRUE(r.player.Previous()); // track 1 has no previous one
    EXPECT_EQ(r.player.Position().track, 1);
    r.timers.Advance(5000);
    ASSERT_TRUE(r.player.Previous()); // later in the track: its own start
    EXPECT_EQ(r.player.Position(), (TMSF{1, 0, 0, 0}));
    r.player.SetStartPos(TMSF{4, 0, 10, 0});
    ASSERT_TRUE(r.player.Play());
    EXPECT_FALSE(r.player.Next()); // no track after the last
}

TEST(CDMediaPlayer, DoorNoDiscNoDriveAndRefusals) {
    Rig r;
    ASSERT_TRUE(r.player.Play());
    ASSERT_TRUE(r.player.Eject());
    EXPECT_EQ(r.player.Mode(), mpOpen);
    EXPECT_FALSE(r.player.MediaPresent());
    EXPECT_EQ(r.player.Tracks(), 0);
    EXPECT_FALSE(r.player.Play());
    ASSERT_TRUE(r.player.CloseDoor());
    EXPECT_EQ(r.player.Mode(), mpStopped); // the play ended when the door opened
    r.drive.InsertDisc(std::nullopt);
    EXPECT_EQ(r.player.Mode(), mpNotReady);
    EXPECT_FALSE(r.player.Pause());

    r.player.Close();
    EXPECT_EQ(r.player.DeviceID(), 0);
    EXPECT_EQ(r.drive.OpenCount(), 0);
    EXPECT_FALSE(r.player.Eject());
    EXPECT_FALSE(r.player.Stop());
    r.drive.SetNoDrive(true);
    EXPECT_FALSE(r.player.Open());
    EXPECT_EQ(r.player.Mode(), mpNotReady);
}

} // namespace
} // namespace tunefold
