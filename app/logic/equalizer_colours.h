// The colours of the equalizer window, from the 30 scheme slots: what it paints with, by its power
// switch, the view shown (the curve editor or the spectrum) and the spectrum kind.
#pragma once

#include <array>
#include <cstdint>

#include "app/logic/colour_scheme.h"

namespace tunefold {

struct TEqualizerColours {
    std::array<std::uint32_t, 3> spectrumBars{};
    std::array<std::uint32_t, 3> spectrumInactive{};
    std::uint32_t overflow = 0; // "OVERFLOW" unlit
    std::uint32_t gradientEnd = 0;
    std::uint32_t gradientStart = 0;
    std::uint32_t panel = 0;      // the display panel
    std::uint32_t panelBevel = 0; // its shadow and highlight
    std::uint32_t frequencyCaptions = 0;
    std::uint32_t spectrumInnerBevel = 0;      // inner light and inner shadow
    std::uint32_t spectrumBorder = 0;          // border space
    std::array<std::uint32_t, 3> scale{};      // the level scale
    std::array<std::uint32_t, 3> dbCaptions{}; // "+6" "0" "-6" / "+15" "-15" / "+20" "-20"
    std::uint32_t background = 0;              // the level scale, the spectrum and the chart
    std::uint32_t filePlayer = 0;              // "FILE PLAYER" ("CD PLAYER" is never shown)
    std::uint32_t spectrumLabel = 0;           // "SPECTRUM"
    std::uint32_t equalizerLabel = 0;          // "EQUALIZER"
    bool bandPointsChanged = false;            // with the power on, the band points are repainted:
    std::uint32_t bandBrush = 0;               //   brush
    std::uint32_t bandPen = 0;                 //   and pen
};

// `previousFilePlayer` is the colour "FILE PLAYER" has now: some states leave it as it is.
TEqualizerColours EqualizerColours(const TColourSlots& slots, bool powerOn, bool chartShown,
                                   int spectrumKindIndex, std::uint32_t previousFilePlayer);

} // namespace tunefold
