// A two-position power switch: a lever in a slot with a lamp beside it. A click flips it; setting the
// position from code flips it too. Either way a change emits toggled, so the window's handler runs
// however the switch was moved.
// Presses of every button stay with the control, so a press on it never drags the window it sits on
// (see BlotterPanel); only the left button works it.
#pragma once

#include <QColor>
#include <QWidget>

namespace tunefold::controls {

class PowerSwitch : public QWidget {
    Q_OBJECT
public:
    explicit PowerSwitch(QWidget* parent = nullptr);

    // 0 off, 1 on.
    int Position() const { return position_; }
    // Values other than 0 and 1 are ignored; no signal when unchanged.
    void SetPosition(int position);
    bool IsOn() const { return position_ == 1; }
    QColor LampColor() const { return lamp_; }
    void SetLampColor(const QColor& c);

    QSize sizeHint() const override { return {22, 34}; }

signals:
    void toggled(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int position_ = 0;
    QColor lamp_{0xff, 0x40, 0x30};
};

} // namespace tunefold::controls
