// The blotter reports presses, moves and releases of any button, on itself and on the displays and
// labels on it, in its own coordinates; presses on its buttons, switches and knobs are theirs.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "app/controls/blotter_panel.h"
#include "app/controls/face_button.h"
#include "app/controls/lit_label.h"
#include "app/controls/rotary_wheel.h"
#include "app/controls/segment_clock.h"
#include "qt/qt_test_support.h"

namespace tunefold::controls {
namespace {

TEST(BlotterPanel, ReportsTheMouseOnItselfAndOnItsDisplaysButNotOnItsButtons) {
    BlotterPanel panel;
    panel.resize(396, 44);
    auto* clock = new SegmentClock(&panel);
    clock->move(100, 10);
    auto* label = new LitLabel(QStringLiteral("ELAPSED"), &panel);
    label->move(100, 2);
    auto* button = new FaceButton(FaceButton::Symbol::Play, &panel);
    button->setGeometry(10, 10, 30, 22);
    auto* wheel = new RotaryWheel(&panel);
    wheel->setGeometry(300, 0, 40, 40);
    QSignalSpy pressed(&panel, &BlotterPanel::mousePressed);
    QSignalSpy moved(&panel, &BlotterPanel::mouseMoved);
    QSignalSpy released(&panel, &BlotterPanel::mouseReleased);

    // The right button on the clock: reported in the panel's coordinates.
    test::Press(*clock, {5, 6}, Qt::RightButton);
    ASSERT_EQ(pressed.count(), 1);
    EXPECT_EQ(pressed.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_EQ(pressed.at(0).at(1).toPoint(), QPoint(105, 16));
    test::Move(*label, {1, 1}, Qt::RightButton);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0).at(1).toPoint(), QPoint(101, 3));
    test::Release(panel, {50, 30}, Qt::RightButton);
    ASSERT_EQ(released.count(), 1);
    EXPECT_EQ(released.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);

    test::Press(panel, {200, 20}, Qt::MiddleButton);
    EXPECT_EQ(pressed.count(), 2);

    // Buttons and knobs keep every press, whatever the button.
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        test::Press(*button, {5, 5}, b);
        test::Release(*button, {5, 5}, b);
        test::Press(*wheel, {5, 5}, b);
        test::Release(*wheel, {5, 5}, b);
    }
    EXPECT_EQ(pressed.count(), 2);
    EXPECT_EQ(released.count(), 1);
}

} // namespace
} // namespace tunefold::controls
