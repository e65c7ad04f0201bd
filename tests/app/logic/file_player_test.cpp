// The file player's controller without playing: what opening files and lists shows, how the list
// is moved through, and the recent files. Playback and the gap between entries are in
// file_player_threads_test.cpp.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/logic/file_player.h"
#include "app/logic/settings.h"
#include "platform/dialogs.h"
#include "platform/registry.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_registry.h"
#include "platform/virtual/virtual_sound_card.h"
#include "support/files.h"
#include "support/pull.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;

class Window : public TFilePlayerWindow {
public:
    void ProcessMessages() override { ++processed; }
    int processed = 0;
};

class FilePlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::VirtualSoundCard::Instance().ResetAll();
        platform::InstallRegistryStore(store);
        folder = test::FreshFolder("player");
    }
    void TearDown() override {
        player.reset();
        platform::InstallRegistryStore(nullptr);
    }
    TFilePlayer& Player() {
        if (!player) {
            player = std::make_unique<TFilePlayer>(window);
            player->VrSwitch1Change(true);
        }
        return *player;
    }
    std::string Copy(const std::string& fixture, const std::string& name) {
        const fs::path to = folder / name;
        fs::create_directories(to.parent_path());
        fs::copy_file(test::Fixture(fixture), to, fs::copy_options::overwrite_existing);
        return to.string();
    }
    std::string List(const std::string& name, const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& line : lines) {
            text += line + "\r\n";
        }
        test::WriteBytes(folder / name, text);
        return (folder / name).string();
    }
    std::string Stored(const std::string& value) {
        platform::RegistryKey key;
        std::string text;
        if (key.Open(platform::HKEY_CURRENT_USER, SettingsKeyPath, false)) {
            key.ReadString(value, text);
        }
        return text;
    }
    bool Exists(const std::string& value) {
        platform::RegistryKey key;
        return key.Open(platform::HKEY_CURRENT_USER, SettingsKeyPath, false) && key.ValueExists(value);
    }

    std::shared_ptr<platform::VirtualRegistryStore> store =
        std::make_shared<platform::VirtualRegistryStore>();
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scoped{dialogs};
    Window window;
    std::unique_ptr<TFilePlayer> player;
    fs::path folder;
};

TEST_F(FilePlayerTest, AWaveFileShowsItsNameFormatAndLength) {
    const std::string wav = Copy("pcm16_stereo_44100.wav", "a tune with a long name.wav");
    Player().OPN(wav);
    const TFilePlayerView& v = Player().View();
    EXPECT_EQ(v.line1.text, "a tune with a long name.wav");
    EXPECT_TRUE(v.line1.scroll);
    EXPECT_EQ(v.line2.text, "");
    EXPECT_FALSE(v.line2.scroll);
    EXPECT_FALSE(v.layerLit);
    EXPECT_EQ(v.bitRate.value, 16);
    EXPECT_EQ(v.bitRateUnit, "Bit");
    EXPECT_EQ(v.rate.value, 44);
    EXPECT_TRUE(v.stereo);
    EXPECT_TRUE(v.stopLit);
    EXPECT_TRUE(v.Button(TPlayerButton::Play));
    EXPECT_FALSE(v.Button(TPlayerButton::Pause));
    EXPECT_FALSE(v.Button(TPlayerButton::Previous));
    EXPECT_FALSE(v.Button(TPlayerButton::Next));
    EXPECT_EQ(v.entry.value, 1);
    EXPECT_EQ(v.entries.value, 1);
    EXPECT_TRUE(v.trackEnabled);
    EXPECT_EQ(v.length.first, 0);
    EXPECT_EQ(v.length.second, 1); // 1.3 s
    EXPECT_GT(v.trackMax, 1000);
    EXPECT_EQ(Player().ListFileName(), "noname.lst");
    // "LOADING..." was painted before the file was read.
    EXPECT_GE(window.processed, 1);
    EXPECT_EQ(dialogs.AskedCount(), 0u);
}

TEST_F(FilePlayerTest, AnMpegFileShowsItsTagLayerAndMode) {
    Player().OPN(Copy("l3_cbr128_joint_44100.mp3", "joint.mp3"));
    const TFilePlayerView& v = Player().View();
    EXPECT_EQ(v.line1.text, "joint.mp3");
    EXPECT_EQ(v.line2.text, "TITLE: Fixture Title ARTIST: Fixture Artist ALBUM: Fixture Album");
    EXPECT_TRUE(v.line2.scroll);
    EXPECT_TRUE(v.layerLit);
    EXPECT_EQ(v.layerNumber, "III");
    EXPECT_EQ(v.bitRate.value, 128);
    EXPECT_EQ(v.bitRateUnit, "KBit/s");
    EXPECT_EQ(v.rate.value, 44);
    EXPECT_TRUE(v.stereo);

    // Dual channel counts as mono, like a single channel.
    Player().OPN(Copy("l2_dual_256_32000.mp2", "dual.mp2"));
    EXPECT_FALSE(Player().View().stereo);
    EXPECT_EQ(Player().View().layerNumber, "II");
    EXPECT_EQ(Player().View().rate.value, 32);
    EXPECT_EQ(Player().View().line2.text, "TITLE:  ARTIST:  ALBUM: ");

    // A file with only an ID3v2 tag shows its text.
    Player().OPN(Copy("id3v2_utf16.mp3", "utf16.mp3"));
    EXPECT_EQ(Player().View().line2.text, "TITLE: Ελληνικά 日本語 ARTIST: Дмитрий ALBUM: Über");
}

TEST_F(FilePlayerTest, AFiveOneWaveFileOpensAsStereoWithItsSampleWidth) {
    Player().OPN(Copy("pcm24_6ch_96000.wav", "surround.wav"));
    const TFilePlayerView& v = Player().View();
    EXPECT_EQ(v.line1.text, "surround.wav");
    EXPECT_TRUE(v.stereo);
    EXPECT_EQ(v.bitRate.value, 24);
    EXPECT_EQ(v.bitRateUnit, "Bit");
    EXPECT_EQ(v.rate.value, 96);
    EXPECT_TRUE(v.Button(TPlayerButton::Play));
    EXPECT_EQ(dialogs.AskedCount(), 0u);
}

TEST_F(FilePlayerTest, WhatIsNoAudioFileIsReportedOnceAndShowsNoFile) {
    test::WriteBytes(folder / "picture.png", std::string("\x89PNG\r\n\x1a\n\0\0\0", 11));
    test::WriteBytes(folder / "empty.lst", "\r\n\r\n");
    for (const std::string name : {"picture.png", "empty.lst", "missing.wav"}) {
        dialogs.ClearRecord();
        Player().OPN((folder / name).string());
        ASSERT_EQ(dialogs.MessageBoxes().size(), 1u) << name;
        EXPECT_EQ(dialogs.MessageBoxes()[0].text, (folder / name).string() + " is not a valid Audiofile");
        EXPECT_EQ(dialogs.MessageBoxes()[0].icon, platform::MsgIcon::Error);
        EXPECT_EQ(Player().View().line1.text, "NO FILE");
        EXPECT_FALSE(Player().View().Button(TPlayerButton::Play));
        EXPECT_FALSE(Player().View().trackEnabled);
    }
    // A list whose entries are all unplayable: "NO FILE", no message.
    dialogs.ClearRecord();
    Player().OPN(List("gone.m3u", {"#EXTM3U", "nothere.wav", "alsonot.mp3"}));
    EXPECT_EQ(dialogs.AskedCount(), 0u);
    EXPECT_EQ(Player().View().line1.text, "NO FILE");
    EXPECT_EQ(Player().View().entries.value, 0);
}

TEST_F(FilePlayerTest, NextAndPreviousSkipAMissingEntryAndKeepTheirPlaceAtTheEnds) {
    Copy("pcm16_stereo_44100.wav", "one.wav");
    Copy("pcm8_mono_8000.wav", "three.wav");
    // A list made on Linux: LF line ends, an M3U header.
    test::WriteBytes(folder / "three.m3u", "#EXTM3U\none.wav\ntwo.wav\nthree.wav\n");
    Player().OPN((folder / "three.m3u").string());
    EXPECT_EQ(Player().ListFileName(), (folder / "three.m3u").string());
    EXPECT_EQ(Player().View().entry.value, 2); // the header line is an entry, never played
    EXPECT_EQ(Player().View().entries.value, 4);
    EXPECT_TRUE(Player().View().Button(TPlayerButton::Previous));
    EXPECT_TRUE(Player().View().Button(TPlayerButton::Next));

    Player().btnNextClick();
    EXPECT_EQ(Player().ListIndex(), 3u);
    EXPECT_EQ(Player().View().entry.value, 4);
    EXPECT_EQ(Player().View().line1.text, "three.wav");
    EXPECT_FALSE(Player().View().Button(TPlayerButton::Next));
    EXPECT_TRUE(Player().AutoAdvance());

    Player().SetAutoAdvance(false);
    Player().btnNextClick(); // at the end: only the advance is switched on
    EXPECT_EQ(Player().ListIndex(), 3u);
    EXPECT_TRUE(Player().AutoAdvance());

    Player().btnPrevClick();
    EXPECT_EQ(Player().ListIndex(), 1u);
    EXPECT_EQ(Player().View().line1.text, "one.wav");

    // Nothing opens below: the entry it came from is opened again, and the advance stays off.
    Player().btnPrevClick();
    EXPECT_EQ(Player().ListIndex(), 1u);
    EXPECT_EQ(Player().View().line1.text, "one.wav");
    EXPECT_FALSE(Player().AutoAdvance());
}

TEST_F(FilePlayerTest, CountersOfLongListsStopAt99AndListsPastSixteenBitsWork) {
    const std::string wav = Copy("pcm8_mono_8000.wav", "short.wav");
    std::vector<std::string> lines(120, wav);
    Player().OPN(List("hundred.lst", lines));
    EXPECT_EQ(Player().View().entries.value, 99);
    for (int i = 0; i < 104; ++i) {
        Player().btnNextClick();
    }
    EXPECT_EQ(Player().ListIndex(), 104u);
    EXPECT_EQ(Player().View().entry.value, 99);

    // 40,000 entries of which only the last plays: found, and the list keeps every entry.
    std::vector<std::string> many(40000, "missing.wav");
    many.back() = wav;
    Player().OPN(List("many.lst", many));
    EXPECT_EQ(Player().FileList().size(), 40000u);
    EXPECT_EQ(Player().ListIndex(), 39999u);
    EXPECT_EQ(Player().View().line1.text, "short.wav");
    EXPECT_EQ(Player().View().entry.value, 99);
}

TEST_F(FilePlayerTest, AListNameInsideAFolderNameKeepsTheListFileName) {
    const std::string wav = Copy("pcm16_stereo_44100.wav", "old.lst.files/a.wav");
    Player().OPN(List("mine.m3u", {wav}));
    EXPECT_EQ(Player().ListFileName(), (folder / "mine.m3u").string());
    Player().OPN(wav);
    EXPECT_EQ(Player().ListFileName(), (folder / "mine.m3u").string());
    Player().OPN(Copy("pcm16_stereo_44100.wav", "plain.wav"));
    EXPECT_EQ(Player().ListFileName(), "noname.lst");
}

TEST_F(FilePlayerTest, ASeventyFiveMinuteFileShowsFifteenMinutes) {
    // 75 minutes of 8-bit mono at 8 kHz, as a sparse file.
    const std::uint32_t bytes = 75u * 60u * 8000u;
    std::string header = "RIFF";
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put32(36 + bytes);
    header += "WAVEfmt ";
    put32(16);
    header += std::string("\x01\x00\x01\x00", 4);
    put32(8000);
    put32(8000);
    header += std::string("\x01\x00\x08\x00", 4);
    header += "data";
    put32(bytes);
    const fs::path path = folder / "long.wav";
    test::WriteBytes(path, header);
    fs::resize_file(path, header.size() + bytes);
    Player().OPN(path.string());
    EXPECT_EQ(Player().View().length.first, 15);
    EXPECT_EQ(Player().View().length.second, 0);
    EXPECT_EQ(Player().View().trackMax, 75 * 60 * 1000);
    EXPECT_EQ(Player().View().bitRate.value, 8);
    EXPECT_FALSE(Player().View().stereo);
}

TEST_F(FilePlayerTest, PowerOffClearsTheListAndDisablesEverything) {
    Player().OPN(Copy("pcm16_stereo_44100.wav", "a.wav"));
    Player().VrSwitch1Change(false);
    const TFilePlayerView& v = Player().View();
    EXPECT_FALSE(v.powerOn);
    EXPECT_TRUE(Player().FileList().empty());
    for (int b = 0; b < kPlayerButtonCount; ++b) {
        EXPECT_FALSE(v.buttons[static_cast<std::size_t>(b)]) << b;
    }
    EXPECT_EQ(v.line1.text, "");
    EXPECT_FALSE(v.wheelEnabled);
    EXPECT_EQ(v.wheelColour, 128u);
    EXPECT_FALSE(v.trackEnabled);
    EXPECT_FALSE(v.entry.enabled);
    EXPECT_FALSE(v.recentEnabled);
    EXPECT_EQ(v.length.first + v.length.second, 0);

    Player().VrSwitch1Change(true);
    EXPECT_TRUE(Player().View().Button(TPlayerButton::Open));
    EXPECT_TRUE(Player().View().Button(TPlayerButton::Playlist));
    EXPECT_FALSE(Player().View().Button(TPlayerButton::Play));
    EXPECT_EQ(Player().View().wheelColour, 255u);
    EXPECT_TRUE(Player().View().recentEnabled); // a.wav was entered
}

TEST_F(FilePlayerTest, DropsOpenTheFirstFileAndSwitchThePowerOn) {
    const std::string a = Copy("pcm16_stereo_44100.wav", "a.wav");
    const std::string b = Copy("pcm8_mono_8000.wav", "b.wav");
    Player().VrSwitch1Change(false);
    Player().DropFiles({a, b, b});
    EXPECT_TRUE(Player().PowerOn());
    EXPECT_EQ(Player().FileList(), std::vector<std::string>{a});
    EXPECT_EQ(Player().View().line1.text, "a.wav");
}

TEST_F(FilePlayerTest, RecentFilesKeepTheNewestNineAndExactNames) {
    // The first file entered writes all nine values, the eight after the first empty.
    const std::string first = Copy("pcm8_mono_8000.wav", "f0.wav");
    Player().OPN(first);
    EXPECT_EQ(Stored("MRUD1"), first);
    for (int n = 2; n <= 9; ++n) {
        EXPECT_TRUE(Exists("MRUD" + std::to_string(n))) << n;
        EXPECT_EQ(Stored("MRUD" + std::to_string(n)), "");
    }
    EXPECT_TRUE(Player().View().recent[0].visible);
    EXPECT_FALSE(Player().View().recent[1].visible);

    std::vector<std::string> files{first};
    for (int i = 1; i < 10; ++i) {
        files.push_back(Copy("pcm8_mono_8000.wav", "f" + std::to_string(i) + ".wav"));
        Player().OPN(files.back());
    }
    for (int n = 1; n <= 9; ++n) {
        EXPECT_EQ(Stored("MRUD" + std::to_string(n)), files[static_cast<std::size_t>(10 - n)]) << n;
    }
    EXPECT_EQ(Player().View().recent[0].caption, "&1 " + files[9]);
    EXPECT_EQ(Player().View().recent[8].path, files[1]);

    // Opening a listed file again changes nothing; another spelling is another file here.
    Player().OPN(files[5]);
    EXPECT_EQ(Stored("MRUD5"), files[5]);
    EXPECT_EQ(Stored("MRUD1"), files[9]);
    const std::string upper = Copy("pcm8_mono_8000.wav", "F5.wav");
    Player().OPN(upper);
    EXPECT_EQ(Stored("MRUD1"), upper);

    // The item's path is what it opens, whatever its caption holds.
    const std::string amp = Copy("pcm8_mono_8000.wav", "Rock & Roll.wav");
    Player().OPN(amp);
    Player().OPN(files[9]);
    Player().mrud(0);
    EXPECT_EQ(Player().View().line1.text, "Rock & Roll.wav");
}

TEST_F(FilePlayerTest, RecentFilesWithoutAStoreWriteTheNewestOnly) {
    store->SetWriteFails(true);
    Player().OPN(Copy("pcm8_mono_8000.wav", "a.wav"));
    store->SetWriteFails(false);
    EXPECT_FALSE(Exists("MRUD1"));
    EXPECT_FALSE(Player().View().recentEnabled);
    EXPECT_EQ(Player().View().line1.text, "a.wav"); // the store's failure is no failure to open
}

TEST_F(FilePlayerTest, MenuShowAndHideRulesNeverHideTheLastWindow) {
    struct Faces : Window {
        void ShowMain(bool s) override { main = s; }
        void ShowCompact(bool s) override { compact = s; }
        void ShowCover(bool s) override { cover = s; }
        bool MainVisible() const override { return main; }
        bool CompactVisible() const override { return compact; }
        bool main = true, compact = true, cover = false;
    } faces;
    TFilePlayer p(faces);
    p.MainShown(true);
    p.CompactShown(true);
    // With the equalizer hidden, the main window can go only while the panel shows, and the
    // panel only while the main window shows.
    p.ShowFilePlayer1Click();
    EXPECT_FALSE(faces.main);
    p.MainShown(false);
    EXPECT_FALSE(p.View().hideDesktopEnabled);
    p.CompactPanel1Click();
    EXPECT_TRUE(faces.compact);
    p.ShowFilePlayer1Click();
    EXPECT_TRUE(faces.main);
    p.MainShown(true);
    EXPECT_TRUE(p.View().hideDesktopEnabled);

    p.HideDesktop1Click();
    EXPECT_TRUE(faces.cover);
    EXPECT_TRUE(p.View().hideDesktopChecked);
    p.CoverActivated();
    EXPECT_FALSE(faces.cover);
    EXPECT_FALSE(p.View().hideDesktopChecked);
    p.CoverActivated(); // an activation after it closed does nothing
    EXPECT_FALSE(faces.cover);

    p.EscapePressed();
    EXPECT_FALSE(faces.main);
    EXPECT_TRUE(faces.compact);
}

TEST(SplitMillisecondsTest, MinutesAreTakenWithinTheHour) {
    const TSplitTime t = SplitMilliseconds(75 * 60000 + 3000 + 7);
    EXPECT_EQ(t.hours, 1);
    EXPECT_EQ(t.minutes, 15);
    EXPECT_EQ(t.seconds, 3);
    EXPECT_EQ(t.milliseconds, 7);
    const TSplitTime zero = SplitMilliseconds(-5);
    EXPECT_EQ(zero.minutes + zero.seconds + zero.hours + zero.milliseconds, 0);
}

} // namespace
} // namespace tunefold
