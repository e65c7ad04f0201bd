// The program's folder on first start, and the main window's face from it.
#pragma once

#include <optional>
#include <string>

#include "engine/framework/raster.h"

namespace tunefold {

// Makes the program's folder if it is missing and puts our skin0.bmp into it when it holds none, so
// a user finds the picture there to change it. False when the folder cannot be made or the file not
// written (the program then goes on with its embedded skin).
bool SeedProgramFolder(const std::string& folder);

// "skin0.bmp" of the program's folder alone (a regular file of sane size that reads as a bitmap);
// none when it is missing or unreadable.
std::optional<TRaster> ReadSkinFile(const std::string& folder);

// "skin0.bmp" of the program's folder (a regular file of sane size that reads as a bitmap), else
// the embedded one; none when neither reads.
std::optional<TRaster> LoadSkin(const std::string& folder);

} // namespace tunefold
