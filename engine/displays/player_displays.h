// The player's own settings of its displays: the file player's two level meters and the equalizer
// window's spectrum analyzer. The stream format (bits, channels, rate) is left to the caller: in the
// player the connector hands it over.
#pragma once

#include "engine/displays/level.h"
#include "engine/displays/spectrum.h"

namespace tunefold {

// 143 x 11, 250 frames per update, yellow middle zone from 60 %, two peaks, step-up decay 7,
// -35 dB sensitivity, logarithmic, 24 bits per pixel (the main window switches its meters to 24).
void UsePlayerMeterSettings(TMMLevel& meter, TMMChannel channel);
// 260 x 103 with a lowered aqua inner line and one pixel of border space (a 256 x 99 drawing area),
// 256-point transform of the left channel, step-up decay 7, vertical scale 20, frequency scale 2,
// 3 dB gain, yellow middle zone from 60 %, no info label.
void UsePlayerSpectrumSettings(TMMSpectrum& spectrum, TMMSpectrumKind kind);
// The equalizer window steps its spectrum through six kinds in an order of its own: index 1 .. 6
// is scroll, bars, dots, lines, peaks, vertical lines. False for another index.
bool SpectrumKindForIndex(int index, TMMSpectrumKind& kind);

} // namespace tunefold
