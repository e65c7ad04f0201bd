// Cuts a window's outline from its face picture: every pixel of exact white (0xFFFFFF) is outside
// the window, every other pixel inside. The picture is in logical pixels, as the window is.
#pragma once

#include <QImage>
#include <QRegion>

class QWidget;

namespace tunefold::controls {

class WindowShaper {
public:
    // The region of the picture's pixels that are not exact white.
    static QRegion MaskRegion(const QImage& face);
    // Applies that region as the widget's mask; a picture without white pixels clears the mask.
    static void Apply(QWidget& widget, const QImage& face);
};

} // namespace tunefold::controls
