#include "app/controls/gradient_panel.h"

#include <QPainter>

namespace tunefold::controls {

GradientPanel::GradientPanel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GradientPanel::SetColors(const QColor& begin, const QColor& end) {
    begin_ = begin;
    end_ = end;
    update();
}

void GradientPanel::SetHorizontal(bool horizontal) {
    horizontal_ = horizontal;
    update();
}

void GradientPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    QLinearGradient g(r.topLeft(), horizontal_ ? r.topRight() : r.bottomLeft());
    g.setColorAt(0, begin_);
    g.setColorAt(1, end_);
    p.fillRect(r, g);
}

} // namespace tunefold::controls
