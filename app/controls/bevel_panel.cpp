#include "app/controls/bevel_panel.h"

#include <QPainter>

#include <algorithm>

namespace tunefold::controls {

BevelPanel::BevelPanel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BevelPanel::SetOuter(BevelStyle style) {
    outer_ = style;
    update();
}

void BevelPanel::SetInner(BevelStyle style) {
    inner_ = style;
    update();
}

void BevelPanel::SetBevelWidth(int width) {
    width_ = std::max(1, width);
    update();
}

void BevelPanel::SetOuterColors(const QColor& highlight, const QColor& shadow) {
    outerHi_ = highlight;
    outerLo_ = shadow;
    update();
}

void BevelPanel::SetInnerColors(const QColor& highlight, const QColor& shadow) {
    innerHi_ = highlight;
    innerLo_ = shadow;
    update();
}

void BevelPanel::SetFaceColor(const QColor& c) {
    face_ = c;
    update();
}

QMargins BevelPanel::BevelMargins() const {
    const int n = (outer_ != BevelStyle::None ? width_ : 0) + (inner_ != BevelStyle::None ? width_ : 0);
    return {n, n, n, n};
}

void BevelPanel::PaintBevel(QPainter& p, QRect r, BevelStyle style, const QColor& hi,
                            const QColor& lo) const {
    const QColor& topLeft = style == BevelStyle::Raised ? hi : lo;
    const QColor& bottomRight = style == BevelStyle::Raised ? lo : hi;
    for (int i = 0; i < width_; ++i) {
        const QRect e = r.adjusted(i, i, -i, -i);
        p.fillRect(QRect(e.left(), e.top(), e.width(), 1), topLeft);
        p.fillRect(QRect(e.left(), e.top(), 1, e.height()), topLeft);
        p.fillRect(QRect(e.left(), e.bottom(), e.width(), 1), bottomRight);
        p.fillRect(QRect(e.right(), e.top() + 1, 1, e.height() - 1), bottomRight);
    }
}

void BevelPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    p.fillRect(r, face_);
    if (outer_ != BevelStyle::None) {
        PaintBevel(p, r, outer_, outerHi_, outerLo_);
        r.adjust(width_, width_, -width_, -width_);
    }
    if (inner_ != BevelStyle::None) {
        PaintBevel(p, r, inner_, innerHi_, innerLo_);
    }
}

} // namespace tunefold::controls
