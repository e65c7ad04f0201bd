// The equalizer window driven as a user drives it: the real chart dragged with the mouse, the real
// keys and switch clicked, the window shown, hidden and closed, on the virtual card.
#include <QAction>
#include <QTest>

#include <cmath>

#include "app/controls/caption_strip.h"
#include "app/controls/curve_chart.h"
#include "app/controls/face_button.h"
#include "app/controls/lit_label.h"
#include "app/controls/power_switch.h"
#include "app/controls/raster_host.h"
#include "app/controls/rotary_wheel.h"
#include "app/windows/player_menu.h"
#include "equalizer_windows.h"
#include "platform/message_loop.h"
#include "platform/virtual/virtual_wave_in.h"
#include "qt/qt_test_support.h"

namespace tunefold::test {
namespace {

using EqualizerWindows = EqualizerWindowsFixture;

std::vector<controls::FaceButton*> Keys(windows::EqualizerWindow& w) {
    return {w.RzBmpButton7, w.RzBmpButton8, w.RzBmpButton1, w.RzBmpButton2, w.RzBmpButton3};
}

TEST_F(EqualizerWindows, IsShapedCaptionedSitsAboveTheMainWindowAndEscapeAndCloseWork) {
    CreateEqualizer();
    windows::EqualizerWindow& w = *eqWindow;
    EXPECT_EQ(w.size(), QSize(545, 182));
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    ASSERT_TRUE(w.Shaped());
    EXPECT_FALSE(w.mask().contains(QPoint(0, 0)));
    EXPECT_FALSE(w.mask().contains(QPoint(544, 181)));
    EXPECT_TRUE(w.mask().contains(QPoint(272, 91)));
    for (QWidget* child : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(QRect(0, 0, 545, 182).contains(child->geometry())) << child->metaObject()->className();
    }
    EXPECT_EQ(w.Label1->Text(), "OVERFLOW");
    EXPECT_EQ(w.Label2->Text(), "SPECTRUM");
    EXPECT_EQ(w.Label3->Text(), "EQUALIZER");
    EXPECT_EQ(w.Label5->Text(), "FILE PLAYER");
    EXPECT_EQ(w.Label6->Text(), "CD PLAYER");
    EXPECT_EQ(w.Label4->Text(),
              "   32       64        128     256      512        1k        2k        4k       8k"
              "         16k  ");
    const char* db[] = {"+20", "+15", "+6", "0", "-6", "-15", "-20"};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(w.DbLabels[i]->Text(), db[i]);
    }
    // The captions sit in order from the top of the chart down, the frequencies under their bands.
    for (std::size_t i = 1; i < 7; ++i) {
        EXPECT_GT(w.DbLabels[i]->y(), w.DbLabels[i - 1]->y());
    }
    EXPECT_EQ(w.RzBmpButton7->Hint(), "Spectrum");
    EXPECT_EQ(w.RzBmpButton8->Hint(), "Equalizer");
    EXPECT_EQ(w.RzBmpButton1->Hint(), "Reset Equalizer");
    EXPECT_EQ(w.RzBmpButton2->Hint(), "Open Equalizer Settings...");
    EXPECT_EQ(w.RzBmpButton3->Hint(), "Save Equalizer Settings...");
    EXPECT_EQ(w.MMMixerWheel1->toolTip(), "Output Volume Control");
    // Off at creation: the spectrum shows, nothing works but the switch.
    EXPECT_FALSE(w.Chart1->isVisibleTo(&w));
    EXPECT_TRUE(w.SpectrumHost->isVisibleTo(&w));
    EXPECT_FALSE(w.Label6->isVisibleTo(&w));
    for (controls::FaceButton* key : Keys(w)) {
        EXPECT_FALSE(key->isEnabled()) << key->Hint().toStdString();
    }
    EXPECT_FALSE(w.MMMixerWheel1->isEnabled());

    // Shown: above the main window with one pixel of overlap, the menu's mark follows.
    main->move(100, 400);
    main->show();
    w.show();
    EXPECT_EQ(w.pos(), QPoint(100, 400 - 182 + 1));
    EXPECT_TRUE(main->Menu().ShowEqualizer1->isChecked());
    EXPECT_TRUE(main->Menu().HideDesktop1->isEnabled());

    // The face drags the window, as the main window's does.
    Press(w, {470, 60});
    Move(w, {480, 70});
    Release(w, {480, 70});
    EXPECT_EQ(w.pos(), QPoint(110, 400 - 182 + 11));
    w.move(100, 400 - 182 + 1);

    // Escape hides both windows.
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_FALSE(main->isVisible());
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(main->Menu().ShowEqualizer1->isChecked());

    // The menu's item brings it back; closing it closes the line-in route the CD source opened.
    main->show();
    main->Menu().ShowEqualizer1->trigger();
    EXPECT_TRUE(w.isVisible());
    w.RzBmpButton5->Click();
    EXPECT_EQ(Player().ActiveSource(), 2);
    EXPECT_GT(platform::VirtualSoundCard::Instance().Capture().OpenCount(), 0);
    w.close();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(platform::VirtualSoundCard::Instance().Capture().OpenCount(), 0);
}

TEST_F(EqualizerWindows, WithoutSkinTheLoadFailureIsReportedAndTheRestOfCreationStillHappens) {
    Write("normal.eq0", FlatCurve(11.0));
    CreateEqualizer(false);
    EXPECT_FALSE(eqWindow->Shaped());
    EXPECT_TRUE(eqWindow->mask().isEmpty());
    ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
    EXPECT_NE(dialogs.MessageBoxes()[0].text.find("skin0.bmp"), std::string::npos);
    EXPECT_EQ(dialogs.MessageBoxes()[0].icon, platform::MsgIcon::Error);
    // The bands, the start-up curve and its gains are all there.
    ASSERT_EQ(Player().Chain().Equalizer().Filters().Count(), 10);
    for (int band = 0; band < 10; ++band) {
        EXPECT_FLOAT_EQ(Gain(band), 2.0f);
    }
    EXPECT_DOUBLE_EQ(Eq().PixelScale(), 240.0 / 99.0);
}

TEST_F(EqualizerWindows, DraggingABandPointOnTheChartSendsTheGainsOnEveryMove) {
    CreateEqualizer();
    windows::EqualizerWindow& w = *eqWindow;
    Click(*w.VrSwitch1);
    ASSERT_TRUE(w.RzBmpButton8->isEnabled());
    Click(*w.RzBmpButton8);
    ASSERT_TRUE(w.Chart1->isVisibleTo(&w));
    EXPECT_TRUE(w.RzBmpButton1->isEnabled() && w.RzBmpButton2->isEnabled() && w.RzBmpButton3->isEnabled());
    EXPECT_FALSE(w.RzBmpButton8->isEnabled());

    // A press on the curve between two points grabs nothing.
    controls::CurveChart& chart = *w.Chart1;
    const QPoint between = (BandPixel(2) + BandPixel(3)) / 2;
    Press(chart, between);
    Move(chart, between - QPoint(0, 20));
    Release(chart, between - QPoint(0, 20));
    EXPECT_FLOAT_EQ(Gain(2), 0.0f);

    // Band 3 grabbed with the right button (any button grabs), dragged up 10 pixels: every move is
    // heard at once, the neighbours follow by a quarter.
    const QPoint start = BandPixel(2);
    Press(chart, start, Qt::RightButton);
    EXPECT_EQ(chart.PointBrush(), QColor(Qt::yellow));
    const double perPixel = 240.0 / 99.0 / 5.5;
    for (int dy = 1; dy <= 10; ++dy) {
        Move(chart, start - QPoint(0, dy), Qt::RightButton);
        EXPECT_NEAR(Gain(2), dy * perPixel, 1e-4) << dy;
    }
    EXPECT_NEAR(Gain(1), 10 * perPixel * std::exp(-0.5 * (10.0 / 6) * (10.0 / 6)), 1e-4);
    EXPECT_NEAR(Gain(3), Gain(1), 1e-6);
    EXPECT_NEAR(Gain(0), 10 * perPixel * std::exp(-0.5 * (20.0 / 6) * (20.0 / 6)), 1e-4);
    // The drawn point followed the pointer.
    EXPECT_NEAR(BandPixel(2).y(), start.y() - 10, 1);
    Release(chart, start - QPoint(0, 10), Qt::RightButton);
    EXPECT_NE(chart.PointBrush(), QColor(Qt::yellow));
    // Moves after the release change nothing.
    Move(chart, start - QPoint(0, 40), Qt::NoButton);
    EXPECT_NEAR(Gain(2), 10 * perPixel, 1e-4);

    // Reset flattens what is seen and heard.
    Click(*w.RzBmpButton1);
    for (int band = 0; band < 10; ++band) {
        EXPECT_FLOAT_EQ(Gain(band), 0.0f);
    }
}

TEST_F(EqualizerWindows, SixSpectrumClicksStepThroughEveryKindBackToTheFirst) {
    CreateEqualizer();
    windows::EqualizerWindow& w = *eqWindow;
    Click(*w.VrSwitch1);
    Click(*w.RzBmpButton8);
    // From the curve the first click only shows the spectrum.
    Click(*w.RzBmpButton7);
    EXPECT_FALSE(w.Chart1->isVisibleTo(&w));
    EXPECT_TRUE(w.SpectrumHost->isVisibleTo(&w));
    EXPECT_FALSE(w.RzBmpButton1->isEnabled() || w.RzBmpButton2->isEnabled() || w.RzBmpButton3->isEnabled());
    EXPECT_EQ(Eq().Spectrum().Kind(), skScroll);
    const TMMSpectrumKind order[] = {skBars, skDots, skLines, skPeaks, skVLines, skScroll};
    for (TMMSpectrumKind kind : order) {
        Click(*w.RzBmpButton7);
        EXPECT_EQ(Eq().Spectrum().Kind(), kind);
    }
    EXPECT_EQ(Eq().View().spectrumKindIndex, 1);
}

TEST_F(EqualizerWindows, PowerOffWhilePlayingStopsThePlayerAndKeepsTheGains) {
    Write("normal.eq0", FlatCurve(-22.0));
    CreateEqualizer();
    windows::EqualizerWindow& w = *eqWindow;
    const std::string wav = Copy("pcm16_stereo_44100.wav", "a.wav");
    Click(*main->VrSwitch1);
    Player().OPN(wav);
    Click(*main->RzBmpButton1);
    ASSERT_TRUE(Playing());
    // Play turned the panel on.
    EXPECT_TRUE(w.VrSwitch1->IsOn());
    Click(*w.RzBmpButton8);
    ASSERT_TRUE(w.Chart1->isVisibleTo(&w));

    Click(*w.VrSwitch1);
    EXPECT_FALSE(Playing());
    EXPECT_FALSE(main->RzBmpButton3->isEnabled()); // the player's Stop was clicked
    EXPECT_FALSE(w.Chart1->isVisibleTo(&w));
    for (controls::FaceButton* key : Keys(w)) {
        EXPECT_FALSE(key->isEnabled()) << key->Hint().toStdString();
    }
    EXPECT_FALSE(w.MMMixerWheel1->isEnabled());
    EXPECT_EQ(w.MMMixerWheel1->HandleColor(), QColor(0x80, 0, 0));
    EXPECT_FLOAT_EQ(Gain(4), -4.0f);

    // Off again with nothing playing leaves the player alone; on lights the wheel red.
    Click(*w.VrSwitch1);
    EXPECT_EQ(w.MMMixerWheel1->HandleColor(), QColor(0xff, 0, 0));
    EXPECT_TRUE(w.RzBmpButton7->isEnabled() && w.RzBmpButton8->isEnabled());
}

TEST_F(EqualizerWindows, TheCdSwitchWithThePlayerStoppedOnlyRelinksAndStartsBothDevices) {
    CreateEqualizer();
    windows::EqualizerWindow& w = *eqWindow;
    const std::string wav = Copy("pcm16_stereo_44100.wav", "a.wav");
    Click(*main->VrSwitch1);
    Player().OPN(wav);
    ASSERT_FALSE(Playing());
    const QColor filePlayer = w.Label5->CurrentColor();
    w.RzBmpButton5->Click();
    EXPECT_EQ(Player().ActiveSource(), 2);
    EXPECT_EQ(Player().Chain().Volume().Input(), &Eq().RingBuffer());
    EXPECT_NE(Eq().WaveIn().State() & wisStarted, 0);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(w.Label5->CurrentColor(), QColor(0, 0x80, 0));
    // The file is still loaded and the player was not stopped (it was not playing).
    EXPECT_TRUE(main->RzBmpButton1->isEnabled());
    // "PL" gives the chain back.
    w.RzBmpButton6->Click();
    EXPECT_EQ(Player().ActiveSource(), 1);
    EXPECT_EQ(Player().Chain().Volume().Input(), &Player().Chain().Converter());
    EXPECT_EQ(w.Label5->CurrentColor(), filePlayer);
}

TEST_F(EqualizerWindows, TheOutputWheelTurnsTheMasterVolumeAndFollowsOtherProgramsWhileThePanelIsOn) {
    CreateEqualizer();
    windows::EqualizerWindow& w = *eqWindow;
    auto& mixer = platform::VirtualMixer::Instance();
    EXPECT_FALSE(w.MMMixerWheel1->isEnabled());
    Click(*w.VrSwitch1);
    ASSERT_TRUE(w.MMMixerWheel1->isEnabled());
    EXPECT_EQ(w.MMMixerWheel1->Max(), Eq().MixerWheel().Max());

    // Another program sets the master volume: the knob moves.
    mixer.ExternalChange(0, 1, {20000, 20000});
    platform::MessageLoop::Gui().ProcessMessages();
    EXPECT_EQ(w.MMMixerWheel1->Value(), Eq().MixerWheel().Value());
    const int moved = w.MMMixerWheel1->Value();
    EXPECT_GT(moved, 0);
    // Turned here: the sound card's volume follows.
    w.MMMixerWheel1->SetValue(moved / 2);
    platform::MessageLoop::Gui().ProcessMessages();
    EXPECT_NEAR(static_cast<double>(mixer.Values(0, 1)[0]), 10000.0, 700.0);
    EXPECT_EQ(w.MMMixerWheel1->Value(), moved / 2);

    Click(*w.VrSwitch1);
    EXPECT_FALSE(w.MMMixerWheel1->isEnabled());
}

TEST_F(EqualizerWindows, EveryShowingWithoutAFullDuplexDeviceSaysSoInTwoLinesForStereoOneForMono) {
    CreateEqualizer();
    windows::EqualizerWindow& w = *eqWindow;
    main->show();
    w.show();
    EXPECT_TRUE(dialogs.MessageBoxes().empty());
    w.hide();
    // Shown again while the player plays on the same device: still no message.
    const std::string wav = Copy("pcm16_stereo_44100.wav", "a.wav");
    Click(*main->VrSwitch1);
    Player().OPN(wav);
    Click(*main->RzBmpButton1);
    ASSERT_TRUE(Playing());
    w.show();
    EXPECT_TRUE(dialogs.MessageBoxes().empty());
    Click(*main->RzBmpButton3);
    w.hide();
    const bool on = w.VrSwitch1->IsOn();
    platform::VirtualWaveInFaults faults;
    faults.open.code = MMSYSERR_ALLOCATED;
    platform::VirtualSoundCard::Instance().Capture().SetFaults(faults);
    w.show();
    ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
    EXPECT_EQ(dialogs.MessageBoxes()[0].text, "You need a \"Full-Duplex\" device to run this demo\n\r"
                                              "Some older devices do not support Full-Duplex in stereo.");
    EXPECT_EQ(dialogs.MessageBoxes()[0].buttons, platform::MsgButtons::Ok);
    w.hide();
    Eq().WaveIn().SetMode(mMono);
    w.show();
    ASSERT_EQ(dialogs.MessageBoxes().size(), 2u);
    EXPECT_EQ(dialogs.MessageBoxes()[1].text, "You need a \"Full-Duplex\" device to run this demo");
    platform::VirtualSoundCard::Instance().Capture().SetFaults({});
    // Nothing else changed: the window is shown, the panel as it was.
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.VrSwitch1->IsOn(), on);
}

} // namespace
} // namespace tunefold::test
