// The dot-matrix line: what its cells read while scrolling, and what it lights.
#include <gtest/gtest.h>

#include "app/controls/dot_matrix.h"
#include "qt/qt_test_support.h"

namespace tunefold::controls {
namespace {

TEST(DotMatrix, ScrollsOneCharacterPerStepAndRunsRound) {
    DotMatrix m(12);
    m.SetText(QStringLiteral("ABCDEFGHIJKLMNO"));
    EXPECT_EQ(m.VisibleText(), "ABCDEFGHIJKL");
    m.Step(); // scrolling is off: nothing moves
    EXPECT_EQ(m.VisibleText(), "ABCDEFGHIJKL");
    m.SetScroll(true);
    m.Step();
    EXPECT_EQ(m.VisibleText(), "BCDEFGHIJKLM");
    for (int i = 1; i < 13; ++i) {
        m.Step();
    }
    EXPECT_EQ(m.VisibleText(), "NO   ABCDEFG");
    // Round: the text, then the gap, then the text again.
    for (int i = 13; i < 15 + DotMatrix::kScrollGap; ++i) {
        m.Step();
    }
    EXPECT_EQ(m.VisibleText(), "ABCDEFGHIJKL");
    m.Step();
    m.SetText(QStringLiteral("LOADING..."));
    EXPECT_EQ(m.VisibleText(), "LOADING...  ");
    m.Step();
    m.SetScroll(false);
    EXPECT_EQ(m.VisibleText(), "LOADING...  ");
}

// Lit dots of one cell in a rendering.
int LitDots(const QImage& image, const DotMatrix& m, int cell) {
    const int pitch = 3, cellWidth = 6 * pitch;
    int lit = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 2 + cell * cellWidth; x < 2 + cell * cellWidth + 5 * pitch; ++x) {
            lit += image.pixelColor(x, y) == m.HighColor();
        }
    }
    return lit;
}

TEST(DotMatrix, ACharacterWithoutAGlyphIsBlankAndTakesOneCell) {
    DotMatrix m(6);
    // U+263A has no glyph; U+1F600 is outside the BMP (two UTF-16 units, one character).
    m.SetText(QString::fromUtf8("A\u263A\u00C4\U0001F600B"));
    EXPECT_EQ(m.Cells()[4], U'B');
    const QImage image = test::Render(m);
    EXPECT_GT(LitDots(image, m, 0), 0);
    EXPECT_EQ(LitDots(image, m, 1), 0);
    EXPECT_GT(LitDots(image, m, 2), 0); // the font has the Latin-1 letters
    EXPECT_EQ(LitDots(image, m, 3), 0);
    EXPECT_GT(LitDots(image, m, 4), 0);
    EXPECT_EQ(LitDots(image, m, 5), 0); // past the end of the text
}

TEST(DotMatrix, LightsTheGlyphsDotsAndShowsTheOthersUnlit) {
    DotMatrix m(1);
    m.SetText(QStringLiteral("T"));
    const QImage image = test::Render(m);
    // T: the whole top row, then the middle column.
    int lit = 0, unlit = 0;
    for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 5; ++col) {
            const QColor c = image.pixelColor(2 + col * 3, 2 + row * 3);
            const bool expectLit = row == 0 || col == 2;
            EXPECT_EQ(c, expectLit ? m.HighColor() : m.LowColor()) << row << "," << col;
            (expectLit ? lit : unlit) += 1;
        }
    }
    EXPECT_EQ(lit, 11);
    EXPECT_EQ(image.pixelColor(4, 2), m.BackColor()); // the gap between two dots
}

} // namespace
} // namespace tunefold::controls
