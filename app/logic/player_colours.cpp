#include "app/logic/player_colours.h"

namespace tunefold {

namespace {

// Slot n (1-based, as the scheme numbers them).
struct Slots {
    const TColourSlots& s;
    std::uint32_t operator()(int n) const { return s[static_cast<std::size_t>(n - 1)]; }
};

} // namespace

TPlayerColours PlayerColours(const TColourSlots& slots, const TFilePlayerView& view) {
    const Slots col{slots};
    const bool on = view.powerOn;
    TPlayerColours c;
    c.track = view.trackEnabled ? col(14) : col(15);
    c.leds = on ? TTwoColours{col(13), col(14)} : TTwoColours{col(21), col(14)};
    c.matrix = c.leds;
    c.meterInactive = on ? std::array{col(1), col(3), col(5)} : std::array{col(25), col(26), col(27)};
    c.meterBars = {col(2), col(4), col(6)};
    c.mode = on ? TTwoColours{col(11), col(12)} : TTwoColours{col(22), col(12)};
    c.layer = view.layerLit ? col(14) : (on ? col(13) : col(21));
    c.play = view.playLit ? col(8) : (on ? col(7) : col(24));
    c.stop = view.stopLit ? col(12) : (on ? col(11) : col(22));
    c.pause = view.pauseLit ? col(10) : (on ? col(9) : col(23));
    c.gradientEnd = on ? col(17) : col(15);
    c.gradientStart = on ? col(18) : col(16);
    c.background = on ? col(17) : col(15);
    c.captions = on ? col(14) : col(21);
    c.scale = on ? std::array{col(2), col(4), col(6)} : std::array{col(25), col(26), col(27)};
    c.bevel = on ? col(20) : col(30);
    c.clock = on ? TTwoColours{col(13), col(14)} : TTwoColours{col(15), col(21)};
    c.compactLeds = c.leds;
    c.compactBackground = c.background;
    c.compactClock = c.clock;
    c.compactBevel = c.bevel;
    c.compactCaptions = c.captions;
    return c;
}

} // namespace tunefold
