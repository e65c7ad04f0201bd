#include "engine/displays/player_displays.h"
#include "engine/displays/spectrum.h"
#include "engine/framework/display_timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/virtual/virtual_timers.h"

namespace tunefold {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The equalizer window's analyzer: 260 x 103 with a lowered aqua inner line and one pixel of space.
void PlayerSpectrum(TMMSpectrum& s) {
    UsePlayerSpectrumSettings(s, skScroll);
    s.SetMode(mStereo);
    s.SetBitLength(b16Bit);
    s.SetSampleRate(44100);
    s.SetBitsPerPixel(24);
}

// Interleaved 16-bit stereo: the left channel carries `left(i)`, the right silence.
template <class F>
std::vector<std::int16_t> Stereo(int frames, F left) {
    std::vector<std::int16_t> v(static_cast<std::size_t>(2 * frames), 0);
    for (int i = 0; i < frames; ++i)
        v[2 * static_cast<std::size_t>(i)] = static_cast<std::int16_t>(left(i));
    return v;
}

std::vector<std::int16_t> SineAtBin(int bin, int n, double amplitude) {
    return Stereo(n, [&](int i) { return std::lround(amplitude * std::sin(2 * kPi * bin * i / n)); });
}

// A few tones of falling loudness: something in every part of the picture.
std::vector<std::int16_t> Music(int n, int phase) {
    return Stereo(n, [&](int i) {
        const double x = 2 * kPi * (i + phase) / n;
        return std::lround(3000 * std::sin(3 * x) + 2000 * std::sin(9 * x + 1) + 1200 * std::sin(20 * x) +
                           700 * std::sin(41 * x + 2) + 300 * std::sin(57 * x));
    });
}

TEST(Spectrum, PlayerMappingIsColumnDivFour) {
    TMMSpectrum s;
    PlayerSpectrum(s);
    EXPECT_EQ(s.DrawArea(), (TRect{2, 2, 258, 101}));
    EXPECT_EQ(s.Columns(), 256);
    EXPECT_EQ(s.AreaHeight(), 99);
    EXPECT_EQ(s.BytesPerUpdate(), 1024);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(s.ColumnBin(i), i / 4) << i;
        EXPECT_EQ(s.ColumnEmpty(i), i % 4 != 0) << i;
        EXPECT_EQ(s.ColumnFactor(i) == 0, i % 4 != 0) << i;
    }
    ASSERT_EQ(s.BarCount(), 64);
    EXPECT_EQ(s.BarFirstColumn(10), 40);
    EXPECT_EQ(s.BarEndColumn(10), 44);

    // Linear axis, no zoom: the columns cover 0 .. R/2; zoom 2 covers 0 .. R/4.
    TMMSpectrum full;
    full.SetBounds(0, 0, 130, 60);
    full.SetFFTLength(256);
    full.SetFrequencyScale(1);
    EXPECT_EQ(full.ColumnBin(0), 0);
    EXPECT_EQ(full.ColumnBin(full.Columns() - 1), 127);
    full.SetFrequencyScale(2);
    EXPECT_EQ(full.ColumnBin(full.Columns() - 1), 63);

    // Logarithmic axis: bins never fall, start at 0, reach the top, and repeated bins widen a bar.
    full.SetLogFreq(true);
    full.SetFrequencyScale(1);
    int previous = 0;
    for (int i = 0; i < full.Columns(); ++i) {
        EXPECT_GE(full.ColumnBin(i), previous);
        previous = full.ColumnBin(i);
    }
    EXPECT_EQ(full.ColumnBin(0), 0);
    EXPECT_GE(full.ColumnBin(full.Columns() - 1), 100);
    EXPECT_LT(full.BarCount(), full.Columns());
    EXPECT_GT(full.BarEndColumn(0) - full.BarFirstColumn(0), 1);
    // Wide columns at the top take a range of bins.
    const int last = full.Columns() - 1;
    EXPECT_GE(full.ColumnBinEnd(last - 1), full.ColumnBin(last - 1) + 1);
}

TEST(Spectrum, SineAtABinCentreDrawsThePredictedHeight) {
    // Player settings: Hamming window (coherent gain 0.54), +3 dB per octave about 1 kHz, 20 % scale.
    TMMSpectrum s;
    PlayerSpectrum(s);
    s.SetKind(skBars);
    const int bin = 10;
    const double amplitude = 4000;
    const auto chunk = SineAtBin(bin, 256, amplitude);
    s.ShowData(chunk.data());
    const double e = 99 / (std::sqrt(1000.0) * 0.2 * 32768);
    const double predicted = 0.54 * amplitude * e * std::sqrt((bin + 1) * 44100.0 / 256);
    EXPECT_NEAR(s.BarValue(bin), predicted, 1.5);
    EXPECT_EQ(s.LoudestBin(), bin);
    // Far away bins stay low (the Hamming side lobes are 40 dB down).
    EXPECT_LT(s.BarValue(40), 2);

    // Rectangular window, linear axis, no tilt, full height at 100 %: half scale draws half height.
    TMMSpectrum lin;
    lin.SetBounds(0, 0, 258, 102); // area 256 x 100
    lin.SetFFTLength(256);
    lin.SetWindow(fwRectangular);
    lin.SetBitLength(b16Bit);
    lin.SetMode(mStereo);
    lin.SetChannel(chLeft);
    lin.SetSampleRate(44100);
    const auto half = SineAtBin(20, 256, 16384);
    lin.ShowData(half.data());
    ASSERT_EQ(lin.AreaHeight(), 100);
    const int column = [&] {
        for (int i = 0; i < lin.Columns(); ++i)
            if (lin.ColumnBin(i) == 20)
                return i;
        return -1;
    }();
    ASSERT_GE(column, 0);
    int barOf20 = -1;
    for (int b = 0; b < lin.BarCount(); ++b)
        if (lin.BarFirstColumn(b) == column)
            barOf20 = b;
    ASSERT_GE(barOf20, 0);
    EXPECT_NEAR(lin.BarValue(barOf20), 50, 1);

    // The decibel axis spans 60 dB: full scale at the top, half scale 6 dB lower.
    lin.SetLogAmp(true);
    const auto loud = SineAtBin(20, 256, 32767);
    lin.ShowData(loud.data());
    EXPECT_NEAR(lin.BarValue(barOf20), 100, 1);
    lin.ShowData(half.data());
    EXPECT_NEAR(lin.BarValue(barOf20), 100 * (60 - 20 * std::log10(2.0)) / 60, 1);
}

TEST(Spectrum, ScaledValuesSaturateInsteadOfWrapping) {
    // A full-scale constant: the DC term is twice the 16-bit range. Kept in 16 bits it would wrap to
    // a small negative number and draw an empty bar.
    TMMSpectrum s;
    s.SetBounds(0, 0, 66, 66);
    s.SetFFTLength(64);
    s.SetWindow(fwRectangular);
    s.SetBitLength(b16Bit);
    std::vector<std::int16_t> dc(64, 32767);
    int pcm = 0;
    s.OnPcmOverflow = [&](TObject*) { ++pcm; };
    s.ShowData(dc.data());
    EXPECT_EQ(s.ScaledSpectrum(0), 32767);
    EXPECT_EQ(pcm, 1);
    EXPECT_GE(s.BarValue(0), s.AreaHeight() - 1);

    // Components of -32768 in both parts: power 2^31 must not turn negative.
    std::vector<std::int16_t> neg(64, -32768);
    s.ShowData(neg.data());
    EXPECT_EQ(s.ScaledSpectrum(0), -32768);
    EXPECT_EQ(pcm, 1); // negative excursions are no overflow
    EXPECT_GE(s.BarValue(0), s.AreaHeight() - 1);
}

TEST(Spectrum, SilenceAfterSoundFallsByTheDecayFactor) {
    TMMSpectrum s;
    PlayerSpectrum(s);
    s.SetKind(skBars);
    const auto tone = SineAtBin(12, 256, 8000);
    const std::vector<std::int16_t> silence(512, 0);
    s.ShowData(tone.data());
    double previous = s.BinValue(12);
    ASSERT_GT(previous, 1000);
    for (int k = 0; k < 5; ++k) {
        s.ShowData(silence.data());
        EXPECT_NEAR(s.BinValue(12), previous * 0.930572, 1.0) << k;
        previous = s.BinValue(12);
    }

    TMMSpectrum quiet;
    PlayerSpectrum(quiet);
    quiet.ShowData(silence.data());
    for (int b = 0; b < quiet.BarCount(); ++b)
        EXPECT_EQ(quiet.BarValue(b), 0);
}

TEST(Spectrum, PeaksOverflowEventsAndReset) {
    TMMSpectrum s;
    PlayerSpectrum(s);
    s.SetKind(skBars);
    s.SetNumPeaks(2);
    int pcm = 0, gain = 0, needs = 0;
    s.OnPcmOverflow = [&](TObject*) { ++pcm; };
    s.OnGainOverflow = [&](TObject*) { ++gain; };
    const auto loud = SineAtBin(6, 256, 32767);
    s.ShowData(loud.data());
    EXPECT_EQ(pcm, 1);
    EXPECT_GE(gain, 1); // a full-scale tone is far beyond the 20 % scale: clipped
    const int peak = s.BarPeak(6);
    EXPECT_EQ(peak, s.NumSpots());
    for (int tick = 0; tick < 41; ++tick)
        s.PeakTimerTick();
    EXPECT_EQ(s.BarPeak(6), peak - 1);
    s.PeakTimerTick();
    EXPECT_EQ(s.BarPeak(6), peak - 2);

    s.OnNeedData = [&](TObject*) { ++needs; };
    s.ResetDisplay();
    EXPECT_EQ(needs, 1);
    EXPECT_EQ(s.BarPeak(6), 0);
    EXPECT_EQ(s.BinValue(6), 0);
    EXPECT_EQ(s.LoudestValue(), 0);

    // The scrolling relief never holds peaks.
    TMMSpectrum scroll;
    PlayerSpectrum(scroll);
    scroll.ShowData(loud.data());
    for (int b = 0; b < scroll.BarCount(); ++b)
        EXPECT_EQ(scroll.BarPeak(b), 0);

    // Custom bars replace the built-in ones.
    int bars = 0;
    s.OnDrawBar = [&](TObject*, TRaster&, int, int, const TRect& r) {
        ++bars;
        EXPECT_EQ(r.Height(), s.AreaHeight());
    };
    s.ShowData(loud.data());
    EXPECT_EQ(bars, s.BarCount());
}

TEST(Spectrum, WhenEveryPeakHasFallenTheTimerRestsUntilTheNextOne) {
    platform::VirtualTimers clock;
    platform::ScopedTimers use(clock);
    TMMSpectrum s;
    PlayerSpectrum(s);
    s.SetKind(skBars);
    s.SetNumPeaks(1);
    const auto loud = SineAtBin(6, 256, 32767);
    s.ShowData(loud.data());
    const int peak = s.BarPeak(6);
    ASSERT_GT(peak, 0);
    clock.Advance(25 * (41 + peak));
    EXPECT_EQ(s.BarPeak(6), 0);
    clock.Advance(25);
    EXPECT_FALSE(DisplayTimerRunning());
    s.ShowData(loud.data());
    EXPECT_TRUE(DisplayTimerRunning());
    clock.Advance(25 * 41);
    EXPECT_EQ(s.BarPeak(6), peak - 1);
}

TEST(Spectrum, SettersRoundClampAndIgnore) {
    TMMSpectrum s;
    s.SetFFTLength(300);
    EXPECT_EQ(s.FFTLength(), 256);
    s.SetFFTLength(5000);
    EXPECT_EQ(s.FFTLength(), 4096);
    s.SetFFTLength(2);
    EXPECT_EQ(s.FFTLength(), 8);
    s.SetFrequencyScale(3);
    EXPECT_EQ(s.FrequencyScale(), 2);
    s.SetNumPeaks(6);
    EXPECT_EQ(s.NumPeaks(), 1);
    s.SetPeakSpeed(51);
    EXPECT_EQ(s.PeakSpeed(), 0);
    s.SetSpace(6);
    EXPECT_EQ(s.Space(), 1);
    s.SetSampleRate(1000);
    EXPECT_EQ(s.SampleRate(), 8000);
    s.SetVerticalScale(0);
    EXPECT_EQ(s.VerticalScale(), 1);
    EXPECT_NEAR(s.DecayFactor(), 0.0001, 1e-9);

    WAVEFORMATEX f{};
    EXPECT_THROW(s.SetDisplayFormat(&f), EMMSpectrumError);
    MakePCMFormat(f, 8, 1, 22050);
    s.SetDisplayFormat(&f);
    EXPECT_EQ(s.SampleRate(), 22050);
    EXPECT_EQ(s.BitLength(), b8Bit);
    EXPECT_EQ(s.BytesPerUpdate(), 8);

    // 8-bit mono: 255 is an overflow, a centred signal is silence.
    s.SetFFTLength(64);
    int pcm = 0;
    s.OnPcmOverflow = [&](TObject*) { ++pcm; };
    std::vector<std::uint8_t> centred(64, 128);
    s.ShowData(centred.data());
    EXPECT_EQ(pcm, 0);
    EXPECT_EQ(s.LoudestValue(), 0);
    centred[5] = 255;
    s.ShowData(centred.data());
    EXPECT_EQ(pcm, 1);
}

TEST(Spectrum, MouseInfoPausesUpdates) {
    TMMSpectrum s;
    PlayerSpectrum(s);
    s.SetKind(skBars);
    s.SetShowInfo(true);
    const auto tone = SineAtBin(8, 256, 8000);
    s.MouseDown(mbLeft, 0, 300, 50); // confined to the area
    EXPECT_TRUE(s.InfoShown());
    EXPECT_NE(s.InfoText().find("KHz"), std::string::npos);
    EXPECT_NE(s.InfoText().find(" V"), std::string::npos);
    s.ShowData(tone.data());
    EXPECT_EQ(s.BinValue(8), 0);
    s.MouseUp(mbLeft, 0, 0, 0);
    s.ShowData(tone.data());
    EXPECT_GT(s.BinValue(8), 0);
}

int CountColour(const TRaster& r, const TRect& box, TColor c) {
    int n = 0;
    for (int y = box.Top; y < box.Bottom; ++y)
        for (int x = box.Left; x < box.Right; ++x)
            n += r.GetPixel(x, y) == c;
    return n;
}

bool IsBarColour(TColor c) {
    return c == clAqua || c == clYellow || c == clRed;
}

TEST(Spectrum, EachKindDrawsItsPicture) {
    const char* names[] = {"dots", "lines", "vlines", "bars", "peaks", "scroll"};
    for (int kind = skDots; kind <= skScroll; ++kind) {
        TMMSpectrum s;
        PlayerSpectrum(s);
        s.SetKind(static_cast<TMMSpectrumKind>(kind));
        s.SetVerticalScale(8);
        s.SetDrawGrid(kind == skBars);
        for (int update = 0; update < 12; ++update) {
            const auto chunk = Music(256, update * 37);
            s.ShowData(chunk.data());
        }
        const TRaster& pic = s.Picture();
        SaveBMPFile(pic, std::string(TUNEFOLD_BINARY_DIR) + "/spectrum_" + names[kind] + ".bmp");
        const TRect area = s.DrawArea();
        // Bar 3 (bin 3) carries the loudest tone; its columns are 12 .. 15.
        const int x = area.Left + 12;
        const int v = std::min(s.BarValue(3), s.AreaHeight());
        ASSERT_GT(v, 10) << names[kind];
        int litInColumn = 0;
        for (int y = area.Top; y < area.Bottom; ++y)
            litInColumn += IsBarColour(pic.GetPixel(x, y));
        switch (kind) {
        case skDots: // one dash at the bar's height
            EXPECT_EQ(litInColumn, 1);
            EXPECT_TRUE(IsBarColour(pic.GetPixel(x, area.Bottom - v)));
            break;
        case skVLines: // solid from the bottom; the last column of the bar is the space
            EXPECT_EQ(litInColumn, v);
            EXPECT_FALSE(IsBarColour(pic.GetPixel(area.Left + 15, area.Bottom - 1)));
            EXPECT_TRUE(IsBarColour(pic.GetPixel(area.Left + 14, area.Bottom - 1)));
            break;
        case skBars: // spots up to the value, then unlit spots (one-pixel spots, one apart)
            EXPECT_EQ(pic.GetPixel(x, area.Bottom - 1), clAqua);
            EXPECT_EQ(pic.GetPixel(x, area.Top), clMaroon);
            EXPECT_GT(CountColour(pic, area, clGray), 0); // the grid
            break;
        case skPeaks: // the top lit spot only, the spots below it unlit
            EXPECT_EQ(pic.GetPixel(x, area.Bottom - 1), clTeal);
            EXPECT_GE(litInColumn, 1);
            break;
        case skLines: // a line through the bar centres, every column crossed
            for (int col = area.Left + 2; col < area.Left + 250; ++col) {
                int n = 0;
                for (int y = area.Top; y < area.Bottom; ++y)
                    n += IsBarColour(pic.GetPixel(col, y));
                ASSERT_GE(n, 1) << col;
            }
            break;
        case skScroll: { // twelve updates of two rows: a relief in the top 24 rows, nothing below
            const int withContent = [&] {
                int rows = 0;
                for (int y = area.Top; y < area.Bottom; ++y) {
                    bool any = false;
                    for (int c = area.Left; c < area.Right; ++c)
                        any |= IsBarColour(pic.GetPixel(c, y));
                    rows += any;
                }
                return rows;
            }();
            EXPECT_GT(withContent, 24);
            EXPECT_EQ(CountColour(pic, {area.Left, area.Top + 33 + 24, area.Right, area.Bottom}, clAqua), 0);
            break;
        }
        }
        // The bevel: aqua inner line, black space.
        EXPECT_EQ(pic.GetPixel(0, 50), clAqua) << names[kind];
        EXPECT_EQ(pic.GetPixel(1, 50), clBlack) << names[kind];
    }
}

TEST(Spectrum, ScrollMovesThePictureDownTwoRowsPerUpdate) {
    TMMSpectrum s;
    PlayerSpectrum(s);
    s.SetVerticalScale(8);
    for (int update = 0; update < 12; ++update) {
        const auto chunk = Music(256, update * 11);
        s.ShowData(chunk.data());
    }
    const TRaster before = s.Picture();
    const auto next = Music(256, 5);
    s.ShowData(next.data());
    const TRaster& after = s.Picture();
    // Below the newest line (the top third) every row is the row two above it, one update ago.
    const TRect a = s.DrawArea();
    int content = 0;
    for (int y = a.Top + 33; y < a.Bottom - 2; ++y)
        for (int x = a.Left; x < a.Right; ++x) {
            ASSERT_EQ(after.GetPixel(x, y + 2), before.GetPixel(x, y)) << x << "," << y;
            content += IsBarColour(before.GetPixel(x, y));
        }
    EXPECT_GT(content, 100);
}

TEST(Spectrum, FrequencyAndAmplitudeScalesTakeTheirStrips) {
    TMMSpectrum s;
    s.SetBounds(0, 0, 322, 142);
    s.SetDrawAmpScale(true);
    s.SetDrawFreqScale(true);
    s.SetLogAmp(true);
    s.SetScaleTextColor(clWhite);
    EXPECT_EQ(s.DrawArea(), (TRect{33, 1, 289, 101}));
    EXPECT_EQ(s.Columns(), 256);
    const TRaster& pic = s.Picture();
    EXPECT_GT(CountColour(pic, {1, 1, 33, 101}, clWhite), 0);     // left decibel labels
    EXPECT_GT(CountColour(pic, {289, 1, 321, 101}, clWhite), 0);  // right decibel labels
    EXPECT_GT(CountColour(pic, {33, 101, 289, 141}, clWhite), 0); // frequency labels
    SaveBMPFile(pic, std::string(TUNEFOLD_BINARY_DIR) + "/spectrum_scales.bmp");
}

} // namespace
} // namespace tunefold
