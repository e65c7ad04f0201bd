// The CD player window driven as a user drives it, on a virtual drive and a virtual clock: hidden
// at start and shown from the menu, the keys and the switch clicked, the seek bar dragged with the
// mouse, the door moved, no drive at all; and its pictures in build/screenshots/.
#include <QAction>
#include <QBuffer>
#include <QTest>

#include <filesystem>

#include "app/controls/calendar_grid.h"
#include "app/controls/curve_chart.h"
#include "app/controls/face_button.h"
#include "app/controls/lit_label.h"
#include "app/controls/power_switch.h"
#include "app/controls/segment_clock.h"
#include "app/controls/track_bar.h"
#include "app/windows/cd_player_window.h"
#include "app/windows/player_menu.h"
#include "engine/displays/leds.h"
#include "equalizer_windows.h"
#include "platform/atomic_file.h"
#include "platform/message_loop.h"
#include "platform/virtual/virtual_cd_drive.h"
#include "platform/virtual/virtual_timers.h"
#include "qt/qt_test_support.h"
#include "qt/screenshot.h"

namespace tunefold::test {
namespace {

namespace pf = platform;

class CdPlayerWindows : public EqualizerWindowsFixture {
protected:
    void TearDown() override {
        cdWindow.reset();
        EqualizerWindowsFixture::TearDown();
    }
    void CreateCd(bool powerOn = true) {
        CreateEqualizer();
        cdWindow = std::make_unique<windows::CdPlayerWindow>(*main, *eqWindow, folder.string(),
                                                             TCdRoute::Analog, &drive);
        if (powerOn) {
            Click(*cdWindow->VrSwitch1);
        }
    }
    void Tick(int polls = 1) {
        for (int i = 0; i < polls; ++i) {
            timers.Advance(300);
            pf::MessageLoop::Gui().ProcessMessages();
        }
    }
    TCdPlayer& Cd() { return cdWindow->Controller(); }
    // The x at which the seek bar stands at `position` or just past it.
    int SeekX(int position) {
        controls::TrackBar& bar = *cdWindow->RzTrackBar1;
        for (int x = 0; x < bar.width(); ++x) {
            if (bar.PositionAt(x) >= position) {
                return x;
            }
        }
        return bar.width() - 1;
    }
    static pf::VirtualDisc FourTracks() {
        return pf::MakeVirtualDisc({{0, 2, 0}, {4, 0, 0}, {8, 0, 0}, {12, 0, 0}}, {20, 0, 0});
    }

    pf::VirtualTimers timers;
    pf::ScopedTimers scopedTimers{timers};
    pf::VirtualCdDrive drive;
    pf::ScopedCdAudio scopedCd{drive};
    std::unique_ptr<windows::CdPlayerWindow> cdWindow;
};

TEST_F(CdPlayerWindows, HiddenAtStartShownFromTheMenuAndPlayedWithTheKeys) {
    drive.InsertDisc(FourTracks());
    CreateCd(false);
    windows::CdPlayerWindow& w = *cdWindow;
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.size(), QSize(545, 182));
    EXPECT_TRUE(w.Shaped());
    for (QWidget* child : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(QRect(0, 0, 545, 182).contains(child->geometry())) << child->metaObject()->className();
    }
    EXPECT_EQ(w.Label9->Text(), "PLAY");
    EXPECT_EQ(w.Label10->Text(), "STOP");
    EXPECT_EQ(w.Label11->Text(), "PAUSE");
    EXPECT_EQ(w.RzBmpButton7->Hint(), "Open...");
    EXPECT_EQ(w.RzBmpButton8->Hint(), "Playlist");
    EXPECT_EQ(w.RzBmpButton9->Hint(), "Recent Files");
    EXPECT_FALSE(w.RzBmpButton1->isEnabled());
    EXPECT_FALSE(w.RzBmpButton7->isEnabled());

    // The menu shows it, above the equalizer window's place.
    main->move(100, 600);
    main->show();
    ASSERT_NE(main->Menu().ShowCdPlayer1, nullptr);
    main->Menu().ShowCdPlayer1->trigger();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.pos(), QPoint(100, 600 - 2 * 182 + 2));

    Click(*w.VrSwitch1);
    EXPECT_TRUE(w.RzBmpButton1->isEnabled());
    EXPECT_TRUE(w.MMLEDPanel1().Enabled());
    EXPECT_EQ(w.MMLEDPanel2().Value(), 4);
    EXPECT_EQ(w.VrCalendar1->LitCount(), 4);
    EXPECT_EQ(w.VrClock3->Text(), "03:58");
    Click(*w.RzBmpButton1);
    EXPECT_FALSE(w.RzBmpButton1->isEnabled());
    EXPECT_TRUE(w.RzBmpButton3->isEnabled());
    EXPECT_EQ(w.Label9->CurrentColor(), QColor(0x00, 0xFF, 0x00));
    Tick(10);
    EXPECT_EQ(w.VrClock2->Text(), "00:03");
    Click(*w.RzBmpButton6);
    Tick();
    EXPECT_EQ(w.MMLEDPanel1().Value(), 2);
    EXPECT_EQ(w.VrCalendar1->LitCount(), 3);
    EXPECT_FALSE(w.VrCalendar1->Lit(1));
    Click(*w.RzBmpButton2);
    EXPECT_EQ(w.Label11->CurrentColor(), QColor(0xFF, 0xFF, 0x00));
    Click(*w.RzBmpButton3);
    EXPECT_TRUE(w.RzBmpButton1->isEnabled());
    EXPECT_EQ(w.Label10->CurrentColor(), QColor(0xFF, 0x00, 0x00));
    Click(*w.RzBmpButton4);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(CdPlayerWindows, DraggingTheSeekBarWithTheMouseTo230InTrack4) {
    drive.InsertDisc(FourTracks());
    CreateCd();
    windows::CdPlayerWindow& w = *cdWindow;
    Click(*w.RzBmpButton1);
    Tick();
    for (int i = 0; i < 3; ++i) {
        Click(*w.RzBmpButton6);
        Tick();
    }
    ASSERT_EQ(w.MMLEDPanel1().Value(), 4);
    controls::TrackBar& bar = *w.RzTrackBar1;
    EXPECT_EQ(bar.Max(), 8 * 60000);
    const int y = bar.height() / 2;
    Press(bar, QPoint(SeekX(bar.Position()), y));
    EXPECT_TRUE(Cd().View().paused);
    Move(bar, QPoint(SeekX(150000), y));
    EXPECT_EQ(w.VrClock2->Text().left(2), "02");
    Release(bar, QPoint(SeekX(150000), y));
    const TMSF at = Cd().Position();
    EXPECT_EQ(at.track, 4);
    EXPECT_EQ(at.minute, 2);
    // The bar's pixels are coarser than seconds: the release lands within one of them of 2:30.
    EXPECT_NEAR(at.second, 30, 2);
    EXPECT_EQ(Cd().MediaPlayer1().Mode(), mpPlaying);
    EXPECT_FALSE(Cd().View().paused);
}

TEST_F(CdPlayerWindows, NoDriveAtAllStillMakesEveryWindowAndTheDriveKeysStayDark) {
    pf::VirtualCdFaults faults;
    faults.failOpen = true;
    drive.SetFaults(faults);
    CreateCd();
    windows::CdPlayerWindow& w = *cdWindow;
    EXPECT_EQ(Cd().MediaPlayer1().DeviceID(), 0);
    EXPECT_FALSE(w.RzBmpButton1->isEnabled());
    EXPECT_FALSE(w.RzBmpButton6->isEnabled());
    EXPECT_FALSE(w.RzTrackBar1->isEnabled());
    Click(*w.RzBmpButton7); // the tray key without a device
    Tick(3);
    EXPECT_EQ(w.MMLEDPanel2().Value(), 0);
    // The rest of the program works: the file player still plays.
    const std::string wav = Copy("pcm16_stereo_44100.wav", "a.wav");
    Player().SwitchPowerOn();
    Player().OPN(wav);
    Player().btnPlayClick();
    EXPECT_TRUE(Playing());
}

TEST_F(CdPlayerWindows, Screenshots) {
    CreateCd();
    cdWindow->show();
    ASSERT_TRUE(SavePng(Shaped(*cdWindow), "cd_player_no_disc.png"));

    drive.InsertDisc(FourTracks());
    drive.OpenDoor();
    Tick();
    drive.CloseDoor();
    Tick();
    Click(*cdWindow->RzBmpButton1);
    Tick();
    Click(*cdWindow->RzBmpButton6);
    Tick();
    Click(*cdWindow->RzBmpButton6);
    Tick(1 + 250); // 75 s into track 3
    ASSERT_EQ(cdWindow->MMLEDPanel1().Value(), 3);
    ASSERT_TRUE(SavePng(Shaped(*cdWindow), "cd_player_track_3.png"));
    ASSERT_TRUE(SavePng(Shaped(*cdWindow, 2.0), "cd_player_track_3@2x.png"));

    drive.OpenDoor();
    Tick();
    EXPECT_TRUE(Cd().TrayOpen());
    ASSERT_TRUE(SavePng(Shaped(*cdWindow), "cd_player_door_open.png"));
}

} // namespace
} // namespace tunefold::test
