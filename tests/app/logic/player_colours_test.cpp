#include <gtest/gtest.h>

#include "app/logic/player_colours.h"

namespace tunefold {
namespace {

// Slot n holds n, so every colour names the slot it came from.
TColourSlots Numbered() {
    TColourSlots slots{};
    for (int i = 0; i < 30; ++i) {
        slots[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(i + 1);
    }
    return slots;
}

TEST(PlayerColoursTest, PowerAndLitFlagsChooseTheSlots) {
    TFilePlayerView view;
    view.powerOn = false;
    view.stopLit = true;
    TPlayerColours off = PlayerColours(Numbered(), view);
    EXPECT_EQ(off.leds.unlit, 21u);
    EXPECT_EQ(off.leds.lit, 14u);
    EXPECT_EQ(off.stop, 12u); // lit stays lit with the power off
    EXPECT_EQ(off.play, 24u);
    EXPECT_EQ(off.pause, 23u);
    EXPECT_EQ(off.layer, 21u);
    EXPECT_EQ(off.clock.lit, 21u);
    EXPECT_EQ(off.clock.unlit, 15u);
    EXPECT_EQ(off.background, 15u);
    EXPECT_EQ(off.bevel, 30u);
    EXPECT_EQ(off.track, 15u);
    EXPECT_EQ(off.meterInactive, (std::array<std::uint32_t, 3>{25, 26, 27}));

    view.powerOn = true;
    view.stopLit = false;
    view.playLit = true;
    view.layerLit = true;
    view.trackEnabled = true;
    TPlayerColours on = PlayerColours(Numbered(), view);
    EXPECT_EQ(on.leds.unlit, 13u);
    EXPECT_EQ(on.stop, 11u);
    EXPECT_EQ(on.play, 8u);
    EXPECT_EQ(on.layer, 14u);
    EXPECT_EQ(on.clock.lit, 14u);
    EXPECT_EQ(on.clock.unlit, 13u);
    EXPECT_EQ(on.gradientStart, 18u);
    EXPECT_EQ(on.gradientEnd, 17u);
    EXPECT_EQ(on.track, 14u);
    EXPECT_EQ(on.scale, (std::array<std::uint32_t, 3>{2, 4, 6}));
    EXPECT_EQ(on.compactBevel, 20u);
    EXPECT_EQ(on.compactCaptions, 14u);
}

} // namespace
} // namespace tunefold
