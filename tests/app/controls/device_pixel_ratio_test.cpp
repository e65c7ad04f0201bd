// Every control paints in logical coordinates: at a device pixel ratio of 2 it covers twice the
// pixels in each direction with the same picture. The pixel-art ones match pixel for pixel; the
// antialiased ones (knob, key symbols) match in shape.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "app/controls/bevel_panel.h"
#include "app/controls/dot_matrix.h"
#include "app/controls/face_button.h"
#include "app/controls/gradient_panel.h"
#include "app/controls/lit_label.h"
#include "app/controls/power_switch.h"
#include "app/controls/raster_host.h"
#include "app/controls/rotary_wheel.h"
#include "app/controls/segment_clock.h"
#include "app/controls/track_bar.h"
#include "engine/displays/leds.h"
#include "qt/qt_test_support.h"

namespace tunefold::controls {
namespace {

// Each device pixel of the double-size picture against its logical pixel: how many differ by more
// than `tolerance` in a channel (gradients take finer steps at 2, edges are antialiased).
int Mismatches(const QImage& one, const QImage& two, int tolerance) {
    int bad = 0;
    for (int y = 0; y < two.height(); ++y) {
        for (int x = 0; x < two.width(); ++x) {
            const QRgb a = two.pixel(x, y), b = one.pixel(x / 2, y / 2);
            bad += std::abs(qRed(a) - qRed(b)) > tolerance || std::abs(qGreen(a) - qGreen(b)) > tolerance ||
                   std::abs(qBlue(a) - qBlue(b)) > tolerance;
        }
    }
    return bad;
}

void ExpectSameAtTwo(QWidget& w, double allowedShare, const char* name) {
    // Pixel art must match exactly; the rest in shape.
    const int tolerance = allowedShare == 0.0 ? 0 : 40;
    const QImage one = test::Render(w, 1.0);
    const QImage two = test::Render(w, 2.0);
    ASSERT_EQ(two.size(), one.size() * 2) << name;
    ASSERT_EQ(one.size(), w.size()) << name;
    const int bad = Mismatches(one, two, tolerance);
    EXPECT_LE(bad, static_cast<int>(allowedShare * two.width() * two.height())) << name;
}

TEST(DevicePixelRatio, ControlsPaintTheSamePictureAtOneAndTwo) {
    DotMatrix matrix(12);
    matrix.SetText(QStringLiteral("NO FILE"));
    ExpectSameAtTwo(matrix, 0.0, "dot matrix");

    SegmentClock clock;
    clock.SetFirst(15);
    clock.SetSecond(3);
    ExpectSameAtTwo(clock, 0.0, "clock");

    LitLabel label(QStringLiteral("PLAY"));
    label.SetBackColor(QColor(0x08, 0x12, 0x10));
    label.SetLit(true);
    ExpectSameAtTwo(label, 0.0, "label");

    BevelPanel bevel;
    bevel.resize(40, 20);
    bevel.SetInner(BevelStyle::Lowered);
    ExpectSameAtTwo(bevel, 0.0, "bevel panel");

    TMMLEDPanel panel;
    panel.SetValue(12);
    RasterHost host(panel);
    ExpectSameAtTwo(host, 0.0, "raster host");

    TrackBar track;
    track.resize(120, 14);
    track.SetRange(0, 10);
    track.SetPosition(4);
    ExpectSameAtTwo(track, 0.02, "track bar");

    PowerSwitch power;
    power.resize(power.sizeHint());
    power.SetPosition(1);
    ExpectSameAtTwo(power, 0.02, "power switch");

    GradientPanel gradient;
    gradient.resize(40, 30);
    ExpectSameAtTwo(gradient, 0.01, "gradient"); // twice the steps: shades differ, not shape

    FaceButton button(FaceButton::Symbol::Play);
    button.resize(30, 22);
    ExpectSameAtTwo(button, 0.04, "face button");

    RotaryWheel wheel;
    wheel.resize(48, 48);
    wheel.SetValue(30);
    ExpectSameAtTwo(wheel, 0.08, "wheel");
}

TEST(DevicePixelRatio, BitmapFacesStayCrispAtTwo) {
    // A two-frame strip of 2 x 2 checks: scaled by whole pixels, no blending.
    QImage strip(8, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            strip.setPixel(x, y, ((x / 2 + y / 2) % 2) != 0 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
        }
    }
    FaceButton b;
    b.resize(4, 4);
    b.SetFaces(strip, 2);
    const QImage two = test::Render(b, 2.0);
    for (int y = 0; y < two.height(); ++y) {
        for (int x = 0; x < two.width(); ++x) {
            const QRgb want = ((x / 4 + y / 4) % 2) != 0 ? qRgb(255, 0, 0) : qRgb(0, 0, 255);
            ASSERT_EQ(two.pixel(x, y), want) << x << "," << y;
        }
    }
}

} // namespace
} // namespace tunefold::controls
