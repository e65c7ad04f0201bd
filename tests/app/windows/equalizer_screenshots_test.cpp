// Pictures of the equalizer window for a person to look at, written to build/screenshots/: the
// curve after a drag, and every spectrum kind while music plays.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QScreen>

#include <filesystem>
#include <string>

#include "app/controls/curve_chart.h"
#include "app/controls/face_button.h"
#include "app/controls/power_switch.h"
#include "app/controls/raster_host.h"
#include "equalizer_windows.h"
#include "platform/atomic_file.h"
#include "qt/qt_test_support.h"
#include "qt/screenshot.h"

namespace tunefold::test {
namespace {

class EqualizerScreenshots : public EqualizerWindowsFixture {};

TEST_F(EqualizerScreenshots, CurveAfterADragAndEverySpectrumKindWhilePlaying) {
    CreateEqualizer();
    windows::EqualizerWindow& w = *eqWindow;
    ASSERT_TRUE(SavePng(Shaped(w), "equalizer_off.png"));

    Click(*w.VrSwitch1);
    Click(*w.RzBmpButton8);
    controls::CurveChart& chart = *w.Chart1;
    // Bass up, presence down.
    QPoint p = BandPixel(1);
    Press(chart, p);
    Move(chart, p - QPoint(0, 25));
    Release(chart, p - QPoint(0, 25));
    p = BandPixel(7);
    Press(chart, p);
    Move(chart, p + QPoint(0, 18));
    ASSERT_TRUE(SavePng(Shaped(w), "equalizer_curve_dragging.png"));
    Release(chart, p + QPoint(0, 18));
    ASSERT_TRUE(SavePng(Shaped(w), "equalizer_curve_after_drag.png"));
    ASSERT_TRUE(SavePng(Shaped(w, 2.0), "equalizer_curve_after_drag@2x.png"));
    EXPECT_GT(Gain(1), 5.0f);
    EXPECT_LT(Gain(7), -3.0f);

    // The build's demo piece if there is one, else a fixture, playing in real time.
    const std::string demo = std::string(TUNEFOLD_BINARY_DIR) + "/tools/tunefold-demo.mp3";
    const std::string track =
        std::filesystem::is_regular_file(demo)
            ? (std::filesystem::copy_file(demo, folder / "demo.mp3"), (folder / "demo.mp3").string())
            : Copy("l3_cbr128_joint_44100.mp3", "demo.mp3");
    platform::VirtualSoundCard::Instance().SetClock(platform::VirtualClock::RealTime);
    Click(*main->VrSwitch1);
    Player().OPN(track);
    Click(*main->RzBmpButton1);
    ASSERT_TRUE(Playing());
    const char* names[] = {"scroll", "bars", "dots", "lines", "peaks", "vlines"};
    // From the curve the first click shows the spectrum in its first kind, each further one steps on.
    for (int kind = 0; kind < 6; ++kind) {
        Click(*w.RzBmpButton7);
        ASSERT_TRUE(w.SpectrumHost->isVisibleTo(&w));
        const int from = Eq().Spectrum().InvalidateCount();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return Eq().Spectrum().InvalidateCount() > from + 8 && Eq().Spectrum().LoudestValue() > 0;
            },
            10000))
            << names[kind] << ": " << Eq().Spectrum().InvalidateCount() - from << " invalidations, loudest "
            << Eq().Spectrum().LoudestValue() << ", playing " << Playing();
        ASSERT_TRUE(SavePng(Shaped(w), std::string("equalizer_spectrum_") + names[kind] + ".png"));
    }

    // On a real X server: both windows as the desktop shows them, the equalizer sitting on the
    // main window.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        main->move(100, 400);
        main->show();
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        QTest::qWait(300); // let both paint once more
        const QImage desk = QGuiApplication::primaryScreen()
                                ->grabWindow(0, 90, 400 - 182 + 1 - 10, 567, 182 * 2 + 19)
                                .toImage();
        ASSERT_TRUE(SavePng(desk, "equalizer_above_main.png"));
    }
}

} // namespace
} // namespace tunefold::test
