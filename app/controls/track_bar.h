// A horizontal seek bar: a recessed track in the track colour with a thumb at the position. The bar
// leaves seeking to its window: a left press reports the position as it is, dragging moves the thumb
// to the mouse and reports each new position, the release reports where it ended. A press that does
// not move changes nothing. Setting the position from code moves the thumb and emits
// positionChanged, as dragging does.
// Presses of every button stay with the control, so a press on it never drags the window it sits on
// (see BlotterPanel); only the left button works it.
#pragma once

#include <QColor>
#include <QWidget>

namespace tunefold::controls {

class TrackBar : public QWidget {
    Q_OBJECT
public:
    explicit TrackBar(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    // Max below min is taken as min; the position is clamped into the new range.
    void SetRange(int min, int max);
    void SetMax(int max) { SetRange(min_, max); }
    int Position() const { return position_; }
    // Clamped into the range; no signal when unchanged.
    void SetPosition(int position);
    QColor TrackColor() const { return track_; }
    void SetTrackColor(const QColor& c);
    bool Dragging() const { return dragging_; }

    // The position a mouse at logical x stands for.
    int PositionAt(int x) const;

    QSize sizeHint() const override { return {200, 14}; }

signals:
    void mousePressed(int position);
    void mouseMoved(int position);
    void mouseReleased(int position);
    void positionChanged(int position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int ThumbWidth() const { return 9; }
    // The thumb's centre runs between these logical x.
    int TrackLeft() const { return ThumbWidth() / 2; }
    int TrackRight() const { return width() - 1 - ThumbWidth() / 2; }

    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    QColor track_{0x7d, 0xff, 0xc8};
    bool dragging_ = false;
};

} // namespace tunefold::controls
