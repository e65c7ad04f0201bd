#include "app/controls/face_button.h"
#include "app/controls/lit_label.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace tunefold::controls {

FaceButton::FaceButton(Symbol symbol, QWidget* parent) : QWidget(parent), symbol_(symbol) {
    setFocusPolicy(Qt::NoFocus);
    resize(sizeHint());
}

void FaceButton::SetSymbol(Symbol symbol) {
    symbol_ = symbol;
    update();
}

void FaceButton::SetHint(const QString& hint) {
    hint_ = hint;
    setToolTip(hint);
}

void FaceButton::SetFaces(const QImage& strip, int frames) {
    faces_ = strip;
    frames_ = strip.isNull() ? 0 : std::max(1, frames);
    update();
}

void FaceButton::SetSymbolColor(const QColor& c) {
    symbolColor_ = c;
    update();
}

void FaceButton::Click() {
    if (isEnabled()) {
        emit clicked();
    }
}

void FaceButton::SetPressed(bool pressed) {
    if (pressed == pressed_) {
        return;
    }
    pressed_ = pressed;
    update();
}

void FaceButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    tracking_ = true;
    SetPressed(true);
}

void FaceButton::mouseMoveEvent(QMouseEvent* event) {
    if (tracking_) {
        SetPressed(rect().contains(event->position().toPoint()));
    }
}

void FaceButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !tracking_) {
        return;
    }
    tracking_ = false;
    const bool inside = rect().contains(event->position().toPoint());
    SetPressed(false);
    // A release off the button is the user changing their mind.
    if (inside) {
        Click();
    }
}

void FaceButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled()) {
            tracking_ = false;
            pressed_ = false;
        }
        update();
    }
    QWidget::changeEvent(event);
}

void FaceButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (frames_ > 0) {
        const int fw = faces_.width() / frames_;
        int frame = 0;
        if (!isEnabled() && frames_ > 2) {
            frame = 2;
        } else if (pressed_ && frames_ > 1) {
            frame = 1;
        }
        // Pixel art: nearest neighbour at whatever the device pixel ratio is.
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(rect(), faces_, QRect(frame * fw, 0, fw, faces_.height()));
        return;
    }
    PaintKey(p);
}

void FaceButton::PaintKey(QPainter& p) const {
    const QRect r = rect();
    const bool down = pressed_;
    // Body: a dark key with a lit edge on top and left (raised) or bottom and right (pressed).
    p.fillRect(r, QColor(0x0b, 0x0c, 0x0e));
    const QRect body = r.adjusted(1, 1, -1, -1);
    QLinearGradient g(body.topLeft(), body.bottomLeft());
    g.setColorAt(0, down ? QColor(0x1e, 0x21, 0x26) : QColor(0x4a, 0x4f, 0x58));
    g.setColorAt(1, down ? QColor(0x2c, 0x30, 0x36) : QColor(0x25, 0x28, 0x2e));
    p.fillRect(body, g);
    const QColor light(0x78, 0x7e, 0x88), dark(0x12, 0x14, 0x17);
    p.fillRect(QRect(body.left(), body.top(), body.width(), 1), down ? dark : light);
    p.fillRect(QRect(body.left(), body.top(), 1, body.height()), down ? dark : light);
    p.fillRect(QRect(body.left(), body.bottom(), body.width(), 1), down ? light : dark);
    p.fillRect(QRect(body.right(), body.top(), 1, body.height()), down ? light : dark);
    QRect box = body.adjusted(3, 3, -3, -3);
    if (down) {
        box.translate(1, 1);
    }
    PaintSymbol(p, box);
}

void FaceButton::SetLettering(const QString& text) {
    if (lettering_ != text) {
        lettering_ = text;
        update();
    }
}

void FaceButton::PaintSymbol(QPainter& p, QRect box) const {
    const QColor c = isEnabled() ? symbolColor_ : QColor(0x5a, 0x5e, 0x66);
    const int h = std::min(box.height(), 10);
    const int cy = box.center().y() + 1 - h / 2;
    const int cx = box.center().x() + 1;
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    auto triangle = [&](int x, int w, bool right) {
        QPainterPath path;
        if (right) {
            path.moveTo(x, cy);
            path.lineTo(x + w, cy + h / 2.0);
            path.lineTo(x, cy + h);
        } else {
            path.moveTo(x + w, cy);
            path.lineTo(x, cy + h / 2.0);
            path.lineTo(x + w, cy + h);
        }
        path.closeSubpath();
        p.drawPath(path);
    };
    switch (symbol_) {
    case Symbol::None:
        if (!lettering_.isEmpty()) {
            p.setRenderHint(QPainter::Antialiasing, false);
            const int w = DotTextWidth(lettering_);
            DrawDotText(p, QPoint(box.center().x() + 1 - w / 2, box.center().y() - 3), lettering_, c);
        }
        break;
    case Symbol::Play:
        triangle(cx - 4, 9, true);
        break;
    case Symbol::Pause:
        p.fillRect(QRect(cx - 4, cy, 3, h), c);
        p.fillRect(QRect(cx + 1, cy, 3, h), c);
        break;
    case Symbol::Stop:
        p.fillRect(QRect(cx - 4, cy + 1, h - 2, h - 2), c);
        break;
    case Symbol::Previous:
        p.fillRect(QRect(cx - 6, cy, 2, h), c);
        triangle(cx - 4, 5, false);
        triangle(cx + 1, 5, false);
        break;
    case Symbol::Next:
        triangle(cx - 6, 5, true);
        triangle(cx - 1, 5, true);
        p.fillRect(QRect(cx + 4, cy, 2, h), c);
        break;
    case Symbol::Open: {
        // Eject: a roof over a bar.
        QPainterPath path;
        path.moveTo(cx - 5, cy + 6);
        path.lineTo(cx, cy);
        path.lineTo(cx + 5, cy + 6);
        path.closeSubpath();
        p.drawPath(path);
        p.fillRect(QRect(cx - 5, cy + 8, 10, 2), c);
        break;
    }
    case Symbol::Playlist:
        for (int i = 0; i < 4; ++i) {
            p.fillRect(QRect(cx - 5, cy + i * 3, 2, 2), c);
            p.fillRect(QRect(cx - 2, cy + i * 3, 7, 2), c);
        }
        break;
    }
}

} // namespace tunefold::controls
