// Buttons, the power switch, the wheel and the track bar: what the mouse and the code do to them and
// what they report.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QWheelEvent>

#include "app/controls/face_button.h"
#include "app/controls/power_switch.h"
#include "app/controls/rotary_wheel.h"
#include "app/controls/track_bar.h"
#include "qt/qt_test_support.h"

namespace tunefold::controls {
namespace {

using test::Move;
using test::Press;
using test::Release;

TEST(FaceButton, ClicksOnlyWhenEnabledAndReleasedOnTheButton) {
    FaceButton b(FaceButton::Symbol::Play);
    b.resize(30, 22);
    b.SetHint(QStringLiteral("Play"));
    EXPECT_EQ(b.toolTip(), "Play");
    QSignalSpy clicks(&b, &FaceButton::clicked);

    Press(b, {10, 10});
    EXPECT_TRUE(b.IsPressed());
    Move(b, {60, 10});
    EXPECT_FALSE(b.IsPressed()); // dragged off: drawn up again
    Release(b, {60, 10});
    EXPECT_EQ(clicks.count(), 0);

    Press(b, {10, 10});
    Release(b, {12, 12});
    EXPECT_EQ(clicks.count(), 1);
    b.Click();
    EXPECT_EQ(clicks.count(), 2);
    Press(b, {10, 10}, Qt::RightButton);
    Release(b, {10, 10}, Qt::RightButton);
    EXPECT_EQ(clicks.count(), 2);

    b.setEnabled(false);
    Press(b, {10, 10});
    Release(b, {10, 10});
    b.Click();
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_FALSE(b.IsPressed());

    // Disabled while held down: enabling it again does not finish the old press.
    b.setEnabled(true);
    Press(b, {10, 10});
    b.setEnabled(false);
    b.setEnabled(true);
    Release(b, {10, 10});
    EXPECT_EQ(clicks.count(), 2);
}

TEST(FaceButton, DisabledLooksDifferentFromEnabled) {
    FaceButton b(FaceButton::Symbol::Stop);
    b.resize(30, 22);
    const QImage enabled = test::Render(b);
    b.setEnabled(false);
    EXPECT_NE(test::Render(b), enabled);
}

TEST(PowerSwitch, FlipsOnAClickAndOnAChangeFromCode) {
    PowerSwitch s;
    s.resize(s.sizeHint());
    QSignalSpy toggled(&s, &PowerSwitch::toggled);
    Press(s, {10, 10});
    Release(s, {10, 10});
    ASSERT_EQ(toggled.count(), 1);
    EXPECT_TRUE(toggled.at(0).at(0).toBool());
    EXPECT_EQ(s.Position(), 1);
    s.SetPosition(1); // unchanged: no signal
    s.SetPosition(2); // no such position
    EXPECT_EQ(toggled.count(), 1);
    s.SetPosition(0);
    ASSERT_EQ(toggled.count(), 2);
    EXPECT_FALSE(toggled.at(1).at(0).toBool());
    s.setEnabled(false);
    Press(s, {10, 10});
    EXPECT_EQ(s.Position(), 0);
}

void Wheel(QWidget& w, int delta) {
    QWheelEvent e(QPointF(10, 10), w.mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &e);
}

TEST(RotaryWheel, TurnsByDragAndWheelWithinItsRange) {
    RotaryWheel w;
    w.resize(48, 48);
    w.SetRange(0, 32768);
    w.SetValue(16384);
    QSignalSpy changed(&w, &RotaryWheel::changed);
    Wheel(w, 120);
    EXPECT_EQ(w.Value(), 16384 + 1024);
    Wheel(w, 60); // half a notch: kept for the next half
    EXPECT_EQ(w.Value(), 16384 + 1024);
    Wheel(w, 60);
    EXPECT_EQ(w.Value(), 16384 + 2048);
    for (int i = 0; i < 40; ++i) {
        Wheel(w, 120);
    }
    EXPECT_EQ(w.Value(), 32768);
    // Drag: down turns it down; a full sweep of the drag span reaches the bottom.
    Press(w, {24, 24});
    Move(w, {24, 24 + 80});
    EXPECT_EQ(w.Value(), 32768 - 16384);
    Move(w, {24, 24 + 400});
    EXPECT_EQ(w.Value(), 0);
    Release(w, {24, 424});
    // One per change: two by the wheel, fourteen notches up to the top (the rest change nothing), two
    // by the drag.
    EXPECT_EQ(changed.count(), 18);
    EXPECT_EQ(changed.last().at(0).toInt(), 0);

    w.setEnabled(false);
    Wheel(w, 120);
    Press(w, {24, 24});
    Move(w, {24, 0});
    EXPECT_EQ(w.Value(), 0);
    w.SetRange(100, 50); // max below min: the range shrinks to the one value
    EXPECT_EQ(w.Min(), 100);
    EXPECT_EQ(w.Max(), 100);
    EXPECT_EQ(w.Value(), 100);
}

TEST(TrackBar, ReportsThePositionOnPressMoveAndRelease) {
    TrackBar t;
    t.resize(209, 14); // the thumb's centre runs over 200 pixels, from x = 4 to x = 204
    t.SetRange(0, 1000);
    QSignalSpy pressed(&t, &TrackBar::mousePressed);
    QSignalSpy moved(&t, &TrackBar::mouseMoved);
    QSignalSpy released(&t, &TrackBar::mouseReleased);
    QSignalSpy changed(&t, &TrackBar::positionChanged);

    // A press reports where the bar is and moves nothing.
    t.SetPosition(250);
    Press(t, {150, 7});
    Release(t, {150, 7});
    ASSERT_EQ(pressed.count(), 1);
    EXPECT_EQ(pressed.at(0).at(0).toInt(), 250);
    EXPECT_EQ(released.at(0).at(0).toInt(), 250);
    EXPECT_EQ(t.Position(), 250);

    Press(t, {60, 7});
    Move(t, {104, 7});
    Move(t, {500, 7}); // beyond the end
    Release(t, {500, 7});
    ASSERT_EQ(moved.count(), 2);
    EXPECT_EQ(moved.at(0).at(0).toInt(), 500);
    EXPECT_EQ(moved.at(1).at(0).toInt(), 1000);
    EXPECT_EQ(released.at(1).at(0).toInt(), 1000);
    EXPECT_EQ(changed.count(), 3); // 250, 500, 1000

    // A move without a press is no drag.
    Move(t, {4, 7}, Qt::NoButton);
    EXPECT_EQ(t.Position(), 1000);
    // Disabled in the middle of a drag: the drag ends and says so.
    Press(t, {104, 7});
    t.setEnabled(false);
    EXPECT_EQ(released.count(), 3);
    EXPECT_FALSE(t.Dragging());
    Press(t, {104, 7});
    EXPECT_EQ(pressed.count(), 3);
    t.SetRange(0, 100);
    EXPECT_EQ(t.Position(), 100);
}

} // namespace
} // namespace tunefold::controls
