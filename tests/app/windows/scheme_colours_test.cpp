// Every scheme slot reaches the element it colours: with each slot a colour of its own, the grabbed
// main window and compact panel show, element by element, the colour the scheme table gives it
// with the power off and on, unlit and lit. Unlit dots and segments are drawn as their colour seen
// through the glass (ThroughGlass), so those are checked as that blend of their slot and the glass
// slot. Also: pictures of the main window in two schemes.
#include <gtest/gtest.h>

#include <QTest>

#include <string>

#include "app/controls/blotter_panel.h"
#include "app/controls/dot_matrix.h"
#include "app/controls/lit_label.h"
#include "app/controls/raster_host.h"
#include "app/controls/segment_clock.h"
#include "app/controls/track_bar.h"
#include "app/logic/file_player.h"
#include "app/windows/colour_slots.h"
#include "colour_probe.h"
#include "engine/displays/leds.h"
#include "engine/displays/level.h"
#include "player_windows.h"

namespace tunefold::test {
namespace {

using controls::ColorFromRef;
using controls::LitLabel;
using windows::ThroughGlass;

class SchemeColoursTest : public PlayerWindowsFixture {
protected:
    void SetUp() override {
        PlayerWindowsFixture::SetUp();
        main->show();
        compact->show();
        main->SetColourSlots(colours);
    }
    std::uint32_t Col(int n) const { return colours[static_cast<std::size_t>(n - 1)]; }
    QColor C(int n) const { return ColorFromRef(Col(n)); }
    // Slot `unlit` seen through the glass slot `glass`.
    QColor Glass(int unlit, int glass, int percent) const {
        return ColorFromRef(ThroughGlass(Col(unlit), Col(glass), percent));
    }
    LitLabel& Caption(QWidget& window, const QString& text) {
        for (LitLabel* l : window.findChildren<LitLabel*>()) {
            if (l->Text() == text) {
                return *l;
            }
        }
        ADD_FAILURE() << "no caption " << text.toStdString();
        return *window.findChild<LitLabel*>();
    }
    QWidget& HostOf(QWidget& window, const TMMControl& control) {
        for (controls::RasterHost* h : window.findChildren<controls::RasterHost*>()) {
            if (&h->Control() == &control) {
                return *h;
            }
        }
        ADD_FAILURE() << "no host";
        return window;
    }
    void StartPlaying() {
        Player().SwitchPowerOn();
        Player().OPN(Copy("l3_cbr128_joint_44100.mp3", "tune.mp3"));
        Player().btnPlayClick();
        ASSERT_TRUE(Player().View().playLit);
        Player().Level1().SetValue(100);
        Player().Level2().SetValue(100);
    }

    TColourSlots colours = DistinctColourSlots();
};

TEST_F(SchemeColoursTest, MainWindowPowerOff) {
    ASSERT_FALSE(Player().View().powerOn);
    const QImage img = Grab(*main);
    QWidget& w = *main;
    const int glass = 15; // the backgrounds while the power is off
    // Display backgrounds.
    ExpectColourOn(img, w, *main->VrMatrix1, C(glass), "matrix 1 background", 20);
    ExpectColourOn(img, w, *main->VrMatrix2, C(glass), "matrix 2 background", 20);
    for (QWidget* clock : {main->VrClock1, main->VrClock2, main->VrClock3}) {
        ExpectColourOn(img, w, *clock, C(glass), "clock background", 20);
    }
    ExpectColourOn(img, w, HostOf(w, main->MMLEDPanel1()), C(glass), "PR panel background", 20);
    ExpectColourOn(img, w, *main->Meter1Host(), C(glass), "meter background", 1);
    // Unlit dots, segments and meter zones.
    ExpectColourOn(img, w, *main->VrMatrix1, Glass(21, glass, 35), "matrix unlit dots");
    ExpectColourOn(img, w, HostOf(w, main->MMLEDPanel1()), Glass(21, glass, 25), "PR unlit segments");
    ExpectColourOn(img, w, HostOf(w, main->MMLEDPanel2()), Glass(21, glass, 25), "TR unlit segments");
    ExpectColourOn(img, w, HostOf(w, main->LedBitRate()), Glass(21, glass, 25), "bit rate unlit segments");
    ExpectColourOn(img, w, HostOf(w, main->LedRate()), Glass(21, glass, 25), "rate unlit segments");
    ExpectColourOn(img, w, HostOf(w, main->LedMode()), Glass(22, glass, 35), "mode lamp unlit");
    ExpectColourOn(img, w, *main->Meter1Host(), Glass(25, glass, 50), "meter inactive zone 1");
    ExpectColourOn(img, w, *main->Meter1Host(), Glass(26, glass, 50), "meter inactive zone 2");
    ExpectColourOn(img, w, *main->Meter1Host(), Glass(27, glass, 50), "meter inactive zone 3");
    ExpectColourOn(img, w, *main->ScaleHost(), C(glass), "level scale background", 20);
    ExpectColourOn(img, w, *main->ScaleHost(), C(25), "level scale colour 1, off");
    ExpectColourOn(img, w, *main->ScaleHost(), C(26), "level scale colour 2, off");
    ExpectColourOn(img, w, *main->ScaleHost(), C(27), "level scale colour 3, off");
    // The clocks' lit segments (the time of day always shows) and the labels.
    ExpectColourOn(img, w, *main->VrClock1, C(21), "clock lit segments");
    ExpectColourOn(img, w, *main->Label9, C(24), "PLAY unlit");
    ExpectColourOn(img, w, *main->Label10, C(22), "STOP unlit");
    ExpectColourOn(img, w, *main->Label11, C(23), "PAUSE unlit");
    ExpectColourOn(img, w, *main->lblLayer, C(21), "LAYER unlit");
    for (const char* caption : {"PR", "TR", "CLOCK", "ELAPSED", "LENGTH", "KHz"}) {
        ExpectColourOn(img, w, Caption(w, caption), C(21), std::string("caption ") + caption);
    }
    ExpectColourOn(img, w, *main->lblBitRate, C(21), "caption KBit/s");
    // The glass: its gradient ends in slot 15 (the lower half), its frame is slot 30.
    ExpectColourIn(img, QRect(16, 110, 8, 10), C(15), "glass gradient end", 40);
    ExpectColourIn(img, QRect(14, 14, 378, 2), C(30), "display bevel, off", 300);
}

TEST_F(SchemeColoursTest, MainWindowPowerOnPlaying) {
    StartPlaying();
    // The seek bar half way, so that its lit track shows beside the thumb.
    main->RzTrackBar1->SetRange(0, 100);
    main->RzTrackBar1->SetPosition(50);
    const QImage img = Grab(*main);
    QWidget& w = *main;
    const int glass = 17;
    ExpectColourOn(img, w, *main->VrMatrix1, C(glass), "matrix background", 20);
    ExpectColourOn(img, w, *main->VrMatrix1, C(14), "matrix lit dots (the title)");
    ExpectColourOn(img, w, *main->VrMatrix1, Glass(13, glass, 35), "matrix unlit dots");
    for (QWidget* clock : {main->VrClock1, main->VrClock2, main->VrClock3}) {
        ExpectColourOn(img, w, *clock, C(glass), "clock background", 20);
        ExpectColourOn(img, w, *clock, C(14), "clock lit segments");
        ExpectColourOn(img, w, *clock, Glass(13, glass, 25), "clock unlit segments");
    }
    for (const TMMLEDPanel* panel :
         {&main->MMLEDPanel1(), &main->MMLEDPanel2(), &main->LedBitRate(), &main->LedRate()}) {
        QWidget& host = HostOf(w, *panel);
        ExpectColourOn(img, w, host, C(glass), "LED background", 10);
        ExpectColourOn(img, w, host, C(14), "LED lit segments");
        ExpectColourOn(img, w, host, Glass(13, glass, 25), "LED unlit segments");
    }
    ExpectColourOn(img, w, HostOf(w, main->LedMode()), C(12), "mode lamp lit");
    ExpectColourOn(img, w, *main->ScaleHost(), C(glass), "level scale background", 20);
    ExpectColourOn(img, w, *main->ScaleHost(), C(2), "level scale colour 1, on");
    ExpectColourOn(img, w, *main->ScaleHost(), C(4), "level scale colour 2, on");
    ExpectColourOn(img, w, *main->ScaleHost(), C(6), "level scale colour 3, on");
    for (QWidget* meter : {main->Meter1Host(), main->Meter2Host()}) {
        ExpectColourOn(img, w, *meter, C(2), "meter bar zone 1");
        ExpectColourOn(img, w, *meter, C(4), "meter bar zone 2");
        ExpectColourOn(img, w, *meter, C(6), "meter bar zone 3");
    }
    ExpectColourOn(img, w, *main->Label9, C(8), "PLAY lit");
    ExpectColourOn(img, w, *main->Label10, C(11), "STOP unlit, on");
    ExpectColourOn(img, w, *main->Label11, C(9), "PAUSE unlit, on");
    ExpectColourOn(img, w, *main->lblLayer, C(14), "LAYER lit");
    ExpectColourOn(img, w, *main->lblLayer2, C(14), "layer number lit");
    for (const char* caption : {"PR", "TR", "CLOCK", "ELAPSED", "LENGTH", "KHz"}) {
        ExpectColourOn(img, w, Caption(w, caption), C(14), std::string("caption ") + caption);
    }
    ExpectColourOn(img, w, *main->RzTrackBar1, C(14), "seek bar track, enabled");
    ExpectColourIn(img, QRect(16, 110, 8, 10), C(17), "glass gradient end", 40);
    ExpectColourIn(img, QRect(14, 14, 378, 2), C(20), "display bevel, on", 300);

    // Stopped with the power on: the unlit labels take the "Unactive-ON" slots.
    Player().btnStopClick();
    platform::MessageLoop::Gui().ProcessMessages();
    const QImage stopped = Grab(*main);
    ExpectColourOn(stopped, w, *main->Label9, C(7), "PLAY unlit, on");
    ExpectColourOn(stopped, w, *main->Label10, Player().View().stopLit ? C(12) : C(11), "STOP");
}

TEST_F(SchemeColoursTest, MainWindowPausedAndLayerUnlit) {
    StartPlaying();
    Player().btnPauseClick();
    ASSERT_TRUE(Player().View().pauseLit);
    const QImage img = Grab(*main);
    ExpectColourOn(img, *main, *main->Label11, C(10), "PAUSE lit");
    Player().btnStopClick();
    Player().VrSwitch1Change(false);
    platform::MessageLoop::Gui().ProcessMessages();
    const QImage off = Grab(*main);
    ExpectColourOn(off, *main, *main->Label10, Player().View().stopLit ? C(12) : C(22), "STOP, off");
    ExpectColourOn(off, *main, *main->lblLayer, Player().View().layerLit ? C(14) : C(21), "LAYER, off");
}

TEST_F(SchemeColoursTest, CompactPanelPowerOffAndOn) {
    for (bool on : {false, true}) {
        if (on) {
            StartPlaying();
        }
        const QImage img = Grab(*compact);
        QWidget& w = *compact;
        const int glass = on ? 17 : 15;
        const std::string state = on ? ", on" : ", off";
        ExpectColourOn(img, w, *compact->VrBlotter1, C(glass), "panel background" + state, 100);
        ExpectColourIn(img, QRect(0, 0, compact->width(), 1), C(on ? 20 : 30), "panel bevel" + state, 100);
        for (QWidget* clock : {compact->VrClock2, compact->VrClock3}) {
            ExpectColourOn(img, w, *clock, C(glass), "clock background" + state, 20);
            ExpectColourOn(img, w, *clock, C(on ? 14 : 21), "clock lit segments" + state);
            ExpectColourOn(img, w, *clock, Glass(on ? 13 : 15, glass, 25), "clock unlit segments" + state);
        }
        for (int i = 0; i < 2; ++i) {
            QWidget& host = *compact->CounterHost(i);
            ExpectColourOn(img, w, host, C(glass), "counter background" + state, 10);
            ExpectColourOn(img, w, host, Glass(on ? 13 : 21, glass, 25), "counter unlit segments" + state);
            if (on) {
                ExpectColourOn(img, w, host, C(14), "counter lit segments" + state);
            }
        }
        for (const char* caption : {"ELAPSED", "LENGTH", "PR", "TR"}) {
            ExpectColourOn(img, w, Caption(w, caption), C(on ? 14 : 21),
                           std::string("caption ") + caption + state);
        }
    }
}

TEST_F(SchemeColoursTest, ScreenshotsInTwoSchemes) {
    StartPlaying();
    main->SetColourSlots(windows::StartColourSlots());
    ASSERT_TRUE(SavePng(Grab(*main), "main_window_scheme_standard.png"));
    // A warm scheme: amber on brown glass.
    TColourSlots amber = windows::StartColourSlots();
    for (int n : {2, 8, 10, 12, 14, 20}) {
        amber[static_cast<std::size_t>(n - 1)] = 0x00A0FF; // amber (0x00BBGGRR)
    }
    for (int n : {1, 7, 9, 11, 13, 19, 21, 30}) {
        amber[static_cast<std::size_t>(n - 1)] = 0x004080;
    }
    amber[16] = 0x001020; // Col17, the glass
    amber[17] = 0x103060; // Col18, the top of the gradient
    amber[3] = 0x0060FF;
    amber[5] = 0x0000FF;
    main->SetColourSlots(amber);
    ASSERT_TRUE(SavePng(Grab(*main), "main_window_scheme_amber.png"));
    ASSERT_TRUE(SavePng(Grab(*compact), "compact_scheme_amber.png"));
}

} // namespace
} // namespace tunefold::test
