#include "app/windows/desktop_cover.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "app/logic/file_player.h"
#include "app/windows/main_window.h"
#include "app/windows/player_menu.h"

namespace tunefold::windows {

DesktopCover::DesktopCover(MainWindow& main)
    : QWidget(nullptr, Qt::FramelessWindowHint), main_(&main), player_(&main.Player()) {
    setWindowTitle(QStringLiteral("BackgroundF"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    main.Menu().AttachTo(*this);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(screen->geometry());
    }
}

DesktopCover::~DesktopCover() {
    Detach();
}

void DesktopCover::Detach() {
    main_ = nullptr;
    player_ = nullptr;
}

void DesktopCover::ShowOverScreen() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(screen->geometry());
    }
    armed_ = false;
    show();
}

void DesktopCover::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), Qt::black);
}

void DesktopCover::Activated() {
    if (player_ != nullptr) {
        player_->CoverActivated();
    }
}

void DesktopCover::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        Activated();
    }
}

void DesktopCover::contextMenuEvent(QContextMenuEvent* event) {
    if (main_ != nullptr) {
        main_->Menu().Sync(player_->View());
        main_->Menu().Popup(event->globalPos());
    }
}

void DesktopCover::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isVisible()) {
        return;
    }
    if (!isActiveWindow()) {
        armed_ = true;
        return;
    }
    if (armed_) {
        Activated();
        return;
    }
    // The window system's own activation after the show: the player's window goes back in front.
    if (main_ != nullptr && main_->isVisible()) {
        main_->raise();
        main_->activateWindow();
    }
}

void DesktopCover::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    armed_ = false;
}

} // namespace tunefold::windows
