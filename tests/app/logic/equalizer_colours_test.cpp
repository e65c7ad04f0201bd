#include <gtest/gtest.h>

#include "app/logic/equalizer_colours.h"

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

TEST(EqualizerColoursTest, PowerViewAndKindChooseTheSlots) {
    const TEqualizerColours off = EqualizerColours(Numbered(), false, false, 1, 99);
    EXPECT_EQ(off.spectrumBars, (std::array<std::uint32_t, 3>{25, 4, 6}));
    EXPECT_EQ(off.overflow, 22u);
    EXPECT_EQ(off.filePlayer, 24u);
    EXPECT_EQ(off.spectrumLabel, 21u);
    EXPECT_FALSE(off.bandPointsChanged);

    // On, the scrolling spectrum: unlit scale, the dB captions and "FILE PLAYER" from their rows.
    const TEqualizerColours scroll = EqualizerColours(Numbered(), true, false, 1, 99);
    EXPECT_EQ(scroll.scale, (std::array<std::uint32_t, 3>{1, 3, 5}));
    EXPECT_EQ(scroll.dbCaptions, (std::array<std::uint32_t, 3>{1, 3, 5}));
    EXPECT_EQ(scroll.filePlayer, 8u);
    EXPECT_EQ(scroll.spectrumLabel, 14u);
    EXPECT_EQ(scroll.equalizerLabel, 13u);
    // The bar kinds light the scale; the sixth kind lights the dB captions and keeps "FILE PLAYER".
    EXPECT_EQ(EqualizerColours(Numbered(), true, false, 3, 99).scale,
              (std::array<std::uint32_t, 3>{2, 4, 6}));
    const TEqualizerColours vlines = EqualizerColours(Numbered(), true, false, 6, 99);
    EXPECT_EQ(vlines.dbCaptions, (std::array<std::uint32_t, 3>{2, 4, 6}));
    EXPECT_EQ(vlines.filePlayer, 99u);
    // The curve editor: unlit scale whatever the kind, labels swapped, band points repainted.
    const TEqualizerColours chart = EqualizerColours(Numbered(), true, true, 3, 99);
    EXPECT_EQ(chart.scale, (std::array<std::uint32_t, 3>{1, 3, 5}));
    EXPECT_EQ(chart.spectrumLabel, 13u);
    EXPECT_EQ(chart.equalizerLabel, 14u);
    EXPECT_TRUE(chart.bandPointsChanged);
    EXPECT_EQ(chart.bandBrush, 12u);
    EXPECT_EQ(chart.bandPen, 14u);
}

} // namespace
} // namespace tunefold
