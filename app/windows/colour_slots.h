// The 30 colour slots the player's windows paint with until the stored scheme is loaded: the
// built-in "Standard" table. This is the one place the windows take their first colours from; the
// start-up that loads the user's scheme hands its slots to MainWindow::SetColourSlots instead.
#pragma once

#include "app/logic/player_colours.h"

namespace tunefold::windows {

TColourSlots StartColourSlots();

} // namespace tunefold::windows
