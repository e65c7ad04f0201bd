// The seven transport and file buttons that the main window and the compact panel both carry, in
// the faces' order with their hints, and which of the player's handlers each one runs.
#pragma once

#include <QPoint>
#include <QSize>
#include <QWidget>

#include <array>

#include "app/controls/face_button.h"
#include "app/logic/file_player_view.h"

namespace tunefold::windows {

struct TransportButton {
    controls::FaceButton* button = nullptr;
    TPlayerButton handler;
};

// Made on `parent` in a row from `origin`, each `size`, `spacing` apart, with `gapBeforeOpen`
// more in front of the file buttons: Previous, Play, Pause/Unpause, Stop, Next, File Open...,
// Playlist Editor....
std::array<TransportButton, kPlayerButtonCount>
MakeTransportButtons(QWidget* parent, QPoint origin, QSize size, int spacing, int gapBeforeOpen);

} // namespace tunefold::windows
