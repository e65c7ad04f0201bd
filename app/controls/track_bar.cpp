#include "app/controls/track_bar.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace tunefold::controls {

TrackBar::TrackBar(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    resize(sizeHint());
}

void TrackBar::SetRange(int min, int max) {
    min_ = min;
    max_ = std::max(min, max);
    SetPosition(position_);
    update();
}

void TrackBar::SetPosition(int position) {
    position = std::clamp(position, min_, max_);
    if (position == position_) {
        return;
    }
    position_ = position;
    update();
    emit positionChanged(position_);
}

void TrackBar::SetTrackColor(const QColor& c) {
    track_ = c;
    update();
}

int TrackBar::PositionAt(int x) const {
    const int span = TrackRight() - TrackLeft();
    if (span <= 0) {
        return min_;
    }
    const double fraction = std::clamp(static_cast<double>(x - TrackLeft()) / span, 0.0, 1.0);
    return min_ + static_cast<int>(std::lround(fraction * (static_cast<double>(max_) - min_)));
}

void TrackBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    dragging_ = true;
    emit mousePressed(position_);
}

void TrackBar::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        return;
    }
    SetPosition(PositionAt(qRound(event->position().x())));
    emit mouseMoved(position_);
}

void TrackBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) {
        return;
    }
    dragging_ = false;
    emit mouseReleased(position_);
}

void TrackBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        // A drag cut short by disabling still ends, so the window's seek is never left half done.
        if (!isEnabled() && dragging_) {
            dragging_ = false;
            emit mouseReleased(position_);
        }
        update();
    }
    QWidget::changeEvent(event);
}

void TrackBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int cy = height() / 2;
    // The groove: dark, with its lit part up to the thumb in the track colour.
    const QRect groove(TrackLeft() - 2, cy - 2, TrackRight() - TrackLeft() + 5, 4);
    p.fillRect(groove, QColor(0x06, 0x07, 0x08));
    p.fillRect(QRect(groove.left(), groove.bottom() + 1, groove.width(), 1), QColor(0x5a, 0x5f, 0x68));
    const double range = std::max(1.0, static_cast<double>(max_) - min_);
    const int x = TrackLeft() +
                  static_cast<int>(std::lround((position_ - min_) / range * (TrackRight() - TrackLeft())));
    const QColor lit = isEnabled() ? track_ : track_.darker(250);
    p.fillRect(QRect(groove.left() + 1, cy - 1, x - groove.left(), 2), lit);
    // The thumb.
    const QRect thumb(x - ThumbWidth() / 2, 0, ThumbWidth(), height());
    QLinearGradient g(thumb.topLeft(), thumb.bottomLeft());
    g.setColorAt(0, isEnabled() ? QColor(0xd8, 0xdc, 0xe2) : QColor(0x70, 0x74, 0x7a));
    g.setColorAt(1, isEnabled() ? QColor(0x7a, 0x80, 0x8a) : QColor(0x40, 0x44, 0x4a));
    p.fillRect(thumb, g);
    p.fillRect(QRect(thumb.center().x(), thumb.top() + 2, 1, thumb.height() - 4), QColor(0x2a, 0x2d, 0x33));
}

} // namespace tunefold::controls
