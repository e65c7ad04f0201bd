// Our 5 x 7 dot font for the dot-matrix lines and the lit labels: printable ASCII and the common
// Latin-1 letters. A character it has no glyph for has none here, and the displays show it blank.
#pragma once

#include <array>
#include <cstdint>

namespace tunefold::controls {

constexpr int kGlyphColumns = 5;
constexpr int kGlyphRows = 7;
// Row bits, top row first; bit 4 is the leftmost column.
using Glyph = std::array<std::uint8_t, kGlyphRows>;

// Null when the font has no glyph for `code` (a Unicode code point).
const Glyph* FindGlyph(char32_t code);

} // namespace tunefold::controls
