#include "cdinfo/cd_info.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/virtual/virtual_cd_drive.h"
#include "platform/virtual/virtual_timers.h"
#include "support/files.h"

namespace tunefold {
namespace {

namespace pf = platform;

std::filesystem::path Database() {
    return std::filesystem::path(pf::ConfigFolder()) / "cdplayer.ini";
}

void WriteDatabase(const std::string& text) {
    std::filesystem::create_directories(pf::ConfigFolder());
    test::WriteBytes(Database(), text);
}

// The CD player's watcher on a virtual drive and a virtual clock: the test moves time and lets the
// GUI thread run what the timer handed to it.
struct Watch {
    explicit Watch(pf::VirtualDisc disc, const std::string& database = "") {
        if (!database.empty()) {
            WriteDatabase(database);
        } else {
            std::filesystem::remove(Database());
        }
        drive.InsertDisc(std::move(disc));
        player.Open();
        info = std::make_unique<TMMCDInfo>();
        info->SetPlayer(&player);
        info->SetInterval(300);
        info->SetIniFile("C:\\WINDOWS\\cdplayer.ini");
        info->OnDoorOpen = [this](TObject*) { events += "open "; };
        info->OnDoorClose = [this](TObject*) { events += "close "; };
        info->OnReady = [this](TObject*) { events += "ready "; };
        info->OnTimer = [this](TObject*) { ++ticks; };
    }
    ~Watch() { std::filesystem::remove(Database()); }
    void Tick() {
        ++tickCalls;
        timers.Advance(300);
        pf::MessageLoop::Gui().ProcessMessages();
    }

    pf::VirtualTimers timers;
    pf::ScopedTimers scopedTimers{timers};
    pf::VirtualCdDrive drive;
    TMMCDPlayer player{nullptr, &drive};
    std::unique_ptr<TMMCDInfo> info;
    std::string events;
    int ticks = 0;
    int tickCalls = 0;
};

// Four tracks whose packed starts add up to 0x3A4F2.
const std::vector<pf::CdMsf> kFourStarts = {{0, 2, 20}, {0, 59, 74}, {1, 50, 74}, {2, 53, 74}};

pf::VirtualDisc FourTracks() {
    return pf::MakeVirtualDisc(kFourStarts, {5, 0, 0});
}

TEST(CDInfo, DiscIDPacksTheStartsAndAddsTheLengthForShortDiscs) {
    // Two tracks at 0:02:00 and 3:10:40, 7:55:12 long: 512 + 199208 + 35637 frames.
    EXPECT_EQ(ComputeDiscIDOf({{0, 2, 0}, {3, 10, 40}}, pf::MsfToFrames({7, 55, 12})), "3975D");
    // Three tracks or more: the starts alone.
    EXPECT_EQ(ComputeDiscIDOf(kFourStarts, 99999), "3A4F2");
    EXPECT_EQ(ComputeDiscIDOf({}, 0), "0");

    Watch w(pf::MakeVirtualDisc({{0, 2, 0}, {3, 10, 40}}, {7, 57, 12}),
            "[3975d]\nartist=Short\ntitle=Two Tracks\n0=One\n1=Two\n");
    w.Tick();
    EXPECT_EQ(w.info->DiscID(), "3975D");
    EXPECT_EQ(w.info->Artist(), "Short");
    EXPECT_EQ(w.info->Tracks(), (TStrings{"One", "Two"}));
}

TEST(CDInfo, PollReadsTheDatabaseSectionOfTheDisc) {
    Watch w(FourTracks(), "[3a4f2]\nEntryType=1\nARTIST=The Band\ntitle=Album\nnumtracks=0x1F\n0=Intro\n"
                          "2=\nnumplay=2\norder=30 1\n");
    EXPECT_EQ(w.info->DiscID(), "No Disc");
    EXPECT_EQ(w.info->Artist(), "New Artist");
    w.Tick();
    EXPECT_EQ(w.events, "ready ");
    EXPECT_EQ(w.ticks, 1);
    EXPECT_EQ(w.info->DiscID(), "3A4F2");
    EXPECT_EQ(w.info->Artist(), "The Band");
    EXPECT_EQ(w.info->Title(), "Album");
    EXPECT_EQ(w.info->NumTracks(), 31);
    ASSERT_EQ(w.info->Tracks().size(), 31u);
    EXPECT_EQ(w.info->Tracks()[0], "Intro");
    EXPECT_EQ(w.info->Tracks()[1], "Track 2");
    EXPECT_EQ(w.info->Tracks()[2], ""); // an empty name is a name
    EXPECT_EQ(w.info->Tracks()[30], "Track 31");
    EXPECT_EQ(w.info->PlayOrder(), (std::vector<std::uint8_t>{30, 1}));
    // The database claims 31 tracks on a disc of 4: an index the disc lacks is no track to play.
    EXPECT_EQ(w.info->PlayTrack(0), std::nullopt);
    EXPECT_EQ(w.info->PlayTrack(1), 1);
    EXPECT_EQ(w.info->PlayTrack(2), std::nullopt);
    w.Tick();
    EXPECT_EQ(w.events, "ready "); // read once per disc
    EXPECT_EQ(w.ticks, 2);
}

TEST(CDInfo, OrderEntriesThatDoNotConvertOrLieBeyondTheTrackCountTakeTheirPosition) {
    // 2 and 0 are taken; "x" does not convert and stays, so every later entry is its own position.
    Watch w(FourTracks(), "[3A4F2]\nnumtracks=3\nnumplay=4\norder=2 0 x 9\n");
    w.Tick();
    EXPECT_EQ(w.info->PlayOrder(), (std::vector<std::uint8_t>{2, 0, 2, 3}));
    EXPECT_EQ(w.info->PlayTrack(2), 2);
    EXPECT_EQ(w.info->PlayTrack(3), std::nullopt); // 3 of 3 tracks: past the end

    Watch nine(FourTracks(), "[3A4F2]\nnumtracks=3\nnumplay=2\norder=9 1\n");
    nine.Tick();
    EXPECT_EQ(nine.info->PlayOrder(), (std::vector<std::uint8_t>{0, 1}));

    // An entry equal to the count stays as written, and is no playable track.
    Watch eq(FourTracks(), "[3A4F2]\nnumplay=3\norder=4 -1 300\n");
    eq.Tick();
    EXPECT_EQ(eq.info->PlayOrder(), (std::vector<std::uint8_t>{4, 1, 2}));
    EXPECT_EQ(eq.info->PlayTrack(0), std::nullopt);
    EXPECT_EQ(eq.info->PlayTrack(2), 2);
}

TEST(CDInfo, ChangedNumPlayWithoutOrderIsTheDiscOrder) {
    Watch w(FourTracks(), "[3A4F2]\nnumplay=5\nnumtracks=5\n");
    w.Tick();
    EXPECT_EQ(w.info->PlayOrder(), (std::vector<std::uint8_t>{0, 1, 2, 3, 4}));
    Watch none(FourTracks(), "[3A4F2]\nnumplay=0\norder=1 2\n");
    none.Tick();
    EXPECT_TRUE(none.info->PlayOrder().empty());
}

TEST(CDInfo, DefaultsForBadNumbersOtherEntryTypesAndAMissingDatabase) {
    Watch letters(FourTracks(), "[3A4F2]\nnumtracks=abc\nnumplay=99999999999\nartist=A\n");
    letters.Tick();
    EXPECT_EQ(letters.info->NumTracks(), 4);
    EXPECT_EQ(letters.info->NumPlay(), 4);
    EXPECT_EQ(letters.info->Artist(), "A");

    Watch other(FourTracks(), "[3A4F2]\nEntryType=2\nartist=Ignored\n");
    other.Tick();
    EXPECT_EQ(other.info->Artist(), "New Artist");
    EXPECT_EQ(other.info->Tracks(), (TStrings{"Track 1", "Track 2", "Track 3", "Track 4"}));
    EXPECT_EQ(other.info->PlayOrder(), (std::vector<std::uint8_t>{0, 1, 2, 3}));

    Watch missing(FourTracks());
    missing.Tick();
    EXPECT_EQ(missing.events, "ready ");
    EXPECT_EQ(missing.info->DiscID(), "3A4F2");
    EXPECT_EQ(missing.info->Title(), "New Title");
    EXPECT_EQ(missing.info->NumTracks(), 4);

    // Names are cut to 100 characters, never inside a character.
    std::string longName;
    for (int i = 0; i < 120; ++i) {
        longName += "\xC3\xA9"; // e acute
    }
    Watch cut(FourTracks(), "[3A4F2]\nartist=" + longName + "\n");
    cut.Tick();
    EXPECT_EQ(cut.info->Artist(), longName.substr(0, 200));
}

TEST(CDInfo, DoorOpenThenCloseFiresOpenCloseAndReadyAgain) {
    Watch w(FourTracks());
    pf::VirtualCdFaults faults;
    faults.spinUpQueries = 3; // the disc takes a while to be ready after the door closes
    w.drive.SetFaults(faults);
    w.Tick();
    EXPECT_EQ(w.events, "ready ");
    w.drive.OpenDoor();
    w.Tick();
    EXPECT_EQ(w.events, "ready open ");
    EXPECT_TRUE(w.info->DoorIsOpen());
    EXPECT_EQ(w.info->DiscID(), "No Disc");
    w.drive.CloseDoor();
    w.Tick();
    EXPECT_EQ(w.events, "ready open close ");
    EXPECT_EQ(w.info->DiscID(), "No Disc"); // still spinning up: tried again next time
    EXPECT_TRUE(w.info->NeedRead());
    for (int i = 0; i < 3 && w.info->NeedRead(); ++i) {
        w.Tick();
    }
    EXPECT_EQ(w.events, "ready open close ready ");
    EXPECT_EQ(w.info->DiscID(), "3A4F2");
    EXPECT_EQ(w.ticks, w.tickCalls); // every poll ends with OnTimer
}

TEST(CDInfo, ADataFirstTrackOrNoDiscIsNoDiscAndIsRetried) {
    pf::VirtualDisc data = FourTracks();
    data.tracks[0].data = true;
    Watch w(data);
    w.Tick();
    w.Tick();
    EXPECT_EQ(w.events, "");
    EXPECT_EQ(w.ticks, 2);
    EXPECT_EQ(w.info->DiscID(), "No Disc");
    // Another disc put in between two polls (the door never seen open) is read too.
    w.drive.InsertDisc(FourTracks());
    w.Tick();
    EXPECT_EQ(w.events, "ready ");
    w.drive.InsertDisc(pf::MakeVirtualDisc({{0, 2, 0}, {3, 10, 40}}, {7, 57, 12}));
    w.Tick();
    EXPECT_EQ(w.events, "ready ready ");
    EXPECT_EQ(w.info->DiscID(), "3975D");
}

TEST(CDInfo, WithoutAPlayerOrDeviceOnlyTheTimerFires) {
    Watch w(FourTracks());
    w.player.Close();
    w.Tick();
    EXPECT_EQ(w.events, "");
    EXPECT_EQ(w.ticks, 1);
    {
        TMMCDPlayer gone(nullptr, &w.drive);
        gone.Open();
        w.info->SetPlayer(&gone);
    }
    EXPECT_EQ(w.info->Player(), nullptr); // a destroyed player is let go
    w.Tick();
    EXPECT_EQ(w.ticks, 2);
    // Disabled: no polls at all.
    w.info->SetEnabled(false);
    w.Tick();
    EXPECT_EQ(w.ticks, 2);
}

TEST(CDInfo, TheDatabaseResolvesToTheConfigFolderAndLoadsOnce) {
    const std::string db = Database().string();
    EXPECT_EQ(ResolveCDDatabasePath("cdplayer.ini"), db);
    EXPECT_EQ(ResolveCDDatabasePath("C:\\WINDOWS\\cdplayer.ini"), db);
    EXPECT_EQ(ResolveCDDatabasePath("c:\\windows\\cdplayer.ini"), db);
    EXPECT_EQ(ResolveCDDatabasePath("D:\\..\\cdplayer.ini"), db);
    EXPECT_EQ(ResolveCDDatabasePath("/srv/discs.ini"), "/srv/discs.ini");
    EXPECT_EQ(ResolveCDDatabasePath("C:\\WINDOWS\\"), "");
    EXPECT_EQ(ResolveCDDatabasePath("a/.."), "");

    WriteDatabase("[3A4F2]\nartist=Before\n");
    TMMCDInfo info; // loads cdplayer.ini of the config folder at creation
    EXPECT_EQ(info.IniPath(), db);
    const auto artist = [&] { return info.Database()->ReadString("3a4f2", "artist", "-"); };
    EXPECT_EQ(artist(), "Before");
    // The file changes on disk; naming the same file again, in any of its spellings, reads nothing.
    WriteDatabase("[3A4F2]\nartist=After\n");
    info.SetIniFile("C:\\WINDOWS\\cdplayer.ini");
    info.SetIniFile("c:\\windows\\cdplayer.ini");
    info.SetIniFile(db);
    info.SetIniFile("");
    EXPECT_EQ(artist(), "Before");
    EXPECT_FALSE(info.Database()->Modified());
    // A name of another case is another file here.
    info.SetIniFile("C:\\Windows\\CDPLAYER.INI");
    EXPECT_EQ(info.IniPath(), pf::JoinPath(pf::ConfigFolder(), "CDPLAYER.INI"));
    EXPECT_EQ(artist(), "-");
    info.SetIniFile("cdplayer.ini");
    EXPECT_EQ(artist(), "After");
    EXPECT_EQ(test::ReadWhole(Database()), "[3A4F2]\nartist=After\n");
    std::filesystem::remove(Database());
}

} // namespace
} // namespace tunefold
