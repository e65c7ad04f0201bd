// The program's resources (bitmaps, cursors, strings), embedded into the binaries at build time and
// looked up by name: the file name of the resource without its extension, compared without regard
// to case ("LCD_08X13" finds resources/LCD_08X13.bmp).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engine/framework/raster.h"

namespace tunefold {

struct TResourceEntry {
    const char* name;
    const std::uint8_t* data;
    std::size_t size;
};

// None when no resource has that name.
std::optional<std::span<const std::uint8_t>> FindResource(std::string_view name);
// The named bitmap resource decoded; none when missing or not a readable bitmap.
std::optional<TRaster> LoadBitmapResource(std::string_view name);
std::vector<std::string_view> ResourceNames();

} // namespace tunefold
