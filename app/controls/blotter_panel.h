// The blotter: a bevelled panel that reports every mouse press, move and release on it, with any
// button, in its own coordinates, so the window it fills can be dragged by it. Clocks and labels on
// the panel take no mouse input, so a press on them reaches the panel too; buttons keep theirs.
#pragma once

#include <QPoint>

#include "app/controls/bevel_panel.h"

namespace tunefold::controls {

class BlotterPanel : public BevelPanel {
    Q_OBJECT
public:
    explicit BlotterPanel(QWidget* parent = nullptr);

signals:
    void mousePressed(Qt::MouseButton button, QPoint position);
    void mouseMoved(Qt::MouseButtons buttons, QPoint position);
    void mouseReleased(Qt::MouseButton button, QPoint position);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace tunefold::controls
