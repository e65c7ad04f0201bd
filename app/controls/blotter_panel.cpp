#include "app/controls/blotter_panel.h"

#include <QMouseEvent>

namespace tunefold::controls {

BlotterPanel::BlotterPanel(QWidget* parent) : BevelPanel(parent) {}

void BlotterPanel::mousePressEvent(QMouseEvent* event) {
    emit mousePressed(event->button(), event->position().toPoint());
}

void BlotterPanel::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMoved(event->buttons(), event->position().toPoint());
}

void BlotterPanel::mouseReleaseEvent(QMouseEvent* event) {
    emit mouseReleased(event->button(), event->position().toPoint());
}

} // namespace tunefold::controls
