#include "app/controls/dot_matrix.h"

#include <QPainter>

#include <algorithm>

#include "app/controls/pixel_font.h"

namespace tunefold::controls {

namespace {
constexpr int kMargin = 2;
}

DotMatrix::DotMatrix(int chars, QWidget* parent) : QWidget(parent), chars_(std::max(1, chars)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(sizeHint());
}

void DotMatrix::SetChars(int chars) {
    chars = std::max(1, chars);
    if (chars == chars_) {
        return;
    }
    chars_ = chars;
    setFixedSize(sizeHint());
    update();
}

void DotMatrix::SetText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    const QList<uint> ucs4 = text.toUcs4();
    codes_.assign(ucs4.begin(), ucs4.end());
    offset_ = 0;
    update();
}

void DotMatrix::SetScroll(bool on) {
    if (on == scroll_) {
        return;
    }
    scroll_ = on;
    offset_ = 0;
    update();
}

std::vector<char32_t> DotMatrix::Loop() const {
    std::vector<char32_t> loop = codes_;
    loop.insert(loop.end(), kScrollGap, U' ');
    return loop;
}

void DotMatrix::Step() {
    if (!scroll_) {
        return;
    }
    offset_ = (offset_ + 1) % static_cast<int>(codes_.size() + kScrollGap);
    update();
}

std::vector<char32_t> DotMatrix::Cells() const {
    std::vector<char32_t> cells(static_cast<std::size_t>(chars_), U' ');
    if (!scroll_) {
        std::copy_n(codes_.begin(), std::min<std::size_t>(codes_.size(), cells.size()), cells.begin());
        return cells;
    }
    const std::vector<char32_t> loop = Loop();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        cells[i] = loop[(static_cast<std::size_t>(offset_) + i) % loop.size()];
    }
    return cells;
}

QString DotMatrix::VisibleText() const {
    const std::vector<char32_t> cells = Cells();
    return QString::fromUcs4(cells.data(), static_cast<qsizetype>(cells.size()));
}

void DotMatrix::SetLowColor(const QColor& c) {
    low_ = c;
    update();
}

void DotMatrix::SetHighColor(const QColor& c) {
    high_ = c;
    update();
}

void DotMatrix::SetBackColor(const QColor& c) {
    back_ = c;
    update();
}

void DotMatrix::SetDotSize(int size, int gap) {
    dot_ = std::max(1, size);
    gap_ = std::max(0, gap);
    setFixedSize(sizeHint());
    update();
}

QSize DotMatrix::sizeHint() const {
    const int pitch = dot_ + gap_;
    // Cells of 5 dots with one dot's pitch between them.
    const int w = chars_ * (kGlyphColumns + 1) * pitch - pitch - gap_;
    const int h = kGlyphRows * pitch - gap_;
    return {w + 2 * kMargin, h + 2 * kMargin};
}

void DotMatrix::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), back_);
    const int pitch = dot_ + gap_;
    const std::vector<char32_t> cells = Cells();
    for (int c = 0; c < chars_; ++c) {
        const Glyph* glyph = FindGlyph(cells[static_cast<std::size_t>(c)]);
        const int x0 = kMargin + c * (kGlyphColumns + 1) * pitch;
        for (int row = 0; row < kGlyphRows; ++row) {
            const unsigned bits = glyph != nullptr ? (*glyph)[static_cast<std::size_t>(row)] : 0u;
            for (int col = 0; col < kGlyphColumns; ++col) {
                const bool lit = (bits >> (kGlyphColumns - 1 - col)) & 1u;
                // Whole logical pixels: crisp at any device pixel ratio.
                p.fillRect(QRect(x0 + col * pitch, kMargin + row * pitch, dot_, dot_), lit ? high_ : low_);
            }
        }
    }
}

} // namespace tunefold::controls
