// The file player's window skeleton: its face, its outline, its resting state, dragging and Ctrl+Q.
#include <gtest/gtest.h>

#include <QTest>

#include "app/controls/dot_matrix.h"
#include "app/controls/face_button.h"
#include "app/controls/rotary_wheel.h"
#include "app/controls/segment_clock.h"
#include "app/windows/main_window.h"
#include "qt/qt_test_support.h"

namespace tunefold::windows {
namespace {

TEST(MainWindowSkeleton, ShowsTheShapedFaceInItsRestingState) {
    MainWindow w;
    EXPECT_EQ(w.size(), QSize(547, 182));
    EXPECT_EQ(w.windowTitle(), "Tunefold File Player");
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w.Face().size(), QSize(547, 182));
    // The outline: rounded corners cut, the face whole.
    const QRegion mask = w.mask();
    EXPECT_FALSE(mask.contains(QPoint(0, 0)));
    EXPECT_FALSE(mask.contains(QPoint(546, 181)));
    EXPECT_TRUE(mask.contains(QPoint(273, 91)));
    EXPECT_TRUE(mask.contains(QPoint(12, 0)));

    EXPECT_EQ(w.VrMatrix1->VisibleText(), "NO FILE     ");
    EXPECT_EQ(w.VrMatrix1->Chars(), 12);
    EXPECT_EQ(w.VrClock2->Text(), "00:00");
    EXPECT_FALSE(w.RzBmpButton1->isEnabled());
    EXPECT_EQ(w.RzBmpButton8->Hint(), "Playlist Editor...");
    EXPECT_EQ(w.MMWheel1->Value(), 16384);
    EXPECT_EQ(w.MMWheel1->Max(), 32768);
    // Every control lies inside the outline.
    for (QWidget* child : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow()) {
            continue;
        }
        EXPECT_TRUE(QRect(0, 0, 547, 182).contains(child->geometry())) << child->metaObject()->className();
    }
}

TEST(MainWindowSkeleton, DraggingTheFaceMovesTheWindowAndCtrlQCloses) {
    MainWindow w;
    w.move(100, 100);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QPoint start = w.pos();
    test::Press(w, {400, 170});
    test::Move(w, {430, 150});
    test::Release(w, {430, 150});
    EXPECT_EQ(w.pos(), start + QPoint(30, -20));
    // The right button opens the menu instead of dragging.
    test::Press(w, {400, 170}, Qt::RightButton);
    test::Move(w, {500, 170}, Qt::RightButton);
    test::Release(w, {500, 170}, Qt::RightButton);
    EXPECT_EQ(w.pos(), start + QPoint(30, -20));

    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));
}

} // namespace
} // namespace tunefold::windows
