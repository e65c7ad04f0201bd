#include "app/controls/raster_host.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>

#include "engine/framework/controls.h"

namespace tunefold::controls {

namespace {

TMouseButton ButtonOf(Qt::MouseButton b) {
    switch (b) {
    case Qt::RightButton:
        return mbRight;
    case Qt::MiddleButton:
        return mbMiddle;
    default:
        return mbLeft;
    }
}

TShiftState ShiftOf(const QMouseEvent& e) {
    // The framework's shift state bits: shift, alt, ctrl, then left, right, middle.
    TShiftState s = 0;
    const Qt::KeyboardModifiers m = e.modifiers();
    if (m & Qt::ShiftModifier)
        s |= 1u << 0;
    if (m & Qt::AltModifier)
        s |= 1u << 1;
    if (m & Qt::ControlModifier)
        s |= 1u << 2;
    const Qt::MouseButtons b = e.buttons();
    if (b & Qt::LeftButton)
        s |= 1u << 3;
    if (b & Qt::RightButton)
        s |= 1u << 4;
    if (b & Qt::MiddleButton)
        s |= 1u << 5;
    return s;
}

} // namespace

RasterHost::RasterHost(TMMControl& control, QWidget* parent) : QWidget(parent), control_(control) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(control_.Width(), control_.Height());
    control_.OnInvalidate = [this] { Invalidated(); };
}

RasterHost::~RasterHost() {
    control_.OnInvalidate = nullptr;
}

void RasterHost::Invalidated() {
    // Engine displays change on the GUI thread; should one ever be touched elsewhere, the repaint
    // is still asked for on the widget's own thread.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this] { Invalidated(); }, Qt::QueuedConnection);
        return;
    }
    if (width() != control_.Width() || height() != control_.Height()) {
        setFixedSize(control_.Width(), control_.Height());
    }
    update();
}

QImage RasterToImage(const TRaster& raster) {
    if (raster.IsEmpty()) {
        return {};
    }
    QImage image(raster.Width(), raster.Height(), QImage::Format_RGB32);
    for (int y = 0; y < raster.Height(); ++y) {
        const Pixel* src = raster.Row(y);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < raster.Width(); ++x) {
            dst[x] = 0xFF000000u | src[x];
        }
    }
    return image;
}

QImage RasterHost::Image() const {
    return RasterToImage(control_.Picture());
}

void RasterHost::paintEvent(QPaintEvent*) {
    ++repaints_;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(QRect(0, 0, control_.Width(), control_.Height()), Image());
}

void RasterHost::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    control_.MouseDown(ButtonOf(event->button()), ShiftOf(*event), pos.x(), pos.y());
}

void RasterHost::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    control_.MouseMove(ShiftOf(*event), pos.x(), pos.y());
}

void RasterHost::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    control_.MouseUp(ButtonOf(event->button()), ShiftOf(*event), pos.x(), pos.y());
    if (event->button() == Qt::LeftButton && rect().contains(pos)) {
        control_.Click();
    }
}

} // namespace tunefold::controls
