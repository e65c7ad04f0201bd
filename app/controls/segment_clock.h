// A seven-segment clock of two 2-digit fields with a colon between them ("15:03"). The window puts
// a value into each field on its own (minutes and seconds, or hours and minutes); unlit segments are
// drawn in the low colour, so the display looks like a real LCD.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QPainter;

namespace tunefold::controls {

class SegmentClock : public QWidget {
    Q_OBJECT
public:
    explicit SegmentClock(QWidget* parent = nullptr);

    int First() const { return first_; }
    // Clamped to 0..99.
    void SetFirst(int value);
    int Second() const { return second_; }
    void SetSecond(int value);
    // What the display reads, "mm:ss".
    QString Text() const;

    QColor HighColor() const { return high_; }
    void SetHighColor(const QColor& c);
    QColor LowColor() const { return low_; }
    void SetLowColor(const QColor& c);
    QColor BackColor() const { return back_; }
    void SetBackColor(const QColor& c);
    // Digit cell size in logical pixels, and the segment thickness.
    void SetDigitSize(int width, int height, int thickness);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintDigit(QPainter& p, int x, int digit) const;

    int first_ = 0;
    int second_ = 0;
    QColor high_{0x7d, 0xff, 0xc8};
    QColor low_{0x11, 0x22, 0x1d};
    QColor back_{0x08, 0x12, 0x10};
    int digitW_ = 10;
    int digitH_ = 17;
    int thick_ = 2;
};

} // namespace tunefold::controls
