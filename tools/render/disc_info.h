// tunefold-render's CD side: what the disc in the drive is, from its table of contents and the
// title database.
#pragma once

#include <iosfwd>
#include <string>

namespace tunefold::render {

// Under the virtual platform with TUNEFOLD_VIRTUAL_CD set: empty when the layout file reads, else
// why it does not. Empty in every other case.
std::string VirtualDiscProblem();

// Prints the DiscID, artist, title, the tracks with their names and lengths, and the play order of
// the disc in the drive, as the CD player's watcher reads them from cdplayer.ini. Returns the exit
// status: 0, or 1 when there is no drive or no audio disc in it.
int PrintDiscInfo(std::ostream& out, std::ostream& err);

} // namespace tunefold::render
