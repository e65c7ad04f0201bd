// The colours of the file player's faces, from the 30 scheme slots: what the main window and the
// compact panel paint with, by the power switch and the labels' lit flags.
#pragma once

#include <array>
#include <cstdint>

#include "app/logic/colour_scheme.h"
#include "app/logic/file_player_view.h"

namespace tunefold {

struct TTwoColours {
    std::uint32_t unlit = 0;
    std::uint32_t lit = 0;
    bool operator==(const TTwoColours&) const = default;
};

struct TPlayerColours {
    std::uint32_t track = 0; // the seek bar's track
    TTwoColours leds;        // PR, TR, bit rate and rate: unlit and lit segments
    TTwoColours matrix;      // dot-matrix lines: low and high palette colour
    std::array<std::uint32_t, 3> meterInactive{};
    std::array<std::uint32_t, 3> meterBars{};
    TTwoColours mode;        // the stereo lamp
    std::uint32_t layer = 0; // "LAYER" and its number, as lit or unlit now
    std::uint32_t play = 0;
    std::uint32_t stop = 0;
    std::uint32_t pause = 0;
    std::uint32_t gradientEnd = 0;
    std::uint32_t gradientStart = 0;
    std::uint32_t background = 0; // display panel, clocks, LED panels, matrices, meters, scale, seek bar
    std::uint32_t captions = 0;   // "CLOCK", "L", "R", "dB", "ELAPSED", "PR", "TR", "LENGTH", ...
    std::array<std::uint32_t, 3> scale{};
    std::uint32_t bevel = 0; // the display panel's shadows and highlights
    TTwoColours clock;       // unlit (low) and lit (high) segments of the clocks
    // The compact panel's own: LED panels, background, clocks, bevel and captions.
    TTwoColours compactLeds;
    std::uint32_t compactBackground = 0;
    TTwoColours compactClock;
    std::uint32_t compactBevel = 0;
    std::uint32_t compactCaptions = 0;
    bool operator==(const TPlayerColours&) const = default;
};

TPlayerColours PlayerColours(const TColourSlots& slots, const TFilePlayerView& view);

} // namespace tunefold
