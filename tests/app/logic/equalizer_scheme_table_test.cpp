// Every colour of the equalizer window from its slot, field by field, with the power off and on: a
// slot that reaches the wrong element here would reach the wrong element on the window too. (The
// window's own picture is checked with tests/app/windows/colour_probe.h once it exists.)
#include <gtest/gtest.h>

#include "app/logic/equalizer_colours.h"

namespace tunefold {
namespace {

using Three = std::array<std::uint32_t, 3>;

// Slot n holds 100 + n: no colour is 0 or a default, and each names its slot.
TColourSlots Marked() {
    TColourSlots slots{};
    for (int i = 0; i < ColourSlotCount; ++i) {
        slots[static_cast<std::size_t>(i)] = 100u + static_cast<std::uint32_t>(i + 1);
    }
    return slots;
}

std::uint32_t S(int n) {
    return 100u + static_cast<std::uint32_t>(n);
}

TEST(EqualizerSchemeTable, EveryElementOffAndOn) {
    const TEqualizerColours off = EqualizerColours(Marked(), false, true, 6, 7);
    EXPECT_EQ(off.spectrumBars, (Three{S(25), S(4), S(6)}));
    EXPECT_EQ(off.spectrumInactive, (Three{S(25), S(26), S(27)}));
    EXPECT_EQ(off.overflow, S(22));
    EXPECT_EQ(off.gradientEnd, S(15));
    EXPECT_EQ(off.gradientStart, S(16));
    EXPECT_EQ(off.panel, S(15));
    EXPECT_EQ(off.panelBevel, S(30));
    EXPECT_EQ(off.frequencyCaptions, S(21));
    EXPECT_EQ(off.spectrumInnerBevel, S(15));
    EXPECT_EQ(off.spectrumBorder, S(21));
    EXPECT_EQ(off.scale, (Three{S(25), S(26), S(27)}));
    EXPECT_EQ(off.dbCaptions, (Three{S(25), S(26), S(27)}));
    EXPECT_EQ(off.background, S(15));
    EXPECT_EQ(off.filePlayer, S(24));
    EXPECT_EQ(off.spectrumLabel, S(21));
    EXPECT_EQ(off.equalizerLabel, S(21));
    EXPECT_FALSE(off.bandPointsChanged) << "the band points keep their colours while off";

    const TEqualizerColours on = EqualizerColours(Marked(), true, false, 1, 7);
    EXPECT_EQ(on.spectrumBars, (Three{S(2), S(4), S(6)}));
    EXPECT_EQ(on.spectrumInactive, (Three{S(1), S(3), S(5)}));
    EXPECT_EQ(on.overflow, S(11));
    EXPECT_EQ(on.gradientEnd, S(17));
    EXPECT_EQ(on.gradientStart, S(18));
    EXPECT_EQ(on.panel, S(17));
    EXPECT_EQ(on.panelBevel, S(20));
    EXPECT_EQ(on.frequencyCaptions, S(14));
    EXPECT_EQ(on.spectrumInnerBevel, S(17));
    EXPECT_EQ(on.spectrumBorder, S(14));
    EXPECT_EQ(on.background, S(17));
    EXPECT_TRUE(on.bandPointsChanged);
    EXPECT_EQ(on.bandBrush, S(12));
    EXPECT_EQ(on.bandPen, S(14));

    // No slot but 19, 28 and 29 is left out of the two tables together with the player's.
    std::array<bool, ColourSlotCount + 1> used{};
    auto mark = [&used](std::uint32_t c) {
        if (c > 100 && c <= 100u + ColourSlotCount) {
            used[c - 100] = true;
        }
    };
    for (const TEqualizerColours& c : {off, on, EqualizerColours(Marked(), true, true, 3, 7),
                                       EqualizerColours(Marked(), true, false, 3, 7)}) {
        for (std::uint32_t v : c.spectrumBars)
            mark(v);
        for (std::uint32_t v : c.spectrumInactive)
            mark(v);
        for (std::uint32_t v : c.scale)
            mark(v);
        for (std::uint32_t v : c.dbCaptions)
            mark(v);
        for (std::uint32_t v : {c.overflow, c.gradientEnd, c.gradientStart, c.panel, c.panelBevel,
                                c.frequencyCaptions, c.spectrumInnerBevel, c.spectrumBorder, c.background,
                                c.filePlayer, c.spectrumLabel, c.equalizerLabel, c.bandBrush, c.bandPen}) {
            mark(v);
        }
    }
    for (int n : {1, 2, 3, 4, 5, 6, 8, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 24, 25, 26, 27, 30}) {
        EXPECT_TRUE(used[static_cast<std::size_t>(n)])
            << "slot " << n << " colours something on the equalizer";
    }
}

} // namespace
} // namespace tunefold
