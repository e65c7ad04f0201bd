#include "app/logic/equalizer_colours.h"

namespace tunefold {

TEqualizerColours EqualizerColours(const TColourSlots& slots, bool powerOn, bool chartShown,
                                   int spectrumKindIndex, std::uint32_t previousFilePlayer) {
    const auto col = [&slots](int n) { return slots[static_cast<std::size_t>(n - 1)]; };
    TEqualizerColours c;
    c.filePlayer = previousFilePlayer;
    if (!powerOn) {
        c.spectrumBars = {col(25), col(4), col(6)};
        c.spectrumInactive = {col(25), col(26), col(27)};
        c.overflow = col(22);
        c.gradientEnd = col(15);
        c.gradientStart = col(16);
        c.panel = col(15);
        c.panelBevel = col(30);
        c.frequencyCaptions = col(21);
        c.spectrumInnerBevel = col(15);
        c.spectrumBorder = col(21);
        c.scale = {col(25), col(26), col(27)};
        c.dbCaptions = {col(25), col(26), col(27)};
        c.background = col(15);
        c.filePlayer = col(24);
        c.spectrumLabel = col(21);
        c.equalizerLabel = col(21);
        return c;
    }
    c.spectrumBars = {col(2), col(4), col(6)};
    c.spectrumInactive = {col(1), col(3), col(5)};
    c.overflow = col(11);
    c.gradientEnd = col(17);
    c.gradientStart = col(18);
    c.panel = col(17);
    c.panelBevel = col(20);
    c.frequencyCaptions = col(14);
    c.spectrumInnerBevel = col(17);
    c.spectrumBorder = col(14);
    c.background = col(17);
    // The scale is lit for the bar kinds while the spectrum shows.
    const bool barKind = spectrumKindIndex >= 2 && spectrumKindIndex <= 5;
    c.scale =
        barKind && !chartShown ? std::array{col(2), col(4), col(6)} : std::array{col(1), col(3), col(5)};
    if (spectrumKindIndex == 6 || chartShown) {
        c.dbCaptions = {col(2), col(4), col(6)};
    } else {
        c.dbCaptions = {col(1), col(3), col(5)};
        c.filePlayer = col(8);
    }
    c.spectrumLabel = chartShown ? col(13) : col(14);
    c.equalizerLabel = chartShown ? col(14) : col(13);
    c.bandPointsChanged = true;
    c.bandBrush = col(12);
    c.bandPen = col(14);
    return c;
}

} // namespace tunefold
