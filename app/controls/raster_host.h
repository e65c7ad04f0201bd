// Shows an engine display (a TMMControl that paints into its own raster) in a Qt window. The host
// repaints only when the control invalidates itself and forwards the mouse to it in control
// coordinates. At a device pixel ratio above 1 the raster is scaled by whole pixels, nearest
// neighbour, so the display's pixel art stays sharp. The host takes the control's OnInvalidate slot
// for its life and empties it when it goes.
#pragma once

#include <QImage>
#include <QWidget>

namespace tunefold {
class TMMControl;
class TRaster;
} // namespace tunefold

namespace tunefold::controls {

// An engine raster as an opaque QImage (the raster's 0x00RRGGBB pixels are RGB32 once the unused
// byte reads as opaque). Empty for an empty raster.
QImage RasterToImage(const TRaster& raster);

class RasterHost : public QWidget {
    Q_OBJECT
public:
    // The control must outlive the host.
    explicit RasterHost(TMMControl& control, QWidget* parent = nullptr);
    ~RasterHost() override;
    RasterHost(const RasterHost&) = delete;
    RasterHost& operator=(const RasterHost&) = delete;

    TMMControl& Control() const { return control_; }
    // How often the host repainted (tests count repaints against invalidations).
    int Repaints() const { return repaints_; }
    // The control's picture as shown.
    QImage Image() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Invalidated();

    TMMControl& control_;
    int repaints_ = 0;
};

} // namespace tunefold::controls
