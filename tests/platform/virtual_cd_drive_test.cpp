#include "platform/virtual/virtual_cd_drive.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/services.h"
#include "platform/virtual/virtual_timers.h"
#include "support/files.h"

namespace tunefold::platform {
namespace {

TEST(VirtualCdLayout, ReadsTracksLeadOutDoorAndComments) {
    VirtualDiscLayout layout;
    std::string error;
    ASSERT_TRUE(ParseVirtualDiscLayout("# my disc\r\ntrack 0:02:00\ntrack 3:10:40 audio # the second\n"
                                       "  track 5:00:00 data\n\nleadout 7:57:12\ndoor open\n",
                                       layout, error))
        << error;
    ASSERT_TRUE(layout.disc.has_value());
    ASSERT_EQ(layout.disc->tracks.size(), 3u);
    EXPECT_EQ(layout.disc->tracks[1].number, 2);
    EXPECT_EQ(layout.disc->tracks[1].startFrame, MsfToFrames({3, 10, 40}));
    EXPECT_TRUE(layout.disc->tracks[2].data);
    EXPECT_EQ(layout.disc->leadOutFrame, MsfToFrames({7, 57, 12}));
    EXPECT_TRUE(layout.doorOpen);

    ASSERT_TRUE(ParseVirtualDiscLayout("track 0:02:00\nlength 1:00:00\n", layout, error));
    EXPECT_EQ(layout.disc->leadOutFrame, MsfToFrames({1, 2, 0}));
    ASSERT_TRUE(ParseVirtualDiscLayout("nodisc\n", layout, error));
    EXPECT_FALSE(layout.disc.has_value());
    ASSERT_TRUE(ParseVirtualDiscLayout("nodrive\n", layout, error)) << error;
    EXPECT_TRUE(layout.noDrive);
}

TEST(VirtualCdLayout, RejectsWhatIsNoDiscAndSaysWhere) {
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"", "no tracks"},
        {"track 0:02:00\n", "either leadout or length"},
        {"track 0:02:00\nleadout 0:01:00\n", "lead-out"},
        {"track 0:02:00\ntrack 0:02:00\nleadout 1:00:00\n", "line 2"},
        {"track 0:60:00\nleadout 1:00:00\n", "line 1"},
        {"track 0:02:75\nleadout 1:00:00\n", "line 1"},
        {"track 0:02\nleadout 1:00:00\n", "line 1"},
        {"track 100:00:00\nleadout 101:00:00\n", "line 1"},
        {"track 0:02:00 video\nleadout 1:00:00\n", "audio or data"},
        {"track 0:02:00\nleadout 1:00:00\nlength 1:00:00\n", "either"},
        {"nodisc\ntrack 0:02:00\nleadout 1:00:00\n", "contradict"},
        {"door ajar\nnodisc\n", "line 1"},
        {"track 0:02:00\nleadout 1:00:00\nspin\n", "line 3"},
    };
    for (const auto& [text, why] : bad) {
        VirtualDiscLayout layout;
        std::string error;
        EXPECT_FALSE(ParseVirtualDiscLayout(text, layout, error)) << text;
        EXPECT_NE(error.find(why), std::string::npos) << text << " -> " << error;
    }
    std::string many;
    for (int i = 0; i < 100; ++i) {
        many += "track " + std::to_string(i) + ":10:00\n";
    }
    VirtualDiscLayout layout;
    std::string error;
    EXPECT_FALSE(ParseVirtualDiscLayout(many + "leadout 99:00:00\n", layout, error));
    EXPECT_NE(error.find("99 tracks"), std::string::npos) << error;
}

TEST(VirtualCdDrive, LayoutFileStateAndTheGeneratedSignal) {
    const auto folder = test::FreshFolder("vcd");
    test::WriteBytes(folder / "disc.txt", "track 0:02:00\ntrack 0:04:00\nleadout 0:06:00\n");
    VirtualDiscLayout layout;
    std::string error;
    ASSERT_TRUE(LoadVirtualDiscLayout((folder / "disc.txt").string(), layout, error)) << error;
    EXPECT_FALSE(LoadVirtualDiscLayout((folder / "none.txt").string(), layout, error));
    EXPECT_FALSE(LoadVirtualDiscLayout(folder.string(), layout, error));

    VirtualTimers timers;
    ScopedTimers scoped(timers);
    VirtualCdDrive drive;
    ASSERT_TRUE(LoadVirtualDiscLayout((folder / "disc.txt").string(), layout, error));
    drive.ApplyLayout(layout);
    EXPECT_EQ(drive.State().status, CdDriveStatus::NoDrive); // not opened
    ASSERT_TRUE(drive.Open());
    const CdDriveState s = drive.State();
    EXPECT_EQ(s.status, CdDriveStatus::DiscOk);
    ASSERT_TRUE(s.tocValid);
    EXPECT_EQ(s.toc.lastTrack, 2);

    // The reader gives track 2's tone from its first sector to the lead-out, then the end.
    auto reader = drive.OpenReader();
    ASSERT_NE(reader, nullptr);
    std::vector<std::uint8_t> buffer(4 * kCdSectorBytes);
    const int lba = MsfToFrames({0, 4, 0}) - kCdLeadInFrames;
    ASSERT_EQ(reader->Read(lba, 2, buffer.data()), 2);
    const std::int64_t firstSample = std::int64_t{lba} * (kCdSectorBytes / 4);
    for (int i : {0, 1, 587, 588, 1175}) {
        const auto left = static_cast<std::int16_t>(buffer[i * 4] | (buffer[i * 4 + 1] << 8));
        const auto right = static_cast<std::int16_t>(buffer[i * 4 + 2] | (buffer[i * 4 + 3] << 8));
        EXPECT_EQ(left, VirtualCdDrive::SignalSample(2, firstSample + i, 0));
        EXPECT_EQ(right, VirtualCdDrive::SignalSample(2, firstSample + i, 1));
    }
    const int end = MsfToFrames({0, 6, 0}) - kCdLeadInFrames;
    EXPECT_EQ(reader->Read(end - 1, 4, buffer.data()), 1);
    EXPECT_EQ(reader->Read(end, 4, buffer.data()), 0);
    EXPECT_EQ(reader->Read(-1, 1, buffer.data()), -1);

    VirtualCdFaults faults;
    faults.readErrors = true;
    drive.SetFaults(faults);
    EXPECT_EQ(reader->Read(lba, 1, buffer.data()), -1);
    faults = {};
    faults.failReader = true;
    faults.failPlay = true;
    drive.SetFaults(faults);
    EXPECT_EQ(drive.OpenReader(), nullptr);
    EXPECT_FALSE(drive.PlayFrames(150, 300));
    drive.Close();
}

TEST(VirtualCdDrive, PlayRangeIsCheckedAndTheClockEndsIt) {
    VirtualTimers timers;
    ScopedTimers scoped(timers);
    VirtualCdDrive drive;
    drive.InsertDisc(MakeVirtualDisc({{0, 2, 0}, {1, 0, 0}}, {2, 0, 0}));
    EXPECT_FALSE(drive.PlayFrames(150, 300)); // not open
    ASSERT_TRUE(drive.Open());
    EXPECT_FALSE(drive.PlayFrames(100, 300));   // before the first track
    EXPECT_FALSE(drive.PlayFrames(150, 99999)); // past the lead-out
    EXPECT_FALSE(drive.PlayFrames(300, 300));
    const std::uint64_t serial = drive.State().mediaSerial;
    ASSERT_TRUE(drive.PlayFrames(MsfToFrames({1, 0, 0}), MsfToFrames({1, 1, 0})));
    timers.Advance(500);
    CdDriveState s = drive.State();
    EXPECT_EQ(s.position.status, CdAudioStatus::Playing);
    EXPECT_EQ(s.position.track, 2);
    EXPECT_EQ(s.position.relativeFrame, 37);
    timers.Advance(600);
    s = drive.State();
    EXPECT_EQ(s.position.status, CdAudioStatus::Completed);
    EXPECT_EQ(s.position.absoluteFrame, MsfToFrames({1, 1, 0}));
    EXPECT_EQ(s.mediaSerial, serial);
    drive.OpenDoor();
    drive.CloseDoor();
    EXPECT_GT(drive.State().mediaSerial, serial);
    drive.Close();
}

TEST(VirtualCdDrive, IsTheServiceOfTheVirtualPlatformUnlessAnotherIsInstalled) {
    VirtualCdDrive drive;
    {
        ServiceSet set;
        set.cdAudio = &drive;
        ScopedServices scoped(set);
        EXPECT_EQ(&CdAudio(), &drive);
    }
    EXPECT_EQ(&CdAudio(), &VirtualCdDrive::Instance()); // the tests run on the virtual platform
}

} // namespace
} // namespace tunefold::platform
