#include "engine/displays/level.h"
#include "engine/displays/player_displays.h"
#include "engine/framework/display_timer.h"
#include "platform/virtual/virtual_timers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace tunefold {
namespace {

// The file player's meter: 143 x 11, left channel of 16-bit stereo, 250 frames per update.
void PlayerMeter(TMMLevel& m) {
    UsePlayerMeterSettings(m, chLeft);
    m.SetBitLength(b16Bit);
    m.SetMode(mStereo);
}

std::vector<std::int16_t> Chunk(std::int16_t left, std::int16_t right, int frames = 250) {
    std::vector<std::int16_t> v;
    for (int i = 0; i < frames; ++i) {
        v.push_back(i == frames / 2 ? left : static_cast<std::int16_t>(left / 3));
        v.push_back(right);
    }
    return v;
}

// The colour of spot i (1-based) of the player's meter: one pixel wide, one pixel apart, no margin.
TColor SpotColor(TMMLevel& m, int i) {
    return m.Picture().GetPixel(1 + 2 * (i - 1), 5);
}

int LitSpotsInPicture(TMMLevel& m) {
    int lit = 0;
    for (int i = 1; i <= m.NumSpots(); ++i) {
        const TColor c = SpotColor(m, i);
        lit += c == clAqua || c == clYellow || c == clRed;
    }
    return lit;
}

TEST(LevelMeter, PlayerGeometryAndFullScale) {
    TMMLevel m;
    PlayerMeter(m);
    EXPECT_EQ(m.NumSpots(), 71);
    EXPECT_EQ(m.Zone1Spots(), 42);
    EXPECT_EQ(m.Zone2Spots(), 60);
    EXPECT_EQ(m.BytesPerUpdate(), 1000);

    int pcm = 0, gain = 0;
    m.OnPcmOverflow = [&](TObject*) { ++pcm; };
    m.OnGainOverflow = [&](TObject*) { ++gain; };
    const auto full = Chunk(32767, 0);
    m.ShowData(full.data());
    EXPECT_EQ(pcm, 1);
    EXPECT_EQ(gain, 0);
    EXPECT_EQ(m.LitSpots(), 71);
    EXPECT_EQ(LitSpotsInPicture(m), 71);
    EXPECT_EQ(SpotColor(m, 42), clAqua);
    EXPECT_EQ(SpotColor(m, 43), clYellow);
    EXPECT_EQ(SpotColor(m, 60), clYellow);
    EXPECT_EQ(SpotColor(m, 61), clRed);
    EXPECT_EQ(m.Picture().GetPixel(2, 5), clBlack);     // the gap between spots
    EXPECT_EQ(m.Picture().GetPixel(0, 0), clBtnShadow); // the lowered frame
    EXPECT_EQ(m.Value(), 100);

    // The other channel is not measured; -32768 on it is no overflow of the analysed one.
    TMMLevel r;
    PlayerMeter(r);
    r.OnPcmOverflow = [&](TObject*) { ++pcm; };
    const auto rightOnly = Chunk(0, -32768);
    r.ShowData(rightOnly.data());
    EXPECT_EQ(r.LitSpots(), 0);
    EXPECT_EQ(pcm, 1);
}

TEST(LevelMeter, MinusSeventeenAndAHalfDecibelsLightsHalf) {
    TMMLevel m;
    PlayerMeter(m);
    const auto level = static_cast<std::int16_t>(std::lround(32767 * std::pow(10.0, -17.5 / 20)));
    EXPECT_EQ(level, 4370);
    const auto chunk = Chunk(level, 0);
    m.ShowData(chunk.data());
    // Half of 71 spots, 35.5, rounds up: 4370 lies a hair above -17.5 dB.
    EXPECT_EQ(m.LitSpots(), 36);
    EXPECT_EQ(LitSpotsInPicture(m), 36);
    EXPECT_EQ(SpotColor(m, 36), clAqua);
    EXPECT_EQ(SpotColor(m, 37), clTeal);   // unlit, zone 1
    EXPECT_EQ(SpotColor(m, 50), clOlive);  // unlit, zone 2
    EXPECT_EQ(SpotColor(m, 70), clMaroon); // unlit, zone 3
    // Value reads the displayed level back in percent of full scale.
    EXPECT_EQ(m.Value(), static_cast<int>(std::lround(100 * std::pow(10.0, (-35 + 35.0 * 36 / 71) / 20))));
}

TEST(LevelMeter, StepUpDecayFallsSixTwentyFiveHundredthsOfADecibelPerUpdate) {
    TMMLevel m;
    PlayerMeter(m);
    EXPECT_NEAR(m.DecayFactor(), 0.930572, 1e-6);
    const auto loud = Chunk(30000, 0);
    const auto silence = Chunk(0, 0);
    m.ShowData(loud.data());
    int previous = m.ShownLevel();
    EXPECT_EQ(previous, 30000);
    for (int k = 1; k <= 30; ++k) {
        m.ShowData(silence.data());
        const int shown = m.ShownLevel();
        EXPECT_NEAR(20 * std::log10(static_cast<double>(shown) / previous), -0.625, 0.002) << k;
        const double dB = 20 * std::log10(shown / 32767.0);
        EXPECT_EQ(m.LitSpots(), static_cast<int>(std::nearbyint((dB + 35) * 71 / 35))) << k;
        previous = shown;
    }
    // A louder chunk replaces the decayed level at once.
    m.ShowData(loud.data());
    EXPECT_EQ(m.ShownLevel(), 30000);

    TMMLevel none;
    PlayerMeter(none);
    none.SetDecayMode(dmNone);
    none.ShowData(loud.data());
    EXPECT_GT(none.LitSpots(), 60);
    none.ShowData(silence.data());
    EXPECT_EQ(none.LitSpots(), 0);
}

TEST(LevelMeter, ExponentialAndUniformDecay) {
    TMMLevel m;
    m.SetDecay(3); // f = 0.0001^(1/8), window 4
    EXPECT_EQ(m.DecayWindow(), 4);
    m.SetDecayMode(dmUniform);
    for (int level : {4000, 8000, 12000, 16000})
        m.ApplyLevel(level);
    EXPECT_EQ(m.ShownLevel(), 10000); // mean of the last four
    m.ApplyLevel(0);
    EXPECT_EQ(m.ShownLevel(), 9000); // 4000 left the window
    m.SetDecayMode(dmExponential);   // clears the state
    m.ApplyLevel(10000);
    const double f = std::pow(0.0001, 1.0 / 8);
    EXPECT_NEAR(m.ShownLevel(), std::floor((1 - f) * 10000), 1);
}

TEST(LevelMeter, PeakHoldsFortyOneTicksThenFallsOneSpotPerTick) {
    TMMLevel m;
    PlayerMeter(m);
    const auto full = Chunk(32767, 0);
    const auto silence = Chunk(0, 0);
    m.ShowData(full.data());
    EXPECT_EQ(m.PeakSpot(), 71);
    // The bar falls below the peak first (updates do not move the peak down).
    for (int i = 0; i < 20; ++i)
        m.ShowData(silence.data());
    ASSERT_LT(m.LitSpots(), 60);
    EXPECT_EQ(m.PeakSpot(), 71);
    for (int tick = 1; tick <= 40; ++tick) {
        m.PeakTimerTick();
        ASSERT_EQ(m.PeakSpot(), 71) << tick;
    }
    m.PeakTimerTick();
    EXPECT_EQ(m.PeakSpot(), 70);
    m.PeakTimerTick();
    EXPECT_EQ(m.PeakSpot(), 69);
    // The next update draws the peak's two spots above the bar.
    m.ShowData(silence.data());
    EXPECT_EQ(SpotColor(m, 70), clMaroon);
    EXPECT_EQ(SpotColor(m, 69), clRed);
    EXPECT_EQ(SpotColor(m, 68), clRed);
    EXPECT_EQ(SpotColor(m, 67), clMaroon);

    // PeakSpeed 0: the peak vanishes when the hold ends.
    TMMLevel v;
    v.SetPeakDelay(2);
    v.ApplyLevel(32767);
    for (int tick = 0; tick < 4; ++tick)
        v.PeakTimerTick();
    EXPECT_EQ(v.PeakSpot(), v.NumSpots());
    v.PeakTimerTick();
    EXPECT_EQ(v.PeakSpot(), 0);

    m.ResetDisplay();
    EXPECT_EQ(m.PeakSpot(), 0);
    EXPECT_EQ(m.LitSpots(), 0);
    EXPECT_EQ(LitSpotsInPicture(m), 0);
}

TEST(LevelMeter, PeaksFallOnTheSharedDisplayTimer) {
    platform::VirtualTimers clock;
    platform::ScopedTimers use(clock);
    {
        TMMLevel m;
        PlayerMeter(m);
        ASSERT_TRUE(m.PeakTimerAdded());
        EXPECT_TRUE(DisplayTimerRunning());
        const auto full = Chunk(32767, 0);
        m.ShowData(full.data());
        clock.Advance(25 * 40);
        EXPECT_EQ(m.PeakSpot(), 71);
        clock.Advance(25);
        EXPECT_EQ(m.PeakSpot(), 70);
        // No peaks, or disabled: the meter's client is suspended and the peak stays.
        m.SetNumPeaks(0);
        clock.Advance(250);
        EXPECT_EQ(m.PeakSpot(), 70);
        m.SetNumPeaks(1);
        clock.Advance(25);
        EXPECT_EQ(m.PeakSpot(), 69);
        m.SetEnabled(false);
        m.ApplyLevel(32767);
        clock.Advance(250);
        m.SetEnabled(true);
        m.ShowData(full.data());
        clock.Advance(25 * 40);
        EXPECT_EQ(m.PeakSpot(), 71);
    }
    // The last display gone, the shared timer stops.
    EXPECT_FALSE(DisplayTimerRunning());
}

TEST(LevelMeter, OnceThePeakHasFallenTheTimerRestsAndTheNextPeakFallsAgain) {
    platform::VirtualTimers clock;
    platform::ScopedTimers use(clock);
    TMMLevel m;
    PlayerMeter(m);
    const auto full = Chunk(32767, 0);
    m.ShowData(full.data());
    clock.Advance(25 * 41 + 25 * 71);
    EXPECT_EQ(m.PeakSpot(), 0);
    clock.Advance(25);
    EXPECT_FALSE(DisplayTimerRunning()) << "an idle meter keeps the timer waking";
    m.ShowData(full.data());
    EXPECT_TRUE(DisplayTimerRunning());
    clock.Advance(25 * 41);
    EXPECT_EQ(m.PeakSpot(), 70);
}

TEST(LevelMeter, ChannelsEightBitGainAndLinearMapping) {
    TMMLevel m;
    PlayerMeter(m);
    m.SetChannel(chBoth);
    std::vector<std::int16_t> exact(500);
    for (int i = 0; i < 250; ++i) {
        exact[2 * i] = 1000;
        exact[2 * i + 1] = -1000;
    }
    m.ShowData(exact.data());
    EXPECT_EQ(m.LastRawLevel(), 0);

    TMMLevel e; // 8-bit mono: 255 is one step below the top
    e.SetSamples(4);
    const std::uint8_t bytes[4] = {128, 255, 0, 128};
    e.ShowData(bytes);
    EXPECT_EQ(e.LastRawLevel(), 128 * 256); // 0 is the most negative excursion
    EXPECT_EQ(e.LitSpots(), e.NumSpots());

    TMMLevel g;
    int gain = 0;
    g.OnGainOverflow = [&](TObject*) { ++gain; };
    g.SetGain(8);
    g.SetGain(33); // ignored
    EXPECT_EQ(g.Gain(), 8);
    g.ApplyLevel(16384);
    EXPECT_EQ(g.LitSpots(), g.NumSpots());
    EXPECT_EQ(gain, 0);
    g.ApplyLevel(20000);
    EXPECT_EQ(gain, 1);

    TMMLevel lin;
    lin.SetLogAmp(false);
    lin.SetSensitivy(-20); // floor at a tenth of full scale
    const int n = lin.NumSpots();
    lin.ApplyLevel(3276);
    EXPECT_EQ(lin.LitSpots(), 0);
    lin.ApplyLevel(32767);
    EXPECT_EQ(lin.LitSpots(), n);
    lin.ApplyLevel(static_cast<int>(3276.7 + (32767 - 3276.7) / 2));
    EXPECT_NEAR(lin.LitSpots(), n / 2.0, 0.6);
    EXPECT_EQ(lin.Value(), static_cast<int>(std::nearbyint(lin.LitSpots() * 100.0 / n)));
}

TEST(LevelMeter, SettersClampAndValueRepaintsOnlyOnChange) {
    TMMLevel m;
    m.SetDecay(0);
    EXPECT_EQ(m.Decay(), 1);
    m.SetDecay(20);
    EXPECT_EQ(m.Decay(), 16);
    m.SetNumPeaks(9);
    EXPECT_EQ(m.NumPeaks(), 5);
    m.SetPoint1(0);
    EXPECT_EQ(m.Point1(), 1);
    m.SetSensitivy(-100);
    EXPECT_EQ(m.Sensitivy(), -90);
    m.SetSpotSpace(11);
    EXPECT_EQ(m.SpotSpace(), 10);
    m.SetSamples(0);
    EXPECT_EQ(m.Samples(), 1);
    EXPECT_NEAR(TMMLevel().DecayFactor(), 0.0001, 1e-9);

    TMMLevel v;
    (void)v.Picture();
    const int before = v.InvalidateCount();
    v.SetValue(0);
    EXPECT_EQ(v.InvalidateCount(), before);
    v.SetValue(100);
    EXPECT_EQ(v.LitSpots(), v.NumSpots());
    EXPECT_EQ(v.Value(), 100);
    EXPECT_EQ(v.InvalidateCount(), before + 1);

    WAVEFORMATEX bad{};
    EXPECT_THROW(v.SetDisplayFormat(&bad), EMMLevelError);
    try {
        v.SetDisplayFormat(nullptr);
    } catch (const EMMLevelError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 2, 44100);
    v.SetDisplayFormat(&f);
    EXPECT_EQ(v.BitLength(), b16Bit);
    EXPECT_EQ(v.Mode(), mStereo);
}

TEST(LevelMeter, DirectionsKindsAndColourDepth) {
    TMMLevel m;
    m.SetBounds(0, 0, 22, 6); // inner 20 x 4: ten spots of one pixel plus a gap
    EXPECT_EQ(m.NumSpots(), 10);
    m.SetDirection(dirReversed);
    m.SetValue(100);
    m.SetDecayMode(dmNone);
    m.ApplyLevel(32767 / 10); // -20 dB: 15/35 of the spots
    const int lit = m.LitSpots();
    ASSERT_GT(lit, 0);
    ASSERT_LT(lit, 10);
    // From the right: spot 1 is the rightmost.
    EXPECT_EQ(m.Picture().GetPixel(1 + 20 - 1 - 0, 2), clAqua);
    EXPECT_NE(m.Picture().GetPixel(1, 2), clAqua);

    m.SetKind(lkVertical);
    EXPECT_EQ(m.Width(), 6);
    EXPECT_EQ(m.Height(), 22);

    TMMLevel d;
    d.SetBar1Color(0x123456);
    d.ApplyLevel(32767);
    const TColor at8 = d.Picture().GetPixel(1, 5);
    EXPECT_EQ(at8, PaletteColor(0x123456));
    EXPECT_NE(at8, 0x123456u);
    d.SetBitsPerPixel(24);
    EXPECT_EQ(d.Picture().GetPixel(1, 5), 0x123456u);
    EXPECT_THROW(d.SetBitsPerPixel(16), EMMDIBError);
    EXPECT_EQ(d.BitsPerPixel(), 24);

    // The custom drawing replaces the spots.
    int calls = 0;
    d.OnDrawBar = [&](TObject*, TRaster& canvas, int peak, int spots, const TRect& r) {
        ++calls;
        EXPECT_EQ(spots, d.NumSpots());
        EXPECT_EQ(peak, d.NumSpots());
        canvas.FillRect(r, clFuchsia);
    };
    d.Invalidate();
    EXPECT_EQ(d.Picture().GetPixel(1, 5), clFuchsia);
    EXPECT_EQ(calls, 1);
}

TEST(LevelScale, PlayerLabelsAndTheirColours) {
    TMMLevelScale s;
    s.SetBounds(0, 0, 143, 9);
    s.SetScaleTicks(9);
    s.SetPoint1(60);
    s.SetSensitivy(-24);
    const int expected[9] = {0, -3, -6, -9, -12, -15, -18, -21, -24};
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(s.LabelValue(k), expected[k]);
    EXPECT_EQ(s.LabelStep(), 1);
    // The loudest label sits at the right in the top zone's colour; the quietest at the left.
    const TRaster& p = s.Picture();
    int redRight = 0, whiteLeft = 0;
    for (int y = 0; y < 9; ++y) {
        for (int x = 130; x < 143; ++x)
            redRight += p.GetPixel(x, y) == clRed;
        for (int x = 0; x < 13; ++x)
            whiteLeft += p.GetPixel(x, y) == clWhite;
    }
    EXPECT_GT(redRight, 0);
    EXPECT_GT(whiteLeft, 0);

    s.SetBounds(0, 0, 50, 9); // too narrow for nine labels
    EXPECT_GT(s.LabelStep(), 1);

    s.SetLogAmp(false);
    EXPECT_EQ(s.LabelValue(0), 0);
    EXPECT_EQ(s.LabelValue(8), -24);
    EXPECT_EQ(s.LabelValue(4),
              static_cast<int>(std::nearbyint(20 * std::log10((2067.4 + (32767 - 2067.4) * 4 / 8) / 32767))));
}

} // namespace
} // namespace tunefold
