// The equalizer window's curve without the window: the ten-band table, the 120-point curve and how
// the bands are read off it, the bump a drag spreads over it, and the curve files (presets "*.eq"
// and the start-up curve "normal.eq0").
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace tunefold {

struct TEqBand {
    float F1;            // Hz
    float F2;            // Hz
    const char* Caption; // under the chart
};
extern const std::array<TEqBand, 10> EqBands;

constexpr int EqCurvePoints = 120;
// Chart units per decibel: the range -110 .. 110 is -20 .. +20 dB.
constexpr double UnitsPerDecibel = 5.5;
constexpr double EqCurveLimit = 110.0;

// Point d (1 .. 120) is element d - 1. Only points 1 .. 100 are shown; all 120 are dragged and stored.
using TEqCurve = std::array<long double, EqCurvePoints>;

// The curve point band i (1 .. 10) is pinned to: 10 i - 5.
constexpr int BandCurvePoint(int band) {
    return 10 * band - 5;
}
// Band i's gain in dB: its curve point over UnitsPerDecibel, as a single float.
float BandGain(const TEqCurve& curve, int band);
std::array<float, 10> BandGains(const TEqCurve& curve);

// What the reset button does to the curve: points 1 .. 100 become 0, points 101 .. 120 stay.
void ResetEqCurve(TEqCurve& curve);

// The curve while band `dragBand` (0 .. 9) is dragged by `offset` chart units from `saved`: a
// Gaussian bump of width `bumpWidth` points centred on the band's point, limited to -110 .. 110.
TEqCurve DragEqCurve(const TEqCurve& saved, double offset, int dragBand, double bumpWidth = 6.0);
// The drag offset for the pointer at `y` (chart pixels): (startY - y) x pixelScale while y lies
// strictly between 2 and chartHeight - 8, else the last offset unchanged.
double DragOffsetAt(double startY, double y, double chartHeight, double pixelScale, double lastOffset);

// ---- curve files ----

// Exactly 23 characters: sign (space or "-"), d.dddddddddddddd, "E", exponent sign, 4 digits.
std::string FormatEqValue(long double value);
// 120 lines, each a formatted value and CR LF.
std::string EqCurveText(const TEqCurve& curve);
// The lenient reader: missing values are 0, the rest of a line after a value is ignored, a value
// that is not a number or lies outside -110 .. 110 rejects the text. Only an accepted text replaces
// `curve`; false leaves it untouched.
bool ParseEqCurve(std::string_view text, TEqCurve& curve);
// 120 lines of 25 bytes come to 3000; anything past this cap is no curve file.
constexpr std::size_t kEqCurveFileCap = 64 * 1024;
// False (curve untouched) when the file is no regular file, is larger than the cap, cannot be read
// or is rejected.
bool ReadEqCurveFile(const std::filesystem::path& path, TEqCurve& curve);

enum class TEqWriteResult { Ok, CannotCreate, WriteError };
// Replaces the file as a whole: the new text goes to a temporary file beside it, is flushed to disk
// and renamed over the old one, so a failure or a crash leaves either the old curve or the new one.
TEqWriteResult WriteEqCurveFile(const std::filesystem::path& path, const TEqCurve& curve);

} // namespace tunefold
