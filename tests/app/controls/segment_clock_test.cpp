// The clock: two fields set on their own, shown as mm:ss, each digit drawn as itself.
#include <gtest/gtest.h>

#include "app/controls/segment_clock.h"
#include "qt/qt_test_support.h"

namespace tunefold::controls {
namespace {

// The four digit cells of a clock with 10 x 17 digits, 2-pixel segments, 2-pixel gaps and margins.
QImage Cell(const QImage& image, int k) {
    const int x = 2 + k * 12 + (k >= 2 ? 4 : 0);
    return image.copy(x, 0, 10, image.height());
}

int DigitIn(const QImage& image, int k) {
    for (int d = 0; d <= 9; ++d) {
        SegmentClock reference;
        reference.SetFirst(d * 11);
        reference.SetSecond(d * 11);
        if (Cell(test::Render(reference), k) == Cell(image, k)) {
            return d;
        }
    }
    return -1;
}

TEST(SegmentClock, ShowsEachFieldAsTwoDigits) {
    SegmentClock clock;
    clock.SetFirst(15);
    clock.SetSecond(3);
    EXPECT_EQ(clock.Text(), "15:03");
    const QImage image = test::Render(clock);
    EXPECT_EQ(DigitIn(image, 0), 1);
    EXPECT_EQ(DigitIn(image, 1), 5);
    EXPECT_EQ(DigitIn(image, 2), 0);
    EXPECT_EQ(DigitIn(image, 3), 3);
    // Every digit looks different from every other.
    for (int a = 0; a <= 9; ++a) {
        for (int b = a + 1; b <= 9; ++b) {
            SegmentClock ca, cb;
            ca.SetSecond(a);
            cb.SetSecond(b);
            EXPECT_NE(Cell(test::Render(ca), 3), Cell(test::Render(cb), 3)) << a << " vs " << b;
        }
    }
    clock.SetFirst(120);
    clock.SetSecond(-4);
    EXPECT_EQ(clock.Text(), "99:00");
}

TEST(SegmentClock, UnlitSegmentsShowInTheLowColour) {
    SegmentClock clock;
    clock.SetHighColor(Qt::red);
    clock.SetLowColor(Qt::blue);
    clock.SetBackColor(Qt::black);
    clock.SetFirst(1); // "01": the tens digit lights six segments, the middle one stays unlit
    const QImage image = test::Render(clock);
    const QImage tens = Cell(image, 0);
    int red = 0, blue = 0;
    for (int y = 0; y < tens.height(); ++y) {
        for (int x = 0; x < tens.width(); ++x) {
            red += tens.pixelColor(x, y) == QColor(Qt::red);
            blue += tens.pixelColor(x, y) == QColor(Qt::blue);
        }
    }
    EXPECT_GT(red, 0);
    EXPECT_GT(blue, 0);
    EXPECT_GT(red, 4 * blue); // six lit segments, one unlit
}

} // namespace
} // namespace tunefold::controls
