// An engine display shown through the host: the picture as the engine drew it, repainted when and
// only when the display invalidates itself, with the mouse handed to the display.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>

#include "app/controls/raster_host.h"
#include "engine/displays/leds.h"
#include "qt/qt_test_support.h"

namespace tunefold::controls {
namespace {

TEST(RasterHost, ShowsTheEnginePictureAndRepaintsOnlyWhenInvalidated) {
    TMMLEDPanel panel;
    panel.SetNumDigits(2);
    panel.SetValue(42);
    RasterHost host(panel);
    EXPECT_EQ(host.size(), QSize(panel.Width(), panel.Height()));

    const QImage shown = test::Render(host);
    const TRaster& picture = panel.Picture();
    for (int y = 0; y < picture.Height(); ++y) {
        for (int x = 0; x < picture.Width(); ++x) {
            ASSERT_EQ(shown.pixel(x, y) & 0xFFFFFFu, picture.Row(y)[x]) << x << "," << y;
        }
    }

    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    QCoreApplication::processEvents();
    const int settled = host.Repaints();
    QCoreApplication::processEvents();
    EXPECT_EQ(host.Repaints(), settled);
    panel.SetValue(7);
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.Repaints() > settled; }, 5000));
    EXPECT_NE(test::Render(host), shown);
    // More digits: the host takes the display's new size.
    panel.SetNumDigits(3);
    EXPECT_EQ(host.size(), QSize(panel.Width(), panel.Height()));
}

TEST(RasterHost, HandsTheMouseToTheDisplayInItsCoordinates) {
    TMMLEDPanel panel;
    RasterHost host(panel);
    int downs = 0, clicks = 0;
    TMouseButton lastButton = mbLeft;
    int lastX = -1, lastY = -1;
    panel.OnMouseDown = [&](TObject*, TMouseButton b, TShiftState, int x, int y) {
        ++downs;
        lastButton = b;
        lastX = x;
        lastY = y;
    };
    panel.OnClick = [&](TObject*) { ++clicks; };
    test::Press(host, {3, 4}, Qt::RightButton);
    test::Release(host, {3, 4}, Qt::RightButton);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(lastButton, mbRight);
    EXPECT_EQ(lastX, 3);
    EXPECT_EQ(lastY, 4);
    EXPECT_EQ(clicks, 0);
    test::Press(host, {2, 2});
    test::Release(host, {2, 2});
    EXPECT_EQ(clicks, 1);
}

TEST(RasterHost, LeavesTheDisplayWithoutAHookWhenItGoes) {
    TMMLEDPanel panel;
    {
        RasterHost host(panel);
        EXPECT_TRUE(static_cast<bool>(panel.OnInvalidate));
    }
    EXPECT_FALSE(static_cast<bool>(panel.OnInvalidate));
    panel.SetValue(3); // would reach a destroyed host otherwise
}

} // namespace
} // namespace tunefold::controls
