// The equalizer's chart: a line series (the curve) and a point series (the band points, drawn as
// rectangles) over fixed axes, horizontal 0 .. 100 and vertical -120 .. 120, with a grid and
// nothing else (no axes, labels, legend, zoom or panning). The curve runs over the whole area.
// A press of any mouse button on a point reports the point; moves and releases over the chart are
// reported as they come, for the window's drag. The cursor splits vertically over a point.
#pragma once

#include <QColor>
#include <QPointF>
#include <QWidget>

#include <vector>

namespace tunefold::controls {

class CurveChart : public QWidget {
    Q_OBJECT
public:
    static constexpr double kMinX = 0.0;
    static constexpr double kMaxX = 100.0;
    static constexpr double kMinY = -120.0;
    static constexpr double kMaxY = 120.0;
    // The point rectangles' half sizes in pixels.
    static constexpr int kPointHalfWidth = 6;
    static constexpr int kPointHalfHeight = 3;

    explicit CurveChart(QWidget* parent = nullptr);

    // Chart units; points outside the horizontal range are kept but not seen.
    void SetCurve(std::vector<QPointF> points);
    const std::vector<QPointF>& Curve() const { return curve_; }
    void SetPoints(std::vector<QPointF> points);
    const std::vector<QPointF>& Points() const { return points_; }

    void SetBackColor(const QColor& c);
    void SetGridColor(const QColor& c);
    void SetLineColor(const QColor& c);
    void SetPointBrush(const QColor& c);
    void SetPointPen(const QColor& c);
    QColor BackColor() const { return back_; }
    QColor PointBrush() const { return brush_; }
    QColor PointPen() const { return pen_; }

    // Chart units to widget pixels and back.
    QPointF ToPixel(QPointF value) const;
    // The point whose rectangle holds `pixel`, or -1.
    int PointAt(QPoint pixel) const;

signals:
    void pointPressed(int index, int y);
    void mouseMoved(int y);
    void mouseReleased(int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    std::vector<QPointF> curve_;
    std::vector<QPointF> points_;
    QColor back_{Qt::black};
    QColor grid_{0x30, 0x30, 0x30};
    QColor line_{Qt::green};
    QColor brush_{Qt::red};
    QColor pen_{Qt::green};
    bool grabbed_ = false; // a press on a point: its right button opens no menu
};

} // namespace tunefold::controls
