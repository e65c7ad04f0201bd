// Every scheme slot the equalizer window uses reaches the element it colours: with each slot a
// colour of its own, the grabbed window shows, element by element, the colour its scheme table
// gives with the power off, on with the curve editor shown, and on with the spectrum shown in a
// quiet and a loud bar kind and in the kind that lights the dB captions. Also: pictures of the
// window in two schemes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/controls/caption_strip.h"
#include "app/controls/curve_chart.h"
#include "app/controls/face_button.h"
#include "app/controls/lit_label.h"
#include "app/controls/power_switch.h"
#include "app/controls/raster_host.h"
#include "app/windows/colour_slots.h"
#include "colour_probe.h"
#include "engine/displays/spectrum.h"
#include "equalizer_windows.h"

namespace tunefold::test {
namespace {

using controls::ColorFromRef;

class EqualizerSchemeColoursTest : public EqualizerWindowsFixture {
protected:
    void SetUp() override {
        EqualizerWindowsFixture::SetUp();
        CreateEqualizer();
        main->show();
        eqWindow->show();
        eqWindow->SetEqColors(colours);
    }
    QColor C(int n) const { return SlotColour(colours, n); }
    windows::EqualizerWindow& W() { return *eqWindow; }
    void PowerOn() {
        W().VrSwitch1->SetPosition(1);
        ASSERT_TRUE(Eq().View().powerOn);
    }
    // Clicks "Spectrum" until the spectrum kind index is `index` (1 .. 6).
    void ShowSpectrumKind(int index) {
        W().RzBmpButton7->Click();
        for (int i = 0; i < 6 && Eq().View().spectrumKindIndex != index; ++i) {
            W().RzBmpButton7->Click();
        }
        ASSERT_EQ(Eq().View().spectrumKindIndex, index);
        ASSERT_FALSE(Eq().View().chartVisible);
    }
    // A loud stereo tone into the spectrum, at a few bins so that several bars reach the top zone.
    void FeedLoudTone() {
        TMMSpectrum& s = Eq().Spectrum();
        const int n = s.FFTLength();
        std::vector<std::int16_t> pcm(static_cast<std::size_t>(2 * n));
        for (int i = 0; i < n; ++i) {
            double v = 0;
            for (int bin : {6, 12, 24, 48}) {
                v += std::sin(2 * M_PI * bin * i / n);
            }
            const auto sample = static_cast<std::int16_t>(v * 7000);
            pcm[static_cast<std::size_t>(2 * i)] = sample;
            pcm[static_cast<std::size_t>(2 * i + 1)] = sample;
        }
        for (int i = 0; i < 8; ++i) {
            s.ShowData(pcm.data());
        }
    }
    void ExpectOn(const QImage& img, const QWidget& child, int slot, const std::string& what,
                  int atLeast = 1) {
        ExpectColourOn(img, W(), child, C(slot), what, atLeast);
    }
    void ExpectDbCaptions(const QImage& img, int first, int second, int third, const std::string& state) {
        // "+20" "+15" "+6" "0" "-6" "-15" "-20": the outer pair in the third colour, the next pair in
        // the second, the middle three in the first.
        const int slot[] = {third, second, first, first, first, second, third};
        for (std::size_t i = 0; i < W().DbLabels.size(); ++i) {
            ExpectOn(img, *W().DbLabels[i], slot[i],
                     "dB caption " + W().DbLabels[i]->Text().toStdString() + state);
        }
    }
    // The glass above the chart, left of the captions (start of the gradient), and below the
    // frequency captions (its end); the frame drawn round the chart.
    void ExpectGlass(const QImage& img, int start, int end, int bevel, const std::string& state) {
        const QRect chart = windows::EqualizerWindow::kChart;
        ExpectColourIn(img, QRect(14, 14, 20, 2), C(start), "glass gradient start" + state, 20);
        ExpectColourIn(img, QRect(14, 138, 20, 6), C(end), "glass gradient end" + state, 60);
        ExpectColourIn(img, QRect(chart.left() - 1, chart.top() - 1, chart.width(), 1), C(bevel),
                       "display bevel above the chart" + state, chart.width() - 2);
        ExpectColourIn(img, QRect(chart.left() - 1, chart.top(), 1, chart.height()), C(bevel),
                       "display bevel left of the chart" + state, chart.height() - 2);
    }

    void ExpectScale(const QImage& img, int first, int second, int third, const std::string& state) {
        ExpectOn(img, *W().ScaleHost, first == 25 ? 15 : 17, "level scale background" + state, 50);
        for (int slot : {first, second, third}) {
            ExpectOn(img, *W().ScaleHost, slot, "level scale colour " + std::to_string(slot) + state, 3);
        }
    }
    // The spectrum's lowered bevel (its inner light and shadow) round the edge, then its border space.
    void ExpectSpectrumFrame(const QImage& img, int bevel, int border, const std::string& state) {
        const QRect r(W().SpectrumHost->mapTo(&W(), QPoint(0, 0)), W().SpectrumHost->size());
        ExpectColourIn(img, QRect(r.left(), r.top(), r.width(), 1), C(bevel), "spectrum bevel, top" + state,
                       r.width() - 2);
        ExpectColourIn(img, QRect(r.left(), r.bottom(), r.width(), 1), C(bevel),
                       "spectrum bevel, bottom" + state, r.width() - 2);
        ExpectColourIn(img, QRect(r.left() + 1, r.top() + 1, r.width() - 2, 1), C(border),
                       "spectrum border space" + state, r.width() - 4);
        ExpectColourIn(img, QRect(r.left() + 1, r.top() + 1, 1, r.height() - 2), C(border),
                       "spectrum border space, left" + state, r.height() - 4);
    }

    TColourSlots colours = DistinctColourSlots();
};

TEST_F(EqualizerSchemeColoursTest, PowerOff) {
    ASSERT_FALSE(Eq().View().powerOn);
    ASSERT_FALSE(Eq().View().chartVisible);
    // Sound reaches the spectrum while only the main window is on: the scrolling line shows it.
    FeedLoudTone();
    const QImage img = Grab(W());
    const std::string off = ", off";
    ExpectOn(img, *W().SpectrumHost, 15, "spectrum background" + off, 1000);
    ExpectSpectrumFrame(img, 15, 21, off);
    for (int slot : {25, 4, 6}) {
        ExpectOn(img, *W().SpectrumHost, slot, "spectrum line in bar colour " + std::to_string(slot) + off,
                 3);
    }
    ExpectOn(img, *W().Label1, 22, "OVERFLOW unlit" + off);
    ExpectOn(img, *W().Label2, 21, "SPECTRUM" + off);
    ExpectOn(img, *W().Label3, 21, "EQUALIZER" + off);
    ExpectOn(img, *W().Label5, 24, "FILE PLAYER" + off);
    ExpectOn(img, *W().Label4, 21, "frequency captions" + off, 20);
    ExpectDbCaptions(img, 25, 26, 27, off);
    ExpectScale(img, 25, 26, 27, off);
    ExpectGlass(img, 16, 15, 30, off);
}

TEST_F(EqualizerSchemeColoursTest, PowerOnWithTheCurveEditor) {
    PowerOn();
    W().RzBmpButton8->Click();
    ASSERT_TRUE(Eq().View().chartVisible);
    const QImage img = Grab(W());
    const std::string on = ", on, curve";
    controls::CurveChart& chart = *W().Chart1;
    ExpectOn(img, chart, 17, "chart background" + on, 1000);
    ExpectOn(img, chart, 14, "curve and band point pens" + on, 100);
    ExpectOn(img, chart, 12, "band point brushes" + on, 10);
    ExpectColourOn(img, W(), chart, ColorFromRef(windows::ThroughGlass(colours[13], colours[16], 25)),
                   "chart grid" + on, 100);
    for (int band = 0; band < 10; ++band) {
        const QPoint p = chart.mapTo(&W(), BandPixel(band));
        ExpectColourIn(img, QRect(p.x() - 3, p.y() - 2, 7, 5), C(12),
                       "band point " + std::to_string(band) + on);
    }
    ExpectOn(img, *W().Label1, 11, "OVERFLOW unlit" + on);
    ExpectOn(img, *W().Label2, 13, "SPECTRUM" + on);
    ExpectOn(img, *W().Label3, 14, "EQUALIZER" + on);
    // Turning on showed the spectrum in its first kind, which lit "FILE PLAYER"; the chart keeps it.
    ExpectOn(img, *W().Label5, 8, "FILE PLAYER" + on);
    ExpectOn(img, *W().Label4, 14, "frequency captions" + on, 20);
    ExpectDbCaptions(img, 2, 4, 6, on);
    ExpectScale(img, 1, 3, 5, on);
    ExpectGlass(img, 18, 17, 20, on);
}

TEST_F(EqualizerSchemeColoursTest, PowerOnWithTheSpectrumQuietAndLoud) {
    PowerOn();
    // The first kind right after turning on: a scrolling line.
    {
        FeedLoudTone();
        const QImage img = Grab(W());
        const std::string on = ", on, spectrum kind 1";
        ExpectOn(img, *W().SpectrumHost, 17, "spectrum background" + on, 1000);
        ExpectSpectrumFrame(img, 17, 14, on);
        for (int slot : {2, 4, 6}) {
            ExpectOn(img, *W().SpectrumHost, slot, "spectrum line in bar colour " + std::to_string(slot) + on,
                     3);
        }
        ExpectOn(img, *W().Label2, 14, "SPECTRUM" + on);
        ExpectOn(img, *W().Label3, 13, "EQUALIZER" + on);
        ExpectOn(img, *W().Label5, 8, "FILE PLAYER" + on);
        ExpectOn(img, *W().Label4, 14, "frequency captions" + on, 20);
        ExpectDbCaptions(img, 1, 3, 5, on);
        ExpectScale(img, 1, 3, 5, on);
        ExpectGlass(img, 18, 17, 20, on);
    }
    // Bars, silent: every spot in its zone's inactive colour.
    ShowSpectrumKind(2);
    {
        const QImage img = Grab(W());
        const std::string on = ", on, bars, silent";
        for (int slot : {1, 3, 5}) {
            ExpectOn(img, *W().SpectrumHost, slot, "spectrum inactive colour" + on, 50);
        }
        ExpectDbCaptions(img, 1, 3, 5, on);
        ExpectScale(img, 2, 4, 6, on);
    }
    // Bars, loud: the lit spots in the three bar colours.
    FeedLoudTone();
    {
        const QImage img = Grab(W());
        const std::string on = ", on, bars, loud";
        for (int slot : {2, 4, 6}) {
            ExpectOn(img, *W().SpectrumHost, slot, "spectrum bar colour" + on, 20);
        }
    }
    // The sixth kind lights the dB captions and leaves "FILE PLAYER" as it was.
    ShowSpectrumKind(6);
    {
        const QImage img = Grab(W());
        const std::string on = ", on, spectrum kind 6";
        ExpectDbCaptions(img, 2, 4, 6, on);
        ExpectScale(img, 1, 3, 5, on);
        ExpectOn(img, *W().Label5, 8, "FILE PLAYER" + on);
        ExpectOn(img, *W().Label2, 14, "SPECTRUM" + on);
        ExpectOn(img, *W().Label3, 13, "EQUALIZER" + on);
    }
}

TEST_F(EqualizerSchemeColoursTest, ScreenshotsInTwoSchemes) {
    PowerOn();
    W().RzBmpButton8->Click();
    W().SetEqColors(windows::StartColourSlots());
    ASSERT_TRUE(SavePng(Grab(W()), "equalizer_scheme_standard.png"));
    // The warm scheme of the main window's pictures: amber on brown glass.
    TColourSlots amber = windows::StartColourSlots();
    for (int n : {2, 8, 10, 12, 14, 20}) {
        amber[static_cast<std::size_t>(n - 1)] = 0x00A0FF; // amber (0x00BBGGRR)
    }
    for (int n : {1, 7, 9, 11, 13, 19, 21, 30}) {
        amber[static_cast<std::size_t>(n - 1)] = 0x004080;
    }
    amber[16] = 0x001020; // Col17, the glass
    amber[17] = 0x103060; // Col18, the top of the gradient
    amber[3] = 0x0060FF;
    amber[5] = 0x0000FF;
    W().SetEqColors(amber);
    ASSERT_TRUE(SavePng(Grab(W()), "equalizer_scheme_amber.png"));
    ShowSpectrumKind(2);
    FeedLoudTone();
    ASSERT_TRUE(SavePng(Grab(W()), "equalizer_scheme_amber_spectrum.png"));
}

} // namespace
} // namespace tunefold::test
