// The file player's window: the face "skin0.bmp" cut to its outline, with the displays, buttons,
// track bar, wheel and power switch of the player on it. It holds the player's controller, wires
// every control to the controller's handler and paints only what the controller's view says (in
// the colours of the current slots). It is also the controller's window side: it shows and hides
// the compact panel and the desktop cover, and answers for the dialogs only a window system has.
#pragma once

#include "app/windows/transport_buttons.h"

#include <QImage>
#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/file_player_view.h"
#include "app/logic/player_colours.h"

class QMimeData;

namespace tunefold {
class TFilePlayer;
class TMMLEDMode;
class TMMLEDPanel;
class TMMLevelScale;
} // namespace tunefold

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

class CompactPanel;
class DesktopCover;
class PlayerMenu;

// The local files among dropped urls, in their order.
std::vector<std::string> DroppedFiles(const QMimeData* data);

class MainWindow : public QWidget, public TFilePlayerWindow {
public:
    static constexpr int kWidth = 547;
    static constexpr int kHeight = 182;
    // A scrolling line moves one character this often.
    static constexpr int kScrollMs = 150;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    TFilePlayer& Player() const { return *player_; }
    PlayerMenu& Menu() const { return *menu_; }
    // The face as loaded: the embedded skin0.bmp, or a plain dark face when it cannot be read.
    const QImage& Face() const { return face_; }
    // The compact panel and the cover, once they exist (null again when they go).
    void SetCompanions(CompactPanel* compact, DesktopCover* cover);
    CompactPanel* Compact() const { return compact_; }
    DesktopCover* Cover() const { return cover_; }

    // The scheme's colours (SetColors): everything is repainted with them.
    void SetColourSlots(const TColourSlots& colours);
    const TColourSlots& ColourSlots() const { return slots_; }
    TPlayerColours Colours() const;

    // Runs once, after the window was first shown and painted: the start's settings and its file.
    std::function<void()> OnFirstShow;
    // The window is closing (Exit, or the window system's close): the place to save the settings.
    std::function<void()> OnClosing;
    // "Preferences..." was chosen: the composition root shows the dialog.
    std::function<void()> OnPreferences;
    // After the window showed a change of the player's view (the desktop's media interface).
    std::function<void()> OnViewChanged;

    // ---- TFilePlayerWindow ----
    void ViewChanged() override;
    void ProcessMessages() override;
    bool EditPlaylist(std::vector<std::string>& list, std::string& listFileName, std::size_t index) override;
    void ShowPreferences() override;
    void ShowAbout() override;
    void ShowHelp() override;
    void ShowMain(bool show) override;
    void ShowCompact(bool show) override;
    void ShowCover(bool show) override;
    bool MainVisible() const override { return isVisible(); }
    bool CompactVisible() const override;

    // The help file's page of contents: Tunefold.html in the program's folder, else the installed
    // copy (<exe dir>/../share/tunefold), else the build tree's (<exe dir>/share/tunefold); empty
    // when there is none.
    static QString HelpUrl();
    // How many times the help was asked for (the browser itself is the desktop's).
    int HelpRequests() const { return helpRequests_; }
    // The lines' scroll step runs only while a line is too long for its display.
    bool ScrollTimerRunning() const { return scrollTimer_.isActive(); }

    // The controls.
    controls::DotMatrix* VrMatrix1 = nullptr;
    controls::DotMatrix* VrMatrix2 = nullptr;
    controls::SegmentClock* VrClock1 = nullptr; // time of day
    controls::SegmentClock* VrClock2 = nullptr; // elapsed
    controls::SegmentClock* VrClock3 = nullptr; // length
    controls::LitLabel* Label9 = nullptr;       // PLAY
    controls::LitLabel* Label11 = nullptr;      // PAUSE
    controls::LitLabel* Label10 = nullptr;      // STOP
    controls::LitLabel* lblLayer = nullptr;
    controls::LitLabel* lblLayer2 = nullptr;
    controls::LitLabel* lblBitRate = nullptr; // "KBit/s" or "Bit"
    controls::TrackBar* RzTrackBar1 = nullptr;
    controls::FaceButton* RzBmpButton1 = nullptr; // Play
    controls::FaceButton* RzBmpButton2 = nullptr; // Pause/Unpause
    controls::FaceButton* RzBmpButton3 = nullptr; // Stop
    controls::FaceButton* RzBmpButton5 = nullptr; // Previous
    controls::FaceButton* RzBmpButton6 = nullptr; // Next
    controls::FaceButton* RzBmpButton7 = nullptr; // File Open...
    controls::FaceButton* RzBmpButton8 = nullptr; // Playlist Editor...
    // The same seven buttons with the handler each runs.
    std::array<TransportButton, kPlayerButtonCount> transport_{};
    controls::PowerSwitch* VrSwitch1 = nullptr;
    controls::RotaryWheel* MMWheel1 = nullptr;
    TMMLEDPanel& MMLEDPanel1() const { return *ledPanel1_; } // PR
    TMMLEDPanel& MMLEDPanel2() const { return *ledPanel2_; } // TR
    TMMLEDPanel& LedBitRate() const { return *ledBitRate_; }
    TMMLEDPanel& LedRate() const { return *ledRate_; }
    TMMLEDMode& LedMode() const { return *ledMode_; }
    controls::RasterHost* Meter1Host() const { return meterHost1_; }
    controls::RasterHost* Meter2Host() const { return meterHost2_; }
    TMMLevelScale& MMLevelScale1() const { return *levelScale_; }
    controls::RasterHost* ScaleHost() const { return scaleHost_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildDisplays();
    void Wire();
    // Puts the view and the colours on the controls.
    void Apply();
    void ApplyColours(const TPlayerColours& c);
    void ShowTimeOfDay();
    void StepLines();

    QImage face_;
    TColourSlots slots_{};
    std::unique_ptr<TFilePlayer> player_;
    PlayerMenu* menu_ = nullptr;
    CompactPanel* compact_ = nullptr;
    DesktopCover* cover_ = nullptr;

    // The counters, rates and the stereo lamp are the engine's LEDs, shown through raster hosts.
    std::unique_ptr<TMMLEDPanel> ledPanel1_;
    std::unique_ptr<TMMLEDPanel> ledPanel2_;
    std::unique_ptr<TMMLEDPanel> ledBitRate_;
    std::unique_ptr<TMMLEDPanel> ledRate_;
    std::unique_ptr<TMMLEDMode> ledMode_;
    std::array<controls::RasterHost*, 5> ledHosts_{};
    controls::RasterHost* meterHost1_ = nullptr;
    controls::RasterHost* meterHost2_ = nullptr;
    // The decibel scale under the meters.
    std::unique_ptr<TMMLevelScale> levelScale_;
    controls::RasterHost* scaleHost_ = nullptr;
    std::array<controls::LitLabel*, 6> captions_{}; // PR, TR, CLOCK, ELAPSED, LENGTH, KHz

    std::optional<TPlayerColours> shownColours_;
    std::uint32_t shownWheelColour_ = 0xFFFFFFFF;

    QTimer scrollTimer_;
    QTimer clockTimer_;
    bool applying_ = false; // the controls are being set from the view: their signals are ours
    bool firstShown_ = false;
    bool dragging_ = false;
    QPoint dragOffset_; // the press point relative to the window's top left
    int helpRequests_ = 0;
};

} // namespace tunefold::windows
