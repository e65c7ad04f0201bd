#include "engine/displays/leds.h"

#include <gtest/gtest.h>

#include <string>

namespace tunefold {
namespace {

// What each slot shows, leftmost first: "_" blank, "-" minus, else the digit.
std::string Shown(TMMLEDPanel& p) {
    std::string s;
    for (int slot = p.NumDigits() - 1; slot >= 0; --slot) {
        const TMMLEDDigit& d = p.Digit(slot);
        if (d.DisplayType() == ltMinus)
            s += '-';
        else if (d.FrameIndex() == 0)
            s += '_';
        else
            s += static_cast<char>('0' + d.FrameIndex() - 1);
    }
    return s;
}

TMMLEDPanel& PlayerPanel(TMMLEDPanel& p, int digits) {
    p.SetNumDigits(digits);
    p.SetDigitSize(ls08x13);
    p.SetLEDSpace(2);
    p.SetZeroBlank(true);
    p.SetLEDColor(clAqua);
    p.SetInactiveColor(clTeal);
    p.SetMinValue(-999);
    p.SetMaxValue(320);
    return p;
}

TEST(LedPanel, BlankingRuleOnTheBitRateReadout) {
    TMMLEDPanel p;
    PlayerPanel(p, 3);
    p.SetValue(128);
    EXPECT_EQ(Shown(p), "128");
    p.SetValue(64);
    EXPECT_EQ(Shown(p), "_64");
    p.SetValue(0);
    EXPECT_EQ(Shown(p), "__0");
    p.SetValue(105);
    EXPECT_EQ(Shown(p), "105");
    p.SetValue(5);
    EXPECT_EQ(Shown(p), "__5");
    p.SetValue(10);
    EXPECT_EQ(Shown(p), "_10");
    p.SetValue(-42);
    EXPECT_EQ(Shown(p), "-42");
    p.SetZeroBlank(false);
    p.SetValue(7);
    EXPECT_EQ(Shown(p), "007");
}

TEST(LedPanel, TwoDigitsLoseTheHundredsAndClamp) {
    TMMLEDPanel p;
    p.SetZeroBlank(true);
    int changes = 0;
    p.OnChange = [&](TObject*) { ++changes; };
    p.SetValue(100);
    EXPECT_EQ(Shown(p), "_0");
    EXPECT_EQ(changes, 1);
    p.SetValue(150); // clamped to 100: unchanged, no event
    EXPECT_EQ(p.Value(), 100);
    EXPECT_EQ(changes, 1);
    p.SetZeroBlank(false);
    EXPECT_EQ(Shown(p), "00");
    p.SetValue(-5); // below MinValue 0
    EXPECT_EQ(p.Value(), 0);

    p.SetNumDigits(10);
    p.SetNumDigits(0);
    EXPECT_EQ(p.NumDigits(), 2);
    p.SetValue(37);
    p.SetEnabled(false);
    EXPECT_EQ(Shown(p), "__");
    p.SetEnabled(true);
    EXPECT_EQ(Shown(p), "37");
}

TEST(LedPanel, LayoutFollowsDigitsSpaceAndBevel) {
    TMMLEDPanel p;
    PlayerPanel(p, 3);
    const int e = p.Bevel().BevelExtent();
    EXPECT_EQ(e, 1);
    EXPECT_EQ(p.Width(), 2 * e + 3 * (7 + 2) - 2);
    EXPECT_EQ(p.Height(), 2 * e + 13);
    EXPECT_EQ(p.Digit(2).Left(), e);
    EXPECT_EQ(p.Digit(1).Left(), e + 9);
    EXPECT_EQ(p.Digit(0).Left(), e + 18);
    p.SetBounds(5, 5, 500, 500); // the panel keeps its own size
    EXPECT_EQ(p.Width(), 2 * e + 25);
    p.Bevel().SetBorderWidth(2);
    EXPECT_EQ(p.Width(), 2 * 3 + 25);
    EXPECT_EQ(p.Digit(2).Top(), 3);

    // The picture: the units digit 8 lights all its segments in the LED colour.
    p.SetValue(8);
    const TRaster& pic = p.Picture();
    int lit = 0, unlitInTens = 0;
    for (int y = 0; y < pic.Height(); ++y)
        for (int x = 0; x < pic.Width(); ++x) {
            const TColor c = pic.GetPixel(x, y);
            if (x >= p.Digit(0).Left() && c == clAqua)
                ++lit;
            if (x >= p.Digit(1).Left() && x < p.Digit(1).Left() + 7 && c == clTeal)
                ++unlitInTens;
        }
    EXPECT_GT(lit, 10);
    EXPECT_EQ(unlitInTens, lit); // a blank tens digit shows all segments unlit
}

TEST(LedDigit, RangeCascadeAndSharedStrips) {
    TMMLEDDigit d;
    EXPECT_EQ(d.Width(), 11); // ls13x21 frames are 11 x 21
    EXPECT_EQ(d.Height(), 21);
    d.SetMinValue(12);
    EXPECT_EQ(d.MinValue(), 0);
    d.SetValue(7);
    d.SetMaxValue(5); // narrowing clips the value
    EXPECT_EQ(d.Value(), 5);
    d.SetValue(8); // out of range: ignored
    EXPECT_EQ(d.Value(), 5);
    d.SetMaxValue(9);

    TMMLEDDigit tens, hundreds;
    d.SetConnect(&tens);
    tens.SetConnect(&hundreds);
    d.SetCascadeValues(true);
    tens.SetCascadeValues(true);
    d.SetValue(472);
    EXPECT_EQ(d.Value(), 2);
    EXPECT_EQ(tens.Value(), 7);
    EXPECT_EQ(hundreds.Value(), 4);
    int forward = 0;
    d.OnRollForward = [&](TObject*) { ++forward; };
    d.SetValue(9);
    d.SetValue(10);
    EXPECT_EQ(forward, 1);
    EXPECT_EQ(tens.Value(), 1);

    // Same look: one cache entry used three times; a new colour gets its own entry.
    const TMMLEDStripCache::Key key{false, ls13x21, true, clBlack, clGreen, clLime};
    EXPECT_EQ(TMMLEDStripCache::UseCount(key), 3);
    const int entries = TMMLEDStripCache::EntryCount();
    hundreds.SetLEDColor(clRed);
    EXPECT_EQ(TMMLEDStripCache::UseCount(key), 2);
    EXPECT_EQ(TMMLEDStripCache::EntryCount(), entries + 1);
    {
        TMMLEDDigit temp;
        temp.SetLEDColor(clYellow);
        EXPECT_EQ(TMMLEDStripCache::EntryCount(), entries + 2);
    }
    EXPECT_EQ(TMMLEDStripCache::EntryCount(), entries + 1); // freed with its last user

    // Recolouring roles: lit segments, unlit segments, background.
    d.SetValue(8);
    d.SetColor(clNavy);
    const TRaster& pic = d.Picture();
    bool sawLit = false, sawUnlit = false, sawBack = false;
    for (Pixel px : pic.Pixels()) {
        const TColor c = PixelToColor(px);
        sawLit |= c == clLime;
        sawUnlit |= c == clGreen;
        sawBack |= c == clNavy;
        EXPECT_TRUE(c == clLime || c == clNavy) << std::hex << c; // 8 lights every segment
    }
    EXPECT_TRUE(sawLit && sawBack && !sawUnlit);
    d.SetValue(1);
    d.SetDrawInactive(false);
    for (Pixel px : d.Picture().Pixels())
        EXPECT_NE(PixelToColor(px), clGreen);
    d.SetDisplayType(ltColon);
    EXPECT_EQ(d.FrameIndex(), 2);
    d.SetEnabled(false);
    EXPECT_EQ(d.FrameIndex(), 0);
}

TEST(LedMode, FramesFollowModeAndEnabledStretched) {
    TMMLEDMode m;
    m.SetLEDColor(clRed);
    m.SetInactiveColor(clMaroon);
    EXPECT_EQ(m.Width(), 27);
    EXPECT_EQ(m.FrameIndex(), 1);
    auto count = [&](TColor c) {
        int n = 0;
        for (Pixel px : m.Picture().Pixels())
            n += PixelToColor(px) == c;
        return n;
    };
    const int monoLit = count(clRed);
    m.SetMode(mStereo);
    EXPECT_EQ(m.FrameIndex(), 2);
    const int stereoLit = count(clRed);
    EXPECT_GT(stereoLit, monoLit);
    m.SetEnabled(false);
    EXPECT_EQ(m.FrameIndex(), 0);
    EXPECT_EQ(count(clRed), 0);
    EXPECT_GT(count(clMaroon), 0);
    m.SetEnabled(true);
    m.SetBounds(0, 0, 54, 22); // stretched: four times the pixels
    EXPECT_EQ(count(clRed), 4 * stereoLit);
}

} // namespace
} // namespace tunefold
