// The compact panel: a narrow black strip with the transport buttons, the elapsed and length clocks
// and the entry counters of the file player, a second face of the same controller. Its buttons run
// the controller's handlers, its displays show the controller's view, and it carries the player's
// popup menu. A press of any mouse button on the panel, its clocks, labels or counters drags it;
// the buttons keep their presses. It is placed at the top right of the screen that holds the main
// window whenever the program starts.
#pragma once

#include "app/windows/transport_buttons.h"

#include <QPoint>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

#include "app/logic/file_player_view.h"
#include "app/logic/player_colours.h"

namespace tunefold {
class TFilePlayer;
class TMMLEDPanel;
} // namespace tunefold

namespace tunefold::controls {
class BlotterPanel;
class FaceButton;
class LitLabel;
class RasterHost;
class SegmentClock;
} // namespace tunefold::controls

namespace tunefold::windows {

class MainWindow;

class CompactPanel : public QWidget {
public:
    static constexpr int kWidth = 396;
    static constexpr int kHeight = 44;

    explicit CompactPanel(MainWindow& main);
    ~CompactPanel() override;

    // The main window goes first: nothing is reported to it any more.
    void Detach();
    // The top right corner of the screen that holds the main window.
    void PlaceAtTopRight();
    // Paints the view in the panel's colours.
    void Apply(const TFilePlayerView& view, const TPlayerColours& colours);
    bool Dragging() const { return dragging_; }

    controls::BlotterPanel* VrBlotter1 = nullptr;
    controls::FaceButton* RzBmpButton1 = nullptr; // Play
    controls::FaceButton* RzBmpButton2 = nullptr; // Pause/Unpause
    controls::FaceButton* RzBmpButton3 = nullptr; // Stop
    controls::FaceButton* RzBmpButton5 = nullptr; // Previous
    controls::FaceButton* RzBmpButton6 = nullptr; // Next
    controls::FaceButton* RzBmpButton7 = nullptr; // File Open...
    controls::FaceButton* RzBmpButton8 = nullptr; // Playlist Editor...
    // The same seven buttons with the handler each runs.
    std::array<TransportButton, kPlayerButtonCount> transport_{};
    controls::SegmentClock* VrClock2 = nullptr;              // elapsed
    controls::SegmentClock* VrClock3 = nullptr;              // length
    TMMLEDPanel& MMLEDPanel1() const { return *ledPanel1_; } // PR
    TMMLEDPanel& MMLEDPanel2() const { return *ledPanel2_; } // TR
    controls::RasterHost* CounterHost(int i) const { return ledHosts_.at(static_cast<std::size_t>(i)); }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Build();
    void Wire();
    void ApplyColours(const TPlayerColours& colours);

    MainWindow* main_;
    TFilePlayer* player_;
    std::unique_ptr<TMMLEDPanel> ledPanel1_;
    std::unique_ptr<TMMLEDPanel> ledPanel2_;
    std::array<controls::RasterHost*, 2> ledHosts_{};
    std::array<controls::LitLabel*, 4> captions_{}; // ELAPSED, LENGTH, PR, TR
    std::optional<TPlayerColours> shownColours_;
    // The drag: the point in the panel's coordinates where the button went down.
    bool dragging_ = false;
    QPoint dragStart_;
};

} // namespace tunefold::windows
