// A rotary knob over a value range: dragging up or right turns it up, the mouse wheel steps it. The
// handle (a lit dot on the rim) shows the value over a 270 degree sweep. Setting the value from code
// and turning it by hand both emit changed when the value changes; a disabled knob does not turn.
// Presses of every button stay with the control, so a press on it never drags the window it sits on
// (see BlotterPanel); only the left button works it.
#pragma once

#include <QColor>
#include <QPoint>
#include <QWidget>

namespace tunefold::controls {

class RotaryWheel : public QWidget {
    Q_OBJECT
public:
    explicit RotaryWheel(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    // Max below min is taken as min; the value is clamped into the new range.
    void SetRange(int min, int max);
    int Value() const { return value_; }
    // Clamped into the range; no signal when unchanged.
    void SetValue(int value);
    QColor HandleColor() const { return handle_; }
    void SetHandleColor(const QColor& c);
    QColor FocusColor() const { return focus_; }
    void SetFocusColor(const QColor& c);
    // How far one notch of the mouse wheel turns it (at least 1).
    int WheelStep() const;

    QSize sizeHint() const override { return {48, 48}; }

signals:
    void changed(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int min_ = 0;
    int max_ = 100;
    int value_ = 0;
    QColor handle_{0x7d, 0xff, 0xc8};
    QColor focus_{0x7d, 0xff, 0xc8};
    bool dragging_ = false;
    QPoint dragStart_;
    int dragValue_ = 0;
    int wheelRest_ = 0; // angle delta below one notch, kept for high-resolution wheels
};

} // namespace tunefold::controls
