// The CD player window: a shaped panel of the equalizer window's size that sits above it, with the
// 5 x 5 track grid, the track and count panels, the elapsed and length clocks, two level meters,
// the state lights, the seek bar, the keys (Play, Pause, Stop, previous, next, "Open...",
// "Playlist", "Recent Files"), the power switch, the volume wheel and a small key that hides it.
// Hidden at start; the player's menu and `tunefold --cd-player` show it. It holds the CD player's
// controller, wires every control to its handler and paints only the controller's view.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <memory>
#include <string>

#include "app/logic/cd_player.h"
#include "app/windows/window_face.h"

namespace tunefold {
class TMMLEDPanel;
class TMMLevelScale;
} // namespace tunefold

namespace tunefold::controls {
class CalendarGrid;
class FaceButton;
class LitLabel;
class PowerSwitch;
class RasterHost;
class RotaryWheel;
class SegmentClock;
class TrackBar;
} // namespace tunefold::controls

namespace tunefold::windows {

class EqualizerWindow;
class MainWindow;

class CdPlayerWindow : public QWidget, public TCdPlayerWindow {
public:
    static constexpr int kWidth = 545;
    static constexpr int kHeight = 182;

    // Made after the equalizer window, whose line-in route it plays through; `programFolder` holds
    // skin0.bmp. `device` null: the process's CD drive.
    CdPlayerWindow(MainWindow& main, EqualizerWindow& equalizer, const std::string& programFolder,
                   TCdRoute route = TCdRoute::Auto, platform::CdAudioDevice* device = nullptr,
                   QWidget* parent = nullptr);
    ~CdPlayerWindow() override;
    CdPlayerWindow(const CdPlayerWindow&) = delete;
    CdPlayerWindow& operator=(const CdPlayerWindow&) = delete;

    TCdPlayer& Controller() const { return *cd_; }
    bool Shaped() const { return shaped_; }
    // Where the window goes when shown: with the main window's left edge, one window height
    // above the equalizer window when there is room.
    static void PlaceAbove(int mainLeft, int mainTop, int height, int& left, int& top);

    // ---- TCdPlayerWindow ----
    void ViewChanged() override;
    void ProcessMessages() override;
    void ShowWindow(bool show) override;

    controls::FaceButton* RzBmpButton1 = nullptr; // Play
    controls::FaceButton* RzBmpButton2 = nullptr; // Pause
    controls::FaceButton* RzBmpButton3 = nullptr; // Stop
    controls::FaceButton* RzBmpButton5 = nullptr; // previous track
    controls::FaceButton* RzBmpButton6 = nullptr; // next track
    controls::FaceButton* RzBmpButton7 = nullptr; // Open...
    controls::FaceButton* RzBmpButton8 = nullptr; // Playlist
    controls::FaceButton* RzBmpButton9 = nullptr; // Recent Files
    controls::FaceButton* RzBmpButton4 = nullptr; // hide
    controls::PowerSwitch* VrSwitch1 = nullptr;
    controls::RotaryWheel* MMWheel1 = nullptr;
    controls::SegmentClock* VrClock2 = nullptr; // ELAPSED
    controls::SegmentClock* VrClock3 = nullptr; // LENGTH
    controls::CalendarGrid* VrCalendar1 = nullptr;
    controls::TrackBar* RzTrackBar1 = nullptr;
    controls::LitLabel* Label9 = nullptr;  // PLAY
    controls::LitLabel* Label10 = nullptr; // STOP
    controls::LitLabel* Label11 = nullptr; // PAUSE
    controls::LitLabel* LabelPR = nullptr;
    controls::LitLabel* LabelTR = nullptr;
    controls::LitLabel* LabelL = nullptr;
    controls::LitLabel* LabelR = nullptr;
    controls::LitLabel* LabelDB = nullptr;
    controls::LitLabel* LabelElapsed = nullptr;
    controls::LitLabel* LabelLength = nullptr;
    controls::LitLabel* LabelRoute = nullptr;                // "DIGITAL" or "LINE IN"
    TMMLEDPanel& MMLEDPanel1() const { return *ledPanel1_; } // PR
    TMMLEDPanel& MMLEDPanel2() const { return *ledPanel2_; } // TR

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void Wire();
    void Apply();

    MainWindow& main_;
    QImage outline_;
    bool shaped_ = false;
    std::unique_ptr<TCdPlayer> cd_;
    std::unique_ptr<TMMLEDPanel> ledPanel1_;
    std::unique_ptr<TMMLEDPanel> ledPanel2_;
    std::unique_ptr<TMMLevelScale> levelScale_;
    controls::RasterHost* ledHost1_ = nullptr;
    controls::RasterHost* ledHost2_ = nullptr;
    controls::RasterHost* meterHost1_ = nullptr;
    controls::RasterHost* meterHost2_ = nullptr;
    controls::RasterHost* scaleHost_ = nullptr;
    bool applying_ = false;
    FaceDrag drag_;
};

} // namespace tunefold::windows
