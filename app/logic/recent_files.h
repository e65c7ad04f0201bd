// The recent files of the popup menu: nine paths in the settings key, newest first, shared by every
// instance of the player.
#pragma once

#include <array>
#include <string>

#include "app/logic/file_player_view.h"

namespace tunefold {

// Enters `path` as the newest recent file, unless it is already one of the nine (then it keeps its
// place). Paths compare exactly: file names are case-sensitive here. The shift and the new entry
// are stored as one update, so a crash or another instance never sees half a shift.
void mrud_write(const std::string& path);

// Fills the menu's nine items from the stored values. An empty value leaves its item as it was; a
// used one gets the caption "&<n> <path>", shows, and enables the submenu. Nothing changes when the
// settings key does not exist.
void mrud_read(std::array<TRecentItem, 9>& items, bool& submenuEnabled);

} // namespace tunefold
