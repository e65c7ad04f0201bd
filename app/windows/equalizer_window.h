// The equalizer window: a shaped panel above the main window with the curve chart (ten band points
// dragged over the 120-point curve) and a level scale beside it, the spectrum of what is heard in
// the same place, the power switch, the output volume wheel, the view and preset keys and the
// source indicator. It holds the equalizer's controller, wires every control to its handler and
// paints only the controller's view in the main window's colour slots. Its outline is cut from
// the white pixels of skin0.bmp.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/logic/colour_scheme.h"
#include "app/logic/equalizer_controller.h"
#include "app/windows/window_face.h"
#include "engine/displays/level.h"

namespace tunefold::controls {
class CaptionStrip;
class CurveChart;
class FaceButton;
class LitLabel;
class PowerSwitch;
class RasterHost;
class RotaryWheel;
} // namespace tunefold::controls

namespace tunefold::windows {

class MainWindow;

class EqualizerWindow : public QWidget, public TEqualizerWindow {
public:
    static constexpr int kWidth = 545;
    static constexpr int kHeight = 182;
    // Where the chart and the spectrum lie; the chart is 99 pixels high, as the drag's scale expects.
    static constexpr QRect kChart{52, 30, 340, 99};

    // Made right after the main window, whose player, colours and menu it uses; `programFolder`
    // holds skin0.bmp and normal.eq0.
    EqualizerWindow(MainWindow& main, const std::string& programFolder, QWidget* parent = nullptr);
    ~EqualizerWindow() override;
    EqualizerWindow(const EqualizerWindow&) = delete;
    EqualizerWindow& operator=(const EqualizerWindow&) = delete;

    TEqualizerController& Controller() const { return *eq_; }
    // False when skin0.bmp could not be read: the outline is then the plain rectangle.
    bool Shaped() const { return shaped_; }

    // Re-applies the scheme colours (the preferences dialog calls it after a change).
    void SetEqColors(const TColourSlots& colours);

    // ---- TEqualizerWindow ----
    void ViewChanged() override;
    void ShowWindow(bool show) override;
    bool WindowVisible() const override { return isVisible(); }
    int ChartHeight() const override { return kChart.height(); }

    controls::CurveChart* Chart1 = nullptr;
    controls::RasterHost* SpectrumHost = nullptr;
    controls::RasterHost* ScaleHost = nullptr; // the level scale beside the chart
    controls::PowerSwitch* VrSwitch1 = nullptr;
    controls::RotaryWheel* MMMixerWheel1 = nullptr;
    controls::FaceButton* RzBmpButton7 = nullptr;  // Spectrum
    controls::FaceButton* RzBmpButton8 = nullptr;  // Equalizer
    controls::FaceButton* RzBmpButton1 = nullptr;  // Reset Equalizer
    controls::FaceButton* RzBmpButton2 = nullptr;  // Open Equalizer Settings...
    controls::FaceButton* RzBmpButton3 = nullptr;  // Save Equalizer Settings...
    controls::FaceButton* RzBmpButton5 = nullptr;  // hidden: CD
    controls::FaceButton* RzBmpButton6 = nullptr;  // hidden: PL
    controls::LitLabel* Label1 = nullptr;          // OVERFLOW
    controls::LitLabel* Label2 = nullptr;          // SPECTRUM
    controls::LitLabel* Label3 = nullptr;          // EQUALIZER
    controls::LitLabel* Label5 = nullptr;          // FILE PLAYER
    controls::LitLabel* Label6 = nullptr;          // CD PLAYER, never shown
    controls::CaptionStrip* Label4 = nullptr;      // the frequencies under the chart
    std::array<controls::LitLabel*, 7> DbLabels{}; // Label8 .. Label14: +20 .. -20

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void Wire();
    void Apply();

    MainWindow& main_;
    QImage outline_;
    bool shaped_ = false;
    TColourSlots slots_{};
    std::unique_ptr<TMMLevelScale> levelScale_;
    std::unique_ptr<TEqualizerController> eq_;
    std::uint32_t filePlayerColour_ = 0; // what "FILE PLAYER" was last painted in
    std::uint32_t gradientStart_ = 0;
    std::uint32_t gradientEnd_ = 0;
    std::uint32_t panelBevel_ = 0;
    bool applying_ = false;
    FaceDrag drag_;
};

} // namespace tunefold::windows
