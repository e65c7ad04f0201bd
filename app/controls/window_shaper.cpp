#include "app/controls/window_shaper.h"

#include <QBitmap>
#include <QWidget>

namespace tunefold::controls {

QRegion WindowShaper::MaskRegion(const QImage& face) {
    if (face.isNull()) {
        return {};
    }
    // Alpha and any padding byte are not part of the colour: compare the RGB of an opaque copy.
    const QImage rgb = face.convertToFormat(QImage::Format_RGB32);
    const QImage mask = rgb.createMaskFromColor(qRgb(0xFF, 0xFF, 0xFF), Qt::MaskInColor);
    return QRegion(QBitmap::fromImage(mask));
}

void WindowShaper::Apply(QWidget& widget, const QImage& face) {
    const QRegion region = MaskRegion(face);
    if (region == QRegion(face.rect())) {
        widget.clearMask();
        return;
    }
    widget.setMask(region);
}

} // namespace tunefold::controls
