// The desktop cover: a black borderless window over the whole primary screen that the user puts
// behind the player's windows ("Hide Desktop") and that goes away when it is clicked or activated.
// It carries the player's popup menu.
//
// Qt activates a window of its own accord right after it is shown, before the player's windows are
// brought in front of it; that activation must not close it. So an activation counts only once the
// cover has lost the focus after being shown, that is, once the user can have chosen it.
#pragma once

#include <QWidget>

namespace tunefold {
class TFilePlayer;
}

namespace tunefold::windows {

class MainWindow;

class DesktopCover : public QWidget {
public:
    explicit DesktopCover(MainWindow& main);
    ~DesktopCover() override;

    void Detach();
    // Sized to the primary screen at its origin, then shown.
    void ShowOverScreen();
    // An activation now would close the cover.
    bool Armed() const { return armed_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Activated();

    MainWindow* main_;
    TFilePlayer* player_;
    bool armed_ = false;
};

} // namespace tunefold::windows
