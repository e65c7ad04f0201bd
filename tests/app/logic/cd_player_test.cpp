// The CD player window's controller on a virtual drive and a virtual clock, with the file player and
// the equalizer window's controller it plays through: the keys, the door, the displays, the seek
// bar and the power switch, on the line-in route and read digitally.
#include "app/logic/cd_player.h"
#include "app/logic/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_cd_drive.h"
#include "platform/virtual/virtual_mixer.h"
#include "platform/virtual/virtual_registry.h"
#include "platform/virtual/virtual_sound_card.h"
#include "platform/virtual/virtual_timers.h"
#include "support/files.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;
namespace pf = platform;

// Tracks at 0:02, 4:00, 8:00 and 12:00, the disc ending at 20:00 (track 4 is 8 minutes long).
const std::vector<pf::CdMsf> kFourStarts = {{0, 2, 0}, {4, 0, 0}, {8, 0, 0}, {12, 0, 0}};
pf::VirtualDisc FourTracks() {
    return pf::MakeVirtualDisc(kFourStarts, {20, 0, 0});
}

// Records the order of what the window was told, so a display refresh inside a handler shows.
class RecordingWindow : public TCdPlayerWindow {
public:
    void ProcessMessages() override {
        ++depth;
        TCdPlayerWindow::ProcessMessages();
        --depth;
    }
    int depth = 0;
};

class CdPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        pf::VirtualSoundCard::Instance().ResetAll();
        pf::VirtualMixer::Instance().ResetAll();
        pf::InstallRegistryStore(std::make_shared<pf::VirtualRegistryStore>());
        folder = test::FreshFolder("cdplayer");
        fs::remove(Database());
    }
    void TearDown() override {
        cd.reset();
        eq.reset();
        player.reset();
        fs::remove(Database());
        pf::InstallRegistryStore(nullptr);
    }
    static fs::path Database() { return fs::path(pf::ConfigFolder()) / "cdplayer.ini"; }
    void Create(TCdRoute route = TCdRoute::Analog, bool powerOn = true) {
        player = std::make_unique<TFilePlayer>(playerWindow);
        // Every buffer's work on this thread when the test lets messages run: no races with the clock.
        player->WaveOut().SetCallBackMode(cmWindow);
        eq = std::make_unique<TEqualizerController>(*player, eqWindow, folder.string());
        player->SetEqualizerSide(eq.get());
        cd = std::make_unique<TCdPlayer>(*player, *eq, window, route, &drive);
        if (powerOn) {
            cd->VrSwitch1Change();
        }
    }
    // One poll of the watcher, with the clock moved on by its interval.
    void Tick(int polls = 1) {
        for (int i = 0; i < polls; ++i) {
            timers.Advance(300);
            pf::MessageLoop::Gui().ProcessMessages();
        }
    }
    const TCdPlayerView& V() const { return cd->View(); }
    // Plays and lets the display follow until the disc stands in track `track`.
    void PlayToTrack(int track) {
        cd->RzBmpButton1Click();
        Tick();
        while (V().currentTrack < track) {
            cd->RzBmpButton6Click();
            Tick();
        }
    }

    pf::VirtualTimers timers;
    pf::ScopedTimers scopedTimers{timers};
    pf::ScriptedDialogs dialogs;
    pf::ScopedDialogs scopedDialogs{dialogs};
    pf::VirtualCdDrive drive;
    pf::ScopedCdAudio scopedCd{drive}; // the chain's CD source reads the process's drive
    TFilePlayerWindow playerWindow;
    TEqualizerWindow eqWindow;
    RecordingWindow window;
    std::unique_ptr<TFilePlayer> player;
    std::unique_ptr<TEqualizerController> eq;
    std::unique_ptr<TCdPlayer> cd;
    fs::path folder;
};

TEST_F(CdPlayerTest, CreatedDarkSwitchedOnShowsTheDiscAndPlayThroughTheLineIn) {
    drive.InsertDisc(FourTracks());
    Create(TCdRoute::Analog, false);
    EXPECT_FALSE(V().powerOn);
    EXPECT_FALSE(V().playEnabled || V().trayEnabled || V().wheelEnabled || V().panelsEnabled);
    EXPECT_EQ(V().gridColour, 0x808000u);
    EXPECT_EQ(cd->MMCDInfo1().Interval(), 300);
    EXPECT_NE(cd->MediaPlayer1().DeviceID(), 0);

    cd->VrSwitch1Change();
    EXPECT_TRUE(V().powerOn);
    EXPECT_TRUE(V().playEnabled && V().nextEnabled && V().trayEnabled && V().wheelEnabled);
    EXPECT_FALSE(V().prevEnabled);
    EXPECT_EQ(V().currentTrack, 1);
    EXPECT_EQ(V().trackCount, 4);
    EXPECT_EQ(V().lengthMinutes, 3);
    EXPECT_EQ(V().lengthSeconds, 58);
    EXPECT_EQ(V().seekMax, 3 * 60000 + 58 * 1000);
    EXPECT_EQ(V().stopColour, 0x0000FFu);
    EXPECT_EQ(V().clockHigh, 0xFFFF00u);
    EXPECT_EQ(V().scaleColours, (std::array<std::uint32_t, 3>{0xFFFF00, 0x00FFFF, 0x0000FF}));
    for (int n = 1; n <= 25; ++n) {
        EXPECT_EQ(V().cells[static_cast<std::size_t>(n - 1)], n <= 4) << n;
    }

    cd->RzBmpButton1Click();
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpPlaying);
    EXPECT_EQ(player->ActiveSource(), 2);
    EXPECT_EQ(player->Chain().Volume().Input(), &eq->RingBuffer());
    EXPECT_EQ(player->Connector().Level1(), cd->Level1());
    EXPECT_TRUE(player->WaveOut().State().Contains(wosPlaying));
    EXPECT_FALSE(V().playEnabled);
    EXPECT_TRUE(V().pauseEnabled && V().stopEnabled);
    EXPECT_EQ(V().playColour, 0x00FF00u);
    EXPECT_EQ(V().stopColour, 0x000080u);
    Tick(10); // 3 s
    EXPECT_EQ(V().elapsedSeconds, 3);
    EXPECT_EQ(V().seekPosition, 3000);

    // The wheel sets the chain's volume while the disc is the source.
    cd->MMWheel1Change(8000);
    EXPECT_EQ(player->Chain().Volume().Volume(), 8000);
}

TEST_F(CdPlayerTest, StopThenPlayStartsAtTrackOneAndPauseTwiceResumes) {
    drive.InsertDisc(FourTracks());
    Create();
    PlayToTrack(3);
    EXPECT_EQ(V().currentTrack, 3);
    EXPECT_TRUE(V().prevEnabled);
    Tick(5);

    // Pause: the drive holds, the output stops, the clock stands.
    cd->RzBmpButton2Click();
    EXPECT_TRUE(V().paused);
    EXPECT_EQ(V().pauseColour, 0x00FFFFu);
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpPaused);
    EXPECT_FALSE(player->WaveOut().State().Contains(wosPlaying));
    const int held = V().elapsedSeconds;
    Tick(10);
    EXPECT_EQ(V().elapsedSeconds, held);
    // Pause again: playing on, the output started again.
    cd->RzBmpButton2Click();
    EXPECT_FALSE(V().paused);
    EXPECT_EQ(V().pauseColour, 0x008080u);
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpPlaying);
    EXPECT_TRUE(player->WaveOut().State().Contains(wosPlaying));
    Tick(10);
    EXPECT_EQ(V().elapsedSeconds, held + 3);

    // Stop, then Play: from track 1, 0:00.
    cd->RzBmpButton3Click();
    EXPECT_TRUE(V().playEnabled);
    EXPECT_FALSE(V().pauseEnabled || V().stopEnabled);
    EXPECT_EQ(V().stopColour, 0x0000FFu);
    EXPECT_EQ(V().playColour, 0x008000u);
    EXPECT_EQ(V().elapsedSeconds, 0);
    cd->RzBmpButton1Click();
    EXPECT_EQ(cd->Position(), (TMSF{1, 0, 0, 0}));
    Tick();
    EXPECT_EQ(V().currentTrack, 1);

    // Pause, Stop, Play: the drive plays and the clock runs; the pause ended with the stop.
    cd->RzBmpButton2Click();
    cd->RzBmpButton3Click();
    EXPECT_FALSE(V().paused);
    cd->RzBmpButton1Click();
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpPlaying);
    Tick(10);
    EXPECT_EQ(V().elapsedSeconds, 3);
}

TEST_F(CdPlayerTest, DraggingTheSeekBarTo230InTrack4ResumesThere) {
    drive.InsertDisc(FourTracks());
    Create();
    PlayToTrack(4);
    ASSERT_EQ(V().currentTrack, 4);
    EXPECT_FALSE(V().nextEnabled); // the last track
    EXPECT_EQ(V().lengthMinutes, 8);

    cd->RzTrackBar1MouseDown();
    EXPECT_TRUE(cd->Seeking());
    EXPECT_TRUE(V().paused);
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpPaused);
    cd->RzTrackBar1MouseMove(2 * 60000 + 30 * 1000 + 40);
    EXPECT_EQ(V().elapsedMinutes, 2);
    EXPECT_EQ(V().elapsedSeconds, 30);
    Tick(3); // the poll leaves the dragged bar alone
    EXPECT_EQ(V().seekPosition, 2 * 60000 + 30 * 1000 + 40);
    cd->RzTrackBar1MouseUp();
    EXPECT_FALSE(cd->Seeking());
    EXPECT_FALSE(V().paused);
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpPlaying);
    EXPECT_EQ(cd->Position(), (TMSF{4, 2, 30, 0}));
    EXPECT_TRUE(player->WaveOut().State().Contains(wosPlaying));
    Tick();
    EXPECT_EQ(V().currentTrack, 4);
    EXPECT_EQ(V().elapsedMinutes, 2);
}

TEST_F(CdPlayerTest, NoDiscDoorOpenAndAOneTrackDisc) {
    Create(); // an empty drive
    EXPECT_EQ(V().trackCount, 0);
    EXPECT_EQ(V().currentTrack, 0);
    EXPECT_FALSE(V().playEnabled || V().seekEnabled || V().nextEnabled);
    EXPECT_EQ(V().stopColour, 0x000080u);
    EXPECT_EQ(V().seekTrackColour, 0x000000u);
    cd->RzBmpButton1Click(); // nothing to play: the window does not claim it plays
    EXPECT_EQ(cd->MMCDInfo1().Tag(), 0);
    EXPECT_FALSE(V().stopEnabled);

    drive.OpenDoor();
    Tick();
    EXPECT_TRUE(cd->TrayOpen());
    EXPECT_FALSE(V().playEnabled);
    EXPECT_EQ(V().trackCount, 0);

    // One audio track is a disc.
    drive.InsertDisc(pf::MakeVirtualDisc({{0, 2, 0}}, {45, 0, 0}));
    drive.CloseDoor();
    Tick();
    EXPECT_FALSE(cd->TrayOpen());
    EXPECT_EQ(V().trackCount, 1);
    EXPECT_EQ(V().currentTrack, 1);
    EXPECT_TRUE(V().playEnabled);
    EXPECT_FALSE(V().nextEnabled || V().prevEnabled);
    EXPECT_EQ(V().lengthMinutes, 44);
    EXPECT_EQ(V().lengthSeconds, 58);
    EXPECT_TRUE(V().cells[0]);
    EXPECT_FALSE(V().cells[1]);
    cd->RzBmpButton1Click();
    Tick(4);
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpPlaying);
    EXPECT_EQ(V().elapsedSeconds, 1);
    EXPECT_FALSE(V().nextEnabled);

    // A disc with data only has nothing for this player.
    cd->RzBmpButton3Click();
    pf::VirtualDisc data = pf::MakeVirtualDisc({{0, 2, 0}}, {45, 0, 0});
    data.tracks[0].data = true;
    drive.OpenDoor();
    Tick();
    drive.InsertDisc(data);
    drive.CloseDoor();
    Tick();
    EXPECT_EQ(V().trackCount, 0);
    EXPECT_FALSE(V().playEnabled);
}

TEST_F(CdPlayerTest, TwentySixTracksLeaveTheGridDarkAndTheRestWorks) {
    std::vector<pf::CdMsf> starts;
    for (int t = 0; t < 26; ++t) {
        starts.push_back(pf::FramesToMsf(150 + t * 30 * 75));
    }
    drive.InsertDisc(pf::MakeVirtualDisc(starts, pf::FramesToMsf(150 + 26 * 30 * 75)));
    Create();
    EXPECT_EQ(V().trackCount, 26);
    EXPECT_TRUE(V().playEnabled && V().nextEnabled);
    for (bool cell : V().cells) {
        EXPECT_FALSE(cell);
    }
    PlayToTrack(26);
    EXPECT_EQ(V().currentTrack, 26);
    EXPECT_FALSE(V().nextEnabled);
    EXPECT_EQ(V().lengthSeconds, 30);
    for (bool cell : V().cells) {
        EXPECT_FALSE(cell);
    }
}

TEST_F(CdPlayerTest, TheDatabaseCountNeverLetsNextRunPastTheDisc) {
    const std::string id = ComputeDiscIDOf(kFourStarts, 0);
    // A stale entry claims nine tracks: Next stops at the disc's fourth.
    fs::create_directories(pf::ConfigFolder());
    test::WriteBytes(Database(), "[" + id + "]\nEntryType=1\nnumtracks=9\n");
    drive.InsertDisc(FourTracks());
    Create();
    Tick(); // the watcher reads the entry
    EXPECT_EQ(cd->MMCDInfo1().NumTracks(), 9);
    PlayToTrack(4);
    EXPECT_EQ(V().trackCount, 4);
    EXPECT_FALSE(V().nextEnabled);
    EXPECT_FALSE(cd->MediaPlayer1().Next()); // and the drive has nothing after it

    // An entry of two tracks: Next ends at the second.
    cd->RzBmpButton3Click();
    cd->VrSwitch1Change();
    cd.reset();
    test::WriteBytes(Database(), "[" + id + "]\nEntryType=1\nnumtracks=2\n");
    cd = std::make_unique<TCdPlayer>(*player, *eq, window, TCdRoute::Analog, &drive);
    cd->VrSwitch1Change();
    Tick();
    PlayToTrack(2);
    EXPECT_EQ(V().trackCount, 2);
    EXPECT_FALSE(V().nextEnabled);
}

TEST_F(CdPlayerTest, TheDoorOpenedWhilePlayingStopsAndClosedShowsTheDiscAgain) {
    drive.InsertDisc(FourTracks());
    Create();
    PlayToTrack(2);
    drive.OpenDoor();
    Tick();
    EXPECT_TRUE(cd->TrayOpen());
    EXPECT_EQ(cd->MMCDInfo1().Tag(), 0);
    EXPECT_FALSE(V().playEnabled || V().pauseEnabled || V().stopEnabled || V().nextEnabled);
    EXPECT_EQ(V().stopColour, 0x000080u);
    EXPECT_EQ(V().trackCount, 0);
    EXPECT_FALSE(player->WaveOut().State().Contains(wosPlaying));

    drive.CloseDoor();
    Tick();
    EXPECT_FALSE(cd->TrayOpen());
    EXPECT_EQ(V().trackCount, 4);
    EXPECT_EQ(V().currentTrack, 1);
    EXPECT_TRUE(V().playEnabled);
}

TEST_F(CdPlayerTest, ADoorEventMetWhileStopLetsMessagesRunWaitsUntilStopIsDone) {
    drive.InsertDisc(FourTracks());
    Create();
    PlayToTrack(2);
    const int refreshes = cd->FirstIndCount();
    // A poll is queued and the door opens before Stop lets messages run: the poll meets the door.
    timers.Advance(300);
    drive.OpenDoor();
    cd->RzBmpButton3Click();
    // The door's handler ran after Stop, not inside it: the door-open state stands, not Stop's.
    EXPECT_TRUE(cd->TrayOpen());
    EXPECT_EQ(cd->FirstIndCount(), refreshes + 1);
    EXPECT_FALSE(V().playEnabled);
    EXPECT_FALSE(V().stopEnabled);
    EXPECT_EQ(V().stopColour, 0x000080u);
    EXPECT_EQ(V().trackCount, 0);

    // The tray key, its own messages meeting the door closing.
    drive.InsertDisc(FourTracks());
    timers.Advance(300);
    drive.CloseDoor();
    cd->RzBmpButton7Click(); // opens the door again, refreshing twice; the held close runs after
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpOpen);
}

TEST_F(CdPlayerTest, TheTrayKeyMovesTheDoorAndDoesNothingWithoutADevice) {
    drive.InsertDisc(FourTracks());
    Create();
    PlayToTrack(1);
    cd->RzBmpButton7Click();
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpOpen);
    EXPECT_EQ(V().trackCount, 0);
    EXPECT_FALSE(V().playEnabled || V().stopEnabled);
    Tick();
    EXPECT_TRUE(cd->TrayOpen());
    cd->RzBmpButton7Click();
    Tick();
    EXPECT_NE(cd->MediaPlayer1().Mode(), mpOpen);
    EXPECT_FALSE(cd->TrayOpen());
    EXPECT_EQ(V().trackCount, 4);
    EXPECT_TRUE(V().playEnabled);

    // No device: the key changes nothing at the drive.
    cd.reset();
    pf::VirtualCdFaults faults;
    faults.failOpen = true;
    drive.SetFaults(faults);
    cd = std::make_unique<TCdPlayer>(*player, *eq, window, TCdRoute::Analog, &drive);
    cd->VrSwitch1Change();
    EXPECT_EQ(cd->MediaPlayer1().DeviceID(), 0);
    EXPECT_FALSE(V().driveOpen);
    cd->RzBmpButton7Click();
    Tick(2);
    drive.SetFaults({});
    EXPECT_NE(drive.State().status, pf::CdDriveStatus::TrayOpen);
    EXPECT_EQ(V().trackCount, 0);
    EXPECT_FALSE(V().playEnabled);
}

TEST_F(CdPlayerTest, PowerOffStopsAndDarkensAndDoorEventsKeepItDark) {
    drive.InsertDisc(FourTracks());
    Create();
    PlayToTrack(2);
    cd->VrSwitch1Change();
    EXPECT_FALSE(V().powerOn);
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpStopped);
    EXPECT_EQ(cd->MMCDInfo1().Tag(), 0);
    EXPECT_FALSE(V().playEnabled || V().stopEnabled || V().prevEnabled || V().nextEnabled);
    EXPECT_FALSE(V().trayEnabled || V().wheelEnabled || V().panelsEnabled || V().seekEnabled);
    EXPECT_EQ(V().stopColour, 0x000080u);
    EXPECT_EQ(V().wheelColour, 0x000080u);
    EXPECT_EQ(V().clockHigh, 0x808000u);
    EXPECT_EQ(V().clockLow, 0x000000u);
    EXPECT_EQ(V().captionColour, 0x808000u);
    EXPECT_EQ(V().scaleColours, (std::array<std::uint32_t, 3>{0x808000, 0x008080, 0x000080}));
    EXPECT_EQ(V().seekPosition, 0);
    for (bool cell : V().cells) {
        EXPECT_FALSE(cell);
    }
    // The door moved while off: still dark; on again shows the disc.
    drive.OpenDoor();
    Tick();
    drive.CloseDoor();
    Tick();
    EXPECT_FALSE(V().playEnabled);
    cd->VrSwitch1Change();
    EXPECT_TRUE(V().playEnabled);
    EXPECT_EQ(V().trackCount, 4);
}

TEST_F(CdPlayerTest, ReadDigitallyTheDiscPlaysThroughTheChainWithTheSameKeys) {
    drive.InsertDisc(FourTracks());
    Create(TCdRoute::Digital);
    EXPECT_TRUE(cd->Digital());
    auto& card = pf::VirtualSoundCard::Instance();
    cd->RzBmpButton1Click();
    EXPECT_EQ(player->ActiveSource(), 2);
    EXPECT_EQ(player->Chain().Volume().Input(), &player->Chain().Converter());
    EXPECT_EQ(player->Chain().Converter().Input(), &player->Chain().CdSource());
    EXPECT_TRUE(player->Chain().CdSource().IsSelected());
    EXPECT_TRUE(player->WaveOut().State().Contains(wosPlaying));
    EXPECT_EQ(cd->MediaPlayer1().Mode(), mpStopped); // the drive itself is silent
    // Two seconds of the disc, heard.
    for (int i = 0; i < 40; ++i) {
        card.Advance(2205);
        pf::MessageLoop::Gui().ProcessMessages();
    }
    Tick();
    EXPECT_EQ(V().currentTrack, 1);
    EXPECT_EQ(V().elapsedSeconds, 2);
    bool sound = false;
    for (std::uint8_t b : card.Played()) {
        sound = sound || b != 0;
    }
    EXPECT_TRUE(sound);

    // Pause twice: held, then on from the same place.
    cd->RzBmpButton2Click();
    EXPECT_FALSE(player->WaveOut().State().Contains(wosPlaying));
    EXPECT_EQ(cd->Position().second, 2);
    cd->RzBmpButton2Click();
    EXPECT_TRUE(player->WaveOut().State().Contains(wosPlaying));
    EXPECT_EQ(cd->Position().track, 1);
    EXPECT_EQ(cd->Position().second, 2);

    // Next, then the seek bar to 2:30 in track 2.
    cd->RzBmpButton6Click();
    Tick();
    EXPECT_EQ(V().currentTrack, 2);
    cd->RzTrackBar1MouseDown();
    cd->RzTrackBar1MouseMove(150000);
    cd->RzTrackBar1MouseUp();
    EXPECT_EQ(cd->Position(), (TMSF{2, 2, 30, 0}));
    const int from = pf::MsfToFrames({4, 0, 0}) + 150 * 75;
    EXPECT_EQ(player->Chain().CdSource().LengthMs(),
              static_cast<std::int64_t>(pf::MsfToFrames({20, 0, 0}) - from) * 1000 / 75);

    // Stop, Play: from track 1.
    cd->RzBmpButton3Click();
    EXPECT_FALSE(player->Chain().CdSource().IsSelected());
    cd->RzBmpButton1Click();
    EXPECT_EQ(cd->Position(), (TMSF{1, 0, 0, 0}));
    cd->RzBmpButton3Click();
}

TEST_F(CdPlayerTest, AKeptRouteIsHowTheNextPlayerHearsTheDisc) {
    ASSERT_GT(pf::WaveIn().GetNumDevs(), 0u); // a line input: left to itself, the player uses it
    EXPECT_EQ(StoredCdRoute(), TCdRoute::Auto);
    StoreCdRoute(TCdRoute::Digital);
    EXPECT_EQ(StoredCdRoute(), TCdRoute::Digital);
    Create(StoredCdRoute());
    EXPECT_TRUE(cd->Digital());
    cd.reset();
    eq.reset();
    player.reset();
    StoreCdRoute(TCdRoute::Auto);
    Create(StoredCdRoute());
    EXPECT_FALSE(cd->Digital());
    StoreCdRoute(TCdRoute::Analog);
    EXPECT_EQ(StoredCdRoute(), TCdRoute::Analog);
    // Written by hand: the case does not matter; another word or another type is no choice.
    const auto write = [](const SettingValue& v) {
        WriteSettingValue(pf::HKEY_CURRENT_USER, SettingsKeyPath, settings_value::CDAudio, v);
    };
    write(std::string("DIGITAL"));
    EXPECT_EQ(StoredCdRoute(), TCdRoute::Digital);
    write(std::string("cable"));
    EXPECT_EQ(StoredCdRoute(), TCdRoute::Auto);
    write(std::int32_t{2});
    EXPECT_EQ(StoredCdRoute(), TCdRoute::Auto);
}

} // namespace
} // namespace tunefold
