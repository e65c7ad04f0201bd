// Pictures the widget tests leave in build/screenshots/ for a person to look at.
#pragma once

#include <QBuffer>
#include <QImage>
#include <QRegion>
#include <QWidget>

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/atomic_file.h"
#include "qt/qt_test_support.h"

namespace tunefold::test {

// Writes `image` as build/screenshots/`name` (PNG), whole or not at all.
inline bool SavePng(const QImage& image, const std::string& name) {
    std::filesystem::create_directories(ScreenshotDir());
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        return false;
    }
    return platform::ReplaceFileContents(
        (ScreenshotDir() / name).string(),
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
        platform::ReplaceOptions{.mode = -1, .tempPath = {}, .sync = false});
}

// The window as the desktop shows it at `dpr`: what its mask cuts away is transparent.
inline QImage Shaped(QWidget& w, qreal dpr = 1.0) {
    QImage image = Render(w, dpr).convertToFormat(QImage::Format_ARGB32);
    const QRegion mask = w.mask();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!mask.isEmpty() &&
                !mask.contains(QPoint(static_cast<int>(x / dpr), static_cast<int>(y / dpr)))) {
                image.setPixel(x, y, qRgba(0, 0, 0, 0));
            }
        }
    }
    return image;
}

} // namespace tunefold::test
