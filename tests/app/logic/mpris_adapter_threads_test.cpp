// The media player interface over the file player: calls act as the player's buttons and track
// bar do (and not at all where those are disabled), properties follow the view, and each change is
// reported once. The device's thread plays on the virtual card, held still by its manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "app/logic/file_player.h"
#include "app/logic/mpris_adapter.h"
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

class MprisAdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        Card().ResetAll();
        platform::InstallRegistryStore(std::make_shared<platform::VirtualRegistryStore>());
        folder = test::FreshFolder("mpris");
        player = std::make_unique<TFilePlayer>(window);
        player->VrSwitch1Change(true);
        mpris = std::make_unique<TMprisAdapter>(*player);
        fs::copy_file(test::Fixture("id3v2_utf16.mp3"), folder / "first song.mp3");
        fs::copy_file(test::Fixture("pcm16_stereo_44100.wav"), folder / "second.wav");
        test::WriteBytes(folder / "list.lst", "first song.mp3\r\nsecond.wav\r\n");
        player->OPN((folder / "list.lst").string());
        mpris->Poll();
    }
    void TearDown() override {
        mpris.reset();
        player->btnStopClick();
        platform::MessageLoop::Gui().ProcessMessages();
        player.reset();
        Card().ResetAll();
        platform::InstallRegistryStore(nullptr);
    }
    static platform::VirtualSoundCard& Card() { return platform::VirtualSoundCard::Instance(); }
    bool Playing() { return player->WaveOut().State().Contains(wosPlaying); }
    bool Changed(const TMprisChanges& c, const std::string& name) {
        return std::find(c.properties.begin(), c.properties.end(), name) != c.properties.end();
    }

    platform::VirtualTimers timers;
    platform::ScopedTimers scopedTimers{timers};
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scopedDialogs{dialogs};
    TFilePlayerWindow window;
    std::unique_ptr<TFilePlayer> player;
    std::unique_ptr<TMprisAdapter> mpris;
    fs::path folder;
};

TEST_F(MprisAdapterTest, PropertiesFollowTheViewAndTheFile) {
    const TMprisState s = mpris->State();
    EXPECT_EQ(s.playbackStatus, "Stopped");
    EXPECT_EQ(s.metadata.trackId, "/org/mpris/MediaPlayer2/tunefold/track/0");
    EXPECT_EQ(s.metadata.title, "Ελληνικά 日本語");
    EXPECT_EQ(s.metadata.artist, "Дмитрий");
    EXPECT_EQ(s.metadata.album, "Über");
    EXPECT_EQ(s.metadata.url, FileUrl((folder / "first song.mp3").string()));
    EXPECT_NE(s.metadata.url.find("first%20song.mp3"), std::string::npos);
    EXPECT_EQ(s.metadata.lengthUs, player->View().trackMax * 1000);
    EXPECT_GT(s.metadata.lengthUs, 900000);
    EXPECT_EQ(s.canGoNext, player->View().Button(TPlayerButton::Next));
    EXPECT_TRUE(s.canGoNext);
    EXPECT_FALSE(s.canGoPrevious);
    EXPECT_TRUE(s.canPlay);
    EXPECT_TRUE(s.canSeek);
    EXPECT_DOUBLE_EQ(s.volume, 1.0);
    EXPECT_TRUE(mpris->Poll().properties.empty()) << "nothing changed";
}

TEST_F(MprisAdapterTest, TransportActsAsTheButtonsAndReportsEachChangeOnce) {
    mpris->Play();
    ASSERT_TRUE(Playing());
    auto c = mpris->Poll();
    EXPECT_TRUE(Changed(c, "PlaybackStatus"));
    EXPECT_EQ(mpris->State().playbackStatus, "Playing");
    EXPECT_TRUE(mpris->Poll().properties.empty());

    EXPECT_FALSE(player->View().Button(TPlayerButton::Play));
    EXPECT_TRUE(mpris->State().canPlay) << "a playing file can play";
    mpris->Pause();
    EXPECT_EQ(mpris->State().playbackStatus, "Paused");
    EXPECT_TRUE(mpris->State().canPlay) << "a paused file goes on through Play";
    EXPECT_TRUE(player->WaveOut().State().Contains(wosPaused));
    mpris->PlayPause();
    EXPECT_EQ(mpris->State().playbackStatus, "Playing");
    mpris->Play(); // already playing: goes on, not from the start
    EXPECT_EQ(mpris->State().playbackStatus, "Playing");

    mpris->Next();
    platform::MessageLoop::Gui().ProcessMessages();
    c = mpris->Poll();
    EXPECT_TRUE(Changed(c, "Metadata"));
    EXPECT_EQ(player->ListIndex(), 1u);
    EXPECT_EQ(mpris->State().metadata.title, "second.wav");
    EXPECT_EQ(mpris->State().metadata.trackId, "/org/mpris/MediaPlayer2/tunefold/track/1");
    EXPECT_EQ(mpris->State().canGoPrevious, player->View().Button(TPlayerButton::Previous));
    EXPECT_EQ(mpris->State().playbackStatus, Playing() ? "Playing" : "Stopped");

    mpris->Previous();
    platform::MessageLoop::Gui().ProcessMessages();
    EXPECT_EQ(player->ListIndex(), 0u);
    mpris->Stop();
    platform::MessageLoop::Gui().ProcessMessages();
    EXPECT_FALSE(Playing());
    EXPECT_EQ(mpris->State().playbackStatus, "Stopped");
}

TEST_F(MprisAdapterTest, SeeksGoThroughTheTrackBar) {
    mpris->Play();
    ASSERT_TRUE(Playing());
    mpris->Poll();
    const std::string track = mpris->State().metadata.trackId;
    mpris->SetPosition("/org/mpris/MediaPlayer2/tunefold/track/7", 500000); // a stale track: ignored
    EXPECT_FALSE(mpris->Poll().seeked);
    mpris->SetPosition(track, 1000000);
    EXPECT_EQ(player->View().trackPosition, 1000);
    EXPECT_EQ(player->ElapsedMs(), 1000);
    auto c = mpris->Poll();
    EXPECT_TRUE(c.seeked);
    EXPECT_EQ(c.positionUs, 1000000);
    EXPECT_EQ(mpris->State().playbackStatus, "Playing") << "the bar's release goes on playing";
    mpris->Seek(-400000);
    EXPECT_EQ(mpris->PositionUs(), 600000);
    mpris->Seek(-5000000);
    EXPECT_EQ(mpris->PositionUs(), 0);
    // Past the end is the next entry.
    mpris->Seek(3600000000LL);
    platform::MessageLoop::Gui().ProcessMessages();
    EXPECT_EQ(player->ListIndex(), 1u);
}

TEST_F(MprisAdapterTest, WithThePowerOffNothingActs) {
    mpris->SetVolume(0.5);
    EXPECT_EQ(player->PreVolume(), 8192);
    EXPECT_TRUE(Changed(mpris->Poll(), "Volume"));
    mpris->SetVolume(7.0);
    EXPECT_EQ(player->PreVolume(), 32768);

    player->VrSwitch1Change(false);
    const TMprisState off = mpris->State();
    EXPECT_FALSE(off.canPlay);
    EXPECT_FALSE(off.canGoNext);
    EXPECT_FALSE(off.canSeek);
    mpris->Play();
    mpris->Next();
    mpris->SetVolume(1.0);
    EXPECT_FALSE(Playing());
    EXPECT_EQ(player->PreVolume(), 32768);
}

TEST(MprisUrls, FileUrlsRoundTripAndOthersAreRefused) {
    const std::string path = "/music/Björk & co/100% a#b?.mp3";
    EXPECT_EQ(FileUrl(path), "file:///music/Bj%C3%B6rk%20%26%20co/100%25%20a%23b%3F.mp3");
    EXPECT_EQ(PathOfUrl(FileUrl(path)), path);
    EXPECT_EQ(PathOfUrl("file://localhost/a%20b"), "/a b");
    EXPECT_EQ(PathOfUrl("file://server/share/a.mp3"), "");
    EXPECT_EQ(PathOfUrl("http://example.org/a.mp3"), "");
    EXPECT_EQ(PathOfUrl("file:///a%00b"), "") << "no path holds a NUL";
    EXPECT_EQ(PathOfUrl("file:///50%"), "/50%");
}

} // namespace
} // namespace tunefold
