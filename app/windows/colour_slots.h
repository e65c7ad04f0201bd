// The 30 colour slots the player's windows paint with until the stored scheme is loaded: the
// built-in "Standard" table. This is the one place the windows take their first colours from; the
// start-up that loads the user's scheme hands its slots to MainWindow::SetColourSlots instead.
#pragma once

#include "app/logic/player_colours.h"

namespace tunefold::windows {

TColourSlots StartColourSlots();

// Unlit dots and segments drawn in the scheme's unlit colour at full strength read as lit ones on a
// small display (every digit an "8"): they are shown as that colour seen through the dark glass,
// `percent` of it over the glass colour.
std::uint32_t ThroughGlass(std::uint32_t unlit, std::uint32_t glass, int percent = 35);

} // namespace tunefold::windows
