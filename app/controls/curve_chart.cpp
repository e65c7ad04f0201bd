#include "app/controls/curve_chart.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>

#include <cmath>

namespace tunefold::controls {

CurveChart::CurveChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true); // the cursor changes over the points without a button held
}

void CurveChart::SetCurve(std::vector<QPointF> points) {
    curve_ = std::move(points);
    update();
}

void CurveChart::SetPoints(std::vector<QPointF> points) {
    points_ = std::move(points);
    update();
}

namespace {
void SetColour(QWidget& w, QColor& field, const QColor& c) {
    if (field != c) {
        field = c;
        w.update();
    }
}
} // namespace

void CurveChart::SetBackColor(const QColor& c) {
    SetColour(*this, back_, c);
}
void CurveChart::SetGridColor(const QColor& c) {
    SetColour(*this, grid_, c);
}
void CurveChart::SetLineColor(const QColor& c) {
    SetColour(*this, line_, c);
}
void CurveChart::SetPointBrush(const QColor& c) {
    SetColour(*this, brush_, c);
}
void CurveChart::SetPointPen(const QColor& c) {
    SetColour(*this, pen_, c);
}

QPointF CurveChart::ToPixel(QPointF value) const {
    const double x = (value.x() - kMinX) / (kMaxX - kMinX) * (width() - 1);
    const double y = (kMaxY - value.y()) / (kMaxY - kMinY) * (height() - 1);
    return {x, y};
}

int CurveChart::PointAt(QPoint pixel) const {
    for (std::size_t i = 0; i < points_.size(); ++i) {
        const QPointF c = ToPixel(points_[i]);
        if (std::abs(pixel.x() - c.x()) <= kPointHalfWidth + 0.5 &&
            std::abs(pixel.y() - c.y()) <= kPointHalfHeight + 0.5) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void CurveChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), back_);
    // The grid: every 10 across, every 60 up, with a dotted minor line between.
    QPen major(grid_);
    major.setCosmetic(true);
    QPen minor(grid_.darker(140));
    minor.setStyle(Qt::DotLine);
    for (int gx = 0; gx <= 100; gx += 5) {
        p.setPen(gx % 10 == 0 ? major : minor);
        const double x = ToPixel({static_cast<double>(gx), 0}).x();
        p.drawLine(QPointF(x, 0), QPointF(x, height()));
    }
    for (int gy = -120; gy <= 120; gy += 30) {
        p.setPen(gy % 60 == 0 ? major : minor);
        const double y = ToPixel({0, static_cast<double>(gy)}).y();
        p.drawLine(QPointF(0, y), QPointF(width(), y));
    }

    p.setRenderHint(QPainter::Antialiasing, true);
    if (!curve_.empty()) {
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(curve_.size()));
        for (const QPointF& v : curve_) {
            line << ToPixel(v);
        }
        QPen pen(line_, 1.5);
        p.setPen(pen);
        p.drawPolyline(line);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(pen_);
    p.setBrush(brush_);
    for (const QPointF& v : points_) {
        const QPointF c = ToPixel(v);
        p.drawRect(QRectF(std::round(c.x()) - kPointHalfWidth, std::round(c.y()) - kPointHalfHeight,
                          2 * kPointHalfWidth, 2 * kPointHalfHeight));
    }
}

void CurveChart::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const int index = PointAt(pos);
    grabbed_ = index >= 0;
    if (grabbed_) {
        emit pointPressed(index, pos.y());
    }
}

void CurveChart::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    setCursor(PointAt(pos) >= 0 || grabbed_ ? Qt::SplitVCursor : Qt::ArrowCursor);
    emit mouseMoved(pos.y());
}

void CurveChart::mouseReleaseEvent(QMouseEvent* event) {
    grabbed_ = false;
    emit mouseReleased(event->position().toPoint().y());
}

void CurveChart::contextMenuEvent(QContextMenuEvent* event) {
    // A right press that grabbed a point is a drag, not a request for the menu.
    if (grabbed_ || PointAt(event->pos()) >= 0) {
        event->accept();
        return;
    }
    event->ignore();
}

} // namespace tunefold::controls
