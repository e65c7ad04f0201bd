// The file player playing: the device's thread plays on the virtual card, its events reach the GUI
// thread, and the gap between entries runs on a clock the test moves.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/logic/file_player.h"
#include "platform/message_loop.h"
#include "platform/mm_timer.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_registry.h"
#include "platform/virtual/virtual_sound_card.h"
#include "platform/virtual/virtual_timers.h"
#include "support/files.h"
#include "support/pull.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;

class PlayingTest : public ::testing::Test {
protected:
    void SetUp() override {
        Card().ResetAll();
        platform::InstallRegistryStore(std::make_shared<platform::VirtualRegistryStore>());
        folder = test::FreshFolder("playing");
        player = std::make_unique<TFilePlayer>(window);
        player->VrSwitch1Change(true);
    }
    void TearDown() override {
        player.reset();
        Card().ResetAll();
        platform::InstallRegistryStore(nullptr);
    }
    static platform::VirtualSoundCard& Card() { return platform::VirtualSoundCard::Instance(); }
    std::string Copy(const std::string& fixture, const std::string& name) {
        fs::copy_file(test::Fixture(fixture), folder / name, fs::copy_options::overwrite_existing);
        return (folder / name).string();
    }
    bool Playing() { return player->WaveOut().State().Contains(wosPlaying); }
    // Lets the card play to the end of the stream and the stop reach the GUI thread.
    bool PlayToTheEnd() {
        Card().SetClock(platform::VirtualClock::Fast);
        const bool ended = platform::MessageLoop::Gui().ProcessUntil([&] { return !Playing(); }, 60000);
        Card().SetClock(platform::VirtualClock::Manual);
        platform::MessageLoop::Gui().ProcessMessages();
        return ended;
    }
    // The gap's clock: the pause timer posts its tick, the GUI thread runs it.
    void AdvanceGap(UINT ms) {
        timers.Advance(ms);
        platform::MessageLoop::Gui().ProcessMessages();
    }

    platform::VirtualTimers timers;
    platform::ScopedTimers scopedTimers{timers};
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scopedDialogs{dialogs};
    TFilePlayerWindow window;
    std::unique_ptr<TFilePlayer> player;
    fs::path folder;
};

TEST_F(PlayingTest, AutoAdvanceSkipsAMissingEntryAfterATwoSecondGapAndStopsAtTheEnd) {
    Copy("pcm8_mono_8000.wav", "one.wav");
    Copy("pcm8_mono_8000.wav", "three.wav");
    test::WriteBytes(folder / "list.lst", "one.wav\r\ntwo.wav\r\nthree.wav\r\n");
    player->OPN((folder / "list.lst").string());
    player->btnPlayClick();
    ASSERT_TRUE(Playing());
    EXPECT_TRUE(player->View().playLit);
    EXPECT_FALSE(player->View().Button(TPlayerButton::Play));
    EXPECT_TRUE(player->View().Button(TPlayerButton::Stop));
    EXPECT_FALSE(player->View().preferencesEnabled);

    ASSERT_TRUE(PlayToTheEnd());
    // The third entry is loaded and waits out the gap.
    EXPECT_EQ(player->ListIndex(), 2u);
    EXPECT_EQ(player->View().entry.value, 3);
    EXPECT_EQ(player->View().entries.value, 3);
    EXPECT_TRUE(player->GapPending());
    EXPECT_TRUE(player->View().stopLit);
    EXPECT_TRUE(player->View().preferencesEnabled);
    EXPECT_EQ(player->WaveOut().State(), TMMWaveOutState{}); // closed between the entries
    AdvanceGap(1999);
    EXPECT_FALSE(Playing());
    AdvanceGap(1);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(player->View().line1.text, "three.wav");

    // After the last entry the first is loaded again and nothing plays.
    ASSERT_TRUE(PlayToTheEnd());
    EXPECT_FALSE(player->GapPending());
    EXPECT_EQ(player->ListIndex(), 0u);
    EXPECT_EQ(player->View().line1.text, "one.wav");
    EXPECT_TRUE(player->View().stopLit);
    AdvanceGap(5000);
    EXPECT_FALSE(Playing());
    player->btnPlayClick();
    EXPECT_TRUE(Playing());
    player->btnStopClick();
    platform::MessageLoop::Gui().ProcessMessages();
}

TEST_F(PlayingTest, StopOrPowerOffDuringTheGapCancelsTheNextStart) {
    Copy("pcm8_mono_8000.wav", "one.wav");
    Copy("pcm8_mono_8000.wav", "two.wav");
    test::WriteBytes(folder / "list.lst", "one.wav\r\ntwo.wav\r\none.wav\r\n");
    for (bool powerOff : {false, true}) {
        player->SwitchPowerOn();
        player->OPN((folder / "list.lst").string());
        player->btnPlayClick();
        ASSERT_TRUE(PlayToTheEnd());
        ASSERT_TRUE(player->GapPending());
        if (powerOff) {
            player->VrSwitch1Change(false);
        } else {
            player->btnStopClick();
        }
        AdvanceGap(4000);
        EXPECT_FALSE(Playing()) << (powerOff ? "power off" : "stop");
        EXPECT_FALSE(player->GapPending());
    }
}

TEST_F(PlayingTest, PlayOfAFileThatVanishedShowsNoFileAndStartsNothing) {
    const std::string wav = Copy("pcm8_mono_8000.wav", "gone.wav");
    player->OPN(wav);
    fs::remove(wav);
    player->btnPlayClick();
    EXPECT_FALSE(Playing());
    EXPECT_EQ(Card().OpenCount(), 0);
    EXPECT_EQ(player->View().line1.text, "NO FILE");
    EXPECT_FALSE(player->View().Button(TPlayerButton::Play));
}

TEST_F(PlayingTest, PauseSeekAndTheElapsedClock) {
    player->OPN(Copy("pcm16_stereo_44100.wav", "a.wav"));
    player->btnPlayClick();
    ASSERT_TRUE(Playing());
    player->btnPauseClick();
    EXPECT_TRUE(player->View().pauseLit);
    player->btnPauseClick();
    EXPECT_FALSE(player->View().pauseLit);

    // Drag the track bar to 1 s: the source moves there, the clock shows it, and after the
    // release the device counts from 0 again on top of the seek's base.
    player->RzTrackBar1MouseDown();
    EXPECT_TRUE(player->WaveOut().State().Contains(wosPaused));
    player->RzTrackBar1MouseMove(1000);
    EXPECT_EQ(player->ElapsedMs(), 1000);
    EXPECT_EQ(player->View().elapsed.second, 1);
    EXPECT_EQ(player->Chain().WaveFile().Wave().Position(), 1000);
    player->RzTrackBar1MouseUp();
    EXPECT_FALSE(player->WaveOut().State().Contains(wosPaused));
    Card().Advance(44100 / 10); // 100 ms
    for (int i = 0; i < 5; ++i) {
        player->HiTimerTimer();
    }
    EXPECT_GE(player->View().trackPosition, 1000);
    EXPECT_LE(player->View().trackPosition, 1200);
    EXPECT_GE(player->ElapsedMs(), 1000);

    // A refill running on the device's thread at that moment finishes the stop on the GUI thread.
    player->btnStopClick();
    EXPECT_TRUE(platform::MessageLoop::Gui().ProcessUntil([&] { return !Playing(); }, 5000));
    EXPECT_EQ(player->View().trackPosition, 0);
    EXPECT_EQ(player->View().elapsed.first + player->View().elapsed.second, 0);
    // The device is left closed, so the preferences can change its settings.
    EXPECT_EQ(Card().OpenCount(), 0);
    EXPECT_NO_THROW(player->WaveOut().SetDeviceID(0));
}

TEST_F(PlayingTest, OpeningAnotherFileStopsWhatPlays) {
    player->OPN(Copy("pcm16_stereo_44100.wav", "a.wav"));
    player->btnPlayClick();
    ASSERT_TRUE(Playing());
    player->OPN(Copy("pcm8_mono_8000.wav", "b.wav"));
    platform::MessageLoop::Gui().ProcessMessages();
    EXPECT_FALSE(Playing());
    EXPECT_FALSE(player->AutoAdvance());
    EXPECT_EQ(player->View().line1.text, "b.wav");
    EXPECT_TRUE(player->View().Button(TPlayerButton::Play));
}

} // namespace
} // namespace tunefold
