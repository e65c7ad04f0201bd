// Helpers of the widget tests: rendering a widget at a chosen device pixel ratio, and sending mouse
// events straight to a widget (with the buttons held that a drag needs, which QTest's own helpers do
// not carry across a move).
#pragma once

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

#include <filesystem>

namespace tunefold::test {

// The widget painted into an image of its size times `dpr` device pixels, opaque black beneath.
inline QImage Render(QWidget& widget, qreal dpr = 1.0) {
    QImage image(widget.size() * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::black);
    widget.render(&image);
    return image;
}

inline void SendMouse(QWidget& widget, QEvent::Type type, QPoint local, Qt::MouseButton button,
                      Qt::MouseButtons held) {
    const QPointF pos(local);
    QMouseEvent event(type, pos, pos, widget.mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}
inline void Press(QWidget& w, QPoint p, Qt::MouseButton b = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseButtonPress, p, b, b);
}
inline void Move(QWidget& w, QPoint p, Qt::MouseButtons held = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseMove, p, Qt::NoButton, held);
}
inline void Release(QWidget& w, QPoint p, Qt::MouseButton b = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseButtonRelease, p, b, Qt::NoButton);
}

// build/screenshots, where the screenshot tests leave their pictures for a person to look at.
inline std::filesystem::path ScreenshotDir() {
    return std::filesystem::path(TUNEFOLD_BINARY_DIR) / "screenshots";
}

} // namespace tunefold::test
