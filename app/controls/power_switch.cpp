#include "app/controls/power_switch.h"

#include <QMouseEvent>
#include <QPainter>

namespace tunefold::controls {

PowerSwitch::PowerSwitch(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    resize(sizeHint());
}

void PowerSwitch::SetPosition(int position) {
    if ((position != 0 && position != 1) || position == position_) {
        return;
    }
    position_ = position;
    update();
    emit toggled(position_ == 1);
}

void PowerSwitch::SetLampColor(const QColor& c) {
    lamp_ = c;
    update();
}

void PowerSwitch::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    SetPosition(1 - position_);
}

void PowerSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    // Lamp on top, slot below it; the lever sits up when on.
    const int lampSize = 6;
    const QRect lamp(r.center().x() - lampSize / 2 + 1, 1, lampSize, lampSize);
    p.fillRect(lamp.adjusted(-1, -1, 1, 1), QColor(0x0b, 0x0c, 0x0e));
    p.fillRect(lamp, IsOn() ? lamp_ : lamp_.darker(400));
    if (IsOn()) {
        p.fillRect(QRect(lamp.left() + 1, lamp.top() + 1, 2, 2), lamp_.lighter(160));
    }
    const QRect slot(r.center().x() - 4, lampSize + 4, 9, r.height() - lampSize - 5);
    p.fillRect(slot, QColor(0x06, 0x07, 0x08));
    p.fillRect(QRect(slot.left(), slot.bottom(), slot.width(), 1), QColor(0x5a, 0x5f, 0x68));
    p.fillRect(QRect(slot.right(), slot.top(), 1, slot.height()), QColor(0x5a, 0x5f, 0x68));
    const int leverH = slot.height() / 2;
    const QRect lever(slot.left() + 1, IsOn() ? slot.top() + 1 : slot.bottom() - leverH, slot.width() - 2,
                      leverH);
    QLinearGradient g(lever.topLeft(), lever.bottomLeft());
    g.setColorAt(0, QColor(0xd8, 0xdc, 0xe2));
    g.setColorAt(1, QColor(0x7a, 0x80, 0x8a));
    p.fillRect(lever, g);
    for (int y = lever.top() + 2; y < lever.bottom() - 1; y += 2) {
        p.fillRect(QRect(lever.left() + 1, y, lever.width() - 2, 1), QColor(0x5a, 0x5f, 0x68));
    }
}

} // namespace tunefold::controls
