// The file player's popup menu, shared by the main window, the compact panel and the desktop cover:
// every item wired to its handler on the controller, captions and shortcuts as the player names
// them, check marks and enabled states taken from the controller's view. Each window that shows the
// menu attaches the actions to itself, so the shortcuts work on whichever of them is active.
#pragma once

#include <QObject>
#include <QPoint>

#include <array>
#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace tunefold {
class TFilePlayer;
struct TFilePlayerView;
} // namespace tunefold

namespace tunefold::windows {

class PlayerMenu : public QObject {
public:
    PlayerMenu(TFilePlayer& player, QWidget* owner);
    ~PlayerMenu() override;
    PlayerMenu(const PlayerMenu&) = delete;
    PlayerMenu& operator=(const PlayerMenu&) = delete;

    QMenu& Menu() const { return *menu_; }
    // The actions with shortcuts become the window's own, so its key presses reach them.
    void AttachTo(QWidget& window) const;
    void Popup(QPoint global) const;
    // Enabled states, check marks and the recent files from the view.
    void Sync(const TFilePlayerView& view);

    // "E&xit": what closing the player means is the main window's business.
    std::function<void()> OnExit;
    // "Show CD Player": the CD player window is the program's to show.
    std::function<void()> OnShowCdPlayer;

    QAction* Open1 = nullptr;
    QAction* Playlist1 = nullptr;
    QAction* RecentFiles1 = nullptr;
    std::array<QAction*, 9> Recent{}; // N11 .. N91
    QAction* Play1 = nullptr;
    QAction* Pause1 = nullptr;
    QAction* Stop1 = nullptr;
    QAction* Previous1 = nullptr;
    QAction* Next1 = nullptr;
    QAction* Preferences1 = nullptr;
    QAction* Info1 = nullptr;
    QAction* Help1 = nullptr;
    QAction* CompactPanel1 = nullptr;
    QAction* ShowEqualizer1 = nullptr;
    QAction* ShowFilePlayer1 = nullptr;
    QAction* ShowCdPlayer1 = nullptr;
    QAction* HideDesktop1 = nullptr;
    QAction* Exit1 = nullptr;

private:
    QAction* Item(const char* caption, const QKeySequence& shortcut, std::function<void()> handler);
    // Runs a handler, then puts the marks back as the view says: a checkable item flips its own
    // mark when chosen, even when the handler declines (the last visible window is never hidden).
    void Run(const std::function<void()>& handler);

    TFilePlayer& player_;
    QMenu* menu_ = nullptr;
    QMenu* recentMenu_ = nullptr;
};

} // namespace tunefold::windows
