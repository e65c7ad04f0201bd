#include "app/controls/lit_label.h"

#include <QPainter>

#include <algorithm>

#include "app/controls/pixel_font.h"

namespace tunefold::controls {

int DotTextWidth(const QString& text, int px) {
    const auto n = static_cast<int>(text.toUcs4().size());
    return n == 0 ? 0 : (n * (kGlyphColumns + 1) - 1) * px;
}

int DrawDotText(QPainter& painter, QPoint origin, const QString& text, const QColor& color, int px) {
    int x = origin.x();
    for (uint code : text.toUcs4()) {
        if (const Glyph* g = FindGlyph(static_cast<char32_t>(code))) {
            for (int row = 0; row < kGlyphRows; ++row) {
                for (int col = 0; col < kGlyphColumns; ++col) {
                    if (((*g)[static_cast<std::size_t>(row)] >> (kGlyphColumns - 1 - col)) & 1u) {
                        painter.fillRect(QRect(x + col * px, origin.y() + row * px, px, px), color);
                    }
                }
            }
        }
        x += (kGlyphColumns + 1) * px;
    }
    return x - origin.x();
}

LitLabel::LitLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    resize(sizeHint());
}

void LitLabel::SetText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    resize(sizeHint());
    updateGeometry();
    update();
}

void LitLabel::SetLit(bool lit) {
    if (lit == lit_) {
        return;
    }
    lit_ = lit;
    update();
}

void LitLabel::SetLitColor(const QColor& c) {
    litColor_ = c;
    update();
}

void LitLabel::SetUnlitColor(const QColor& c) {
    unlitColor_ = c;
    update();
}

void LitLabel::SetBackColor(const QColor& c) {
    back_ = c;
    update();
}

void LitLabel::SetPixelSize(int px) {
    px_ = std::max(1, px);
    resize(sizeHint());
    updateGeometry();
    update();
}

QSize LitLabel::sizeHint() const {
    return {std::max(1, DotTextWidth(text_, px_)), kGlyphRows * px_};
}

void LitLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (back_.isValid()) {
        p.fillRect(rect(), back_);
    }
    DrawDotText(p, QPoint(0, 0), text_, CurrentColor(), px_);
}

} // namespace tunefold::controls
