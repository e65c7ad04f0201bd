#include "app/controls/rotary_wheel.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tunefold::controls {

namespace {
// A drag over this many logical pixels sweeps the whole range.
constexpr int kDragSpan = 160;
} // namespace

RotaryWheel::RotaryWheel(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::WheelFocus);
    resize(sizeHint());
}

void RotaryWheel::SetRange(int min, int max) {
    max_ = std::max(min, max);
    min_ = min;
    SetValue(value_);
    update();
}

void RotaryWheel::SetValue(int value) {
    value = std::clamp(value, min_, max_);
    if (value == value_) {
        return;
    }
    value_ = value;
    update();
    emit changed(value_);
}

void RotaryWheel::SetHandleColor(const QColor& c) {
    handle_ = c;
    update();
}

void RotaryWheel::SetFocusColor(const QColor& c) {
    focus_ = c;
    update();
}

int RotaryWheel::WheelStep() const {
    const long long range = static_cast<long long>(max_) - min_;
    return static_cast<int>(std::max<long long>(1, range / 32));
}

void RotaryWheel::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    dragging_ = true;
    dragStart_ = event->position().toPoint();
    dragValue_ = value_;
}

void RotaryWheel::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        return;
    }
    const QPoint d = event->position().toPoint() - dragStart_;
    const long long range = static_cast<long long>(max_) - min_;
    const long long moved = static_cast<long long>(d.x() - d.y()) * range / kDragSpan;
    SetValue(static_cast<int>(std::clamp<long long>(dragValue_ + moved, min_, max_)));
}

void RotaryWheel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
    }
}

void RotaryWheel::wheelEvent(QWheelEvent* event) {
    wheelRest_ += event->angleDelta().y();
    const int notches = wheelRest_ / 120;
    wheelRest_ -= notches * 120;
    if (notches != 0) {
        const long long target =
            static_cast<long long>(value_) + static_cast<long long>(notches) * WheelStep();
        SetValue(static_cast<int>(std::clamp<long long>(target, min_, max_)));
    }
    event->accept();
}

void RotaryWheel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        dragging_ = false;
        update();
    }
    QWidget::changeEvent(event);
}

void RotaryWheel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    const QPointF c = r.center();
    const double radius = std::min(r.width(), r.height()) / 2;
    // Scale ticks on the face around the knob.
    p.setPen(QPen(QColor(0x5a, 0x5f, 0x68), 1.0));
    for (int i = 0; i <= 10; ++i) {
        const double a = (225.0 - 27.0 * i) * std::numbers::pi / 180.0;
        const QPointF dir(std::cos(a), -std::sin(a));
        p.drawLine(c + dir * (radius - 3), c + dir * radius);
    }
    const double knob = radius - 5;
    QRadialGradient g(c - QPointF(knob / 3, knob / 3), knob * 1.6);
    g.setColorAt(0, QColor(0x6a, 0x70, 0x7a));
    g.setColorAt(1, QColor(0x16, 0x18, 0x1c));
    p.setPen(QPen(hasFocus() && isEnabled() ? focus_ : QColor(0x0b, 0x0c, 0x0e), 1.0));
    p.setBrush(g);
    p.drawEllipse(c, knob, knob);
    // Knurled rim.
    p.setPen(QPen(QColor(0x0b, 0x0c, 0x0e, 140), 1.0));
    for (int i = 0; i < 24; ++i) {
        const double a = i * 15.0 * std::numbers::pi / 180.0;
        const QPointF dir(std::cos(a), -std::sin(a));
        p.drawLine(c + dir * (knob - 2.5), c + dir * (knob - 0.5));
    }
    const double range = std::max(1.0, static_cast<double>(max_) - min_);
    const double fraction = (static_cast<double>(value_) - min_) / range;
    const double a = (225.0 - 270.0 * fraction) * std::numbers::pi / 180.0;
    const QPointF dir(std::cos(a), -std::sin(a));
    p.setPen(Qt::NoPen);
    p.setBrush(isEnabled() ? handle_ : QColor(0x4a, 0x4e, 0x56));
    p.drawEllipse(c + dir * (knob - 6), 2.5, 2.5);
}

} // namespace tunefold::controls
