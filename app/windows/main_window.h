// The file player's window, as a skeleton: the face "skin0.bmp" cut to its outline, and the
// controls the player shows placed on it in their resting state ("NO FILE", clocks at 00:00,
// everything but the power switch disabled). The controller is wired in later; this class only
// builds the face, moves the window when its face is dragged, and quits on Ctrl+Q.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <memory>

class QAction;
class QMenu;

namespace tunefold {
class TMMLEDPanel;
}

namespace tunefold::controls {
class DotMatrix;
class FaceButton;
class LitLabel;
class PowerSwitch;
class RasterHost;
class RotaryWheel;
class SegmentClock;
class TrackBar;
} // namespace tunefold::controls

namespace tunefold::windows {

class MainWindow : public QWidget {
public:
    static constexpr int kWidth = 547;
    static constexpr int kHeight = 182;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The face as loaded: the embedded skin0.bmp, or a plain dark face when it cannot be read.
    const QImage& Face() const { return face_; }

    // The controls, for the controller that will drive them.
    controls::DotMatrix* VrMatrix1 = nullptr;
    controls::DotMatrix* VrMatrix2 = nullptr;
    controls::SegmentClock* VrClock1 = nullptr;
    controls::SegmentClock* VrClock2 = nullptr;
    controls::SegmentClock* VrClock3 = nullptr;
    controls::LitLabel* Label9 = nullptr;  // PLAY
    controls::LitLabel* Label11 = nullptr; // PAUSE
    controls::LitLabel* Label10 = nullptr; // STOP
    controls::LitLabel* lblLayer = nullptr;
    controls::LitLabel* lblLayer2 = nullptr;
    controls::TrackBar* RzTrackBar1 = nullptr;
    controls::FaceButton* RzBmpButton1 = nullptr; // Play
    controls::FaceButton* RzBmpButton2 = nullptr; // Pause/Unpause
    controls::FaceButton* RzBmpButton3 = nullptr; // Stop
    controls::FaceButton* RzBmpButton5 = nullptr; // Previous
    controls::FaceButton* RzBmpButton6 = nullptr; // Next
    controls::FaceButton* RzBmpButton7 = nullptr; // File Open...
    controls::FaceButton* RzBmpButton8 = nullptr; // Playlist Editor...
    controls::PowerSwitch* VrSwitch1 = nullptr;
    controls::RotaryWheel* MMWheel1 = nullptr;
    QAction* Exit1 = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BuildControls();

    QImage face_;
    QMenu* popup_ = nullptr;
    // The PR and TR counters are the engine's LED panels, shown through raster hosts.
    std::unique_ptr<TMMLEDPanel> ledPanel1_;
    std::unique_ptr<TMMLEDPanel> ledPanel2_;
    controls::RasterHost* ledHost1_ = nullptr;
    controls::RasterHost* ledHost2_ = nullptr;
    bool dragging_ = false;
    QPoint dragOffset_; // the press point relative to the window's top left
};

} // namespace tunefold::windows
