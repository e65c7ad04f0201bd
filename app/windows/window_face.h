// What the player's secondary windows (equalizer, CD player) do alike on their faces: the engraved
// words (the program's name with the window's under it, the small labels under a switch or a knob)
// and moving the window by dragging its face with the left button.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

class QMouseEvent;
class QPainter;
class QWidget;

namespace tunefold::windows {

// "Tunefold" in `words`, and `window` (e.g. "Equalizer") one line below it.
void PaintFaceTitle(QPainter& p, const QRect& words, const QString& window);
// A small word centred at the top of `box`, in the current font's family at 8 pixels.
void EngraveLabel(QPainter& p, const QRect& box, const QString& text);

// The left button on the face moves the window; other buttons are left to the window.
class FaceDrag {
public:
    // True when the press starts a drag (the event is the window's to accept); otherwise the
    // event is ignored.
    bool Press(QWidget& window, QMouseEvent* event);
    void Move(QWidget& window, QMouseEvent* event) const;
    void Release(QMouseEvent* event);

private:
    bool dragging_ = false;
    QPoint offset_; // the press point relative to the window's top left
};

} // namespace tunefold::windows
