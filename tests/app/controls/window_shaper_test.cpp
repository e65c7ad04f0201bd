// The window's outline is cut from exact-white pixels of its face, and from nothing else.
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>

#include "app/controls/window_shaper.h"
#include "engine/framework/resources.h"

namespace tunefold::controls {
namespace {

TEST(WindowShaper, CutsExactlyTheWhitePixels) {
    QImage face(20, 10, QImage::Format_RGB32);
    face.fill(qRgb(0x30, 0x30, 0x30));
    std::vector<QPoint> white = {{0, 0}, {1, 0}, {0, 1}, {19, 0}, {19, 9}, {18, 9}, {0, 9}, {7, 4}};
    for (QPoint p : white) {
        face.setPixel(p, qRgb(0xFF, 0xFF, 0xFF));
    }
    // Nearly white is face, not outside.
    face.setPixel(5, 5, qRgb(0xFF, 0xFF, 0xFE));
    face.setPixel(6, 5, qRgb(0xFE, 0xFF, 0xFF));
    const QRegion region = WindowShaper::MaskRegion(face);
    for (int y = 0; y < face.height(); ++y) {
        for (int x = 0; x < face.width(); ++x) {
            const bool cut = std::find(white.begin(), white.end(), QPoint(x, y)) != white.end();
            EXPECT_EQ(region.contains(QPoint(x, y)), !cut) << x << "," << y;
        }
    }
    // The picture's own alpha plays no part: a transparent black pixel is face.
    QImage argb = face.convertToFormat(QImage::Format_ARGB32);
    argb.setPixel(3, 3, qRgba(0, 0, 0, 0));
    EXPECT_TRUE(WindowShaper::MaskRegion(argb).contains(QPoint(3, 3)));
    EXPECT_FALSE(WindowShaper::MaskRegion(argb).contains(QPoint(7, 4)));

    QWidget window;
    window.resize(face.size());
    WindowShaper::Apply(window, face);
    EXPECT_EQ(window.mask(), region);
    QImage plain(20, 10, QImage::Format_RGB32);
    plain.fill(Qt::black);
    WindowShaper::Apply(window, plain);
    EXPECT_TRUE(window.mask().isEmpty());
}

TEST(WindowShaper, TheEmbeddedFaceIsCutOnlyAtItsRoundedCorners) {
    const std::optional<TRaster> skin = LoadBitmapResource("skin0");
    ASSERT_TRUE(skin.has_value());
    ASSERT_EQ(skin->Width(), 547);
    ASSERT_EQ(skin->Height(), 182);
    const int corner = 12;
    int whiteCount = 0;
    for (int y = 0; y < skin->Height(); ++y) {
        for (int x = 0; x < skin->Width(); ++x) {
            if (skin->GetPixel(x, y) != 0xFFFFFF) {
                continue;
            }
            ++whiteCount;
            const bool inCorner =
                (x < corner || x >= skin->Width() - corner) && (y < corner || y >= skin->Height() - corner);
            EXPECT_TRUE(inCorner) << "white face pixel at " << x << "," << y;
        }
    }
    EXPECT_GT(whiteCount, 4 * 20); // every corner is rounded off, not a pixel or two
    for (QPoint p : {QPoint(0, 0), QPoint(546, 0), QPoint(0, 181), QPoint(546, 181)}) {
        EXPECT_EQ(skin->GetPixel(p.x(), p.y()), 0xFFFFFFu);
    }
    EXPECT_NE(skin->GetPixel(12, 0), 0xFFFFFFu); // the straight edges stay
    EXPECT_NE(skin->GetPixel(0, 91), 0xFFFFFFu);
}

} // namespace
} // namespace tunefold::controls
