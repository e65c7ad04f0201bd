#include "app/logic/eq_curve.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include <unistd.h>

#include "platform/atomic_file.h"
#include "platform/input_file.h"

namespace tunefold {

const std::array<TEqBand, 10> EqBands = {{{0, 32, "32"},
                                          {32, 64, "64"},
                                          {64, 130, "128"},
                                          {130, 260, "256"},
                                          {260, 500, "512"},
                                          {500, 1000, "1k"},
                                          {1000, 2000, "2k"},
                                          {2000, 4000, "4k"},
                                          {4000, 8300, "8k"},
                                          {8300, 16500, "16k"}}};

float BandGain(const TEqCurve& curve, int band) {
    if (band < 1 || band > 10) {
        return 0.0f;
    }
    return static_cast<float>(curve[static_cast<std::size_t>(BandCurvePoint(band) - 1)] / UnitsPerDecibel);
}

std::array<float, 10> BandGains(const TEqCurve& curve) {
    std::array<float, 10> gains{};
    for (int i = 1; i <= 10; ++i) {
        gains[static_cast<std::size_t>(i - 1)] = BandGain(curve, i);
    }
    return gains;
}

void ResetEqCurve(TEqCurve& curve) {
    std::fill(curve.begin(), curve.begin() + 100, 0.0L);
}

TEqCurve DragEqCurve(const TEqCurve& saved, double offset, int dragBand, double bumpWidth) {
    TEqCurve curve{};
    const long double c = 10.0L * dragBand + 5;
    for (int d = 1; d <= EqCurvePoints; ++d) {
        const long double x = (d - c) / bumpWidth;
        const double bump = static_cast<double>(offset * std::exp(-0.5L * x * x));
        const double v = static_cast<double>(saved[static_cast<std::size_t>(d - 1)] + bump);
        curve[static_cast<std::size_t>(d - 1)] = std::clamp(v, -EqCurveLimit, EqCurveLimit);
    }
    return curve;
}

double DragOffsetAt(double startY, double y, double chartHeight, double pixelScale, double lastOffset) {
    if (y > 2 && y < chartHeight - 8) {
        return (startY - y) * pixelScale;
    }
    return lastOffset;
}

// ---- writer ----

std::string FormatEqValue(long double value) {
    if (!std::isfinite(value)) {
        value = 0; // a curve never holds these; write something the reader takes back
    }
    // 15 significant digits in scientific form; to_chars does not depend on the C locale.
    char digits[64];
    const auto [end, ec] =
        std::to_chars(digits, digits + sizeof digits, std::fabs(value), std::chars_format::scientific, 14);
    if (ec != std::errc()) {
        return " 0.00000000000000E+0000";
    }
    const std::string text(digits, end); // d.ddddddddddddddde+XX
    const std::size_t e = text.find('e');
    const std::string mantissa = text.substr(0, e); // 16 characters
    const char expSign = text[e + 1];
    int exponent = std::stoi(text.substr(e + 2));
    const bool zero = value == 0;
    if (zero) {
        exponent = 0;
    }
    char out[32];
    std::snprintf(out, sizeof out, "%c%sE%c%04d", (value < 0 && !zero) ? '-' : ' ', mantissa.c_str(),
                  zero ? '+' : expSign, exponent);
    return out;
}

std::string EqCurveText(const TEqCurve& curve) {
    std::string text;
    text.reserve(EqCurvePoints * 25);
    for (long double v : curve) {
        text += FormatEqValue(v);
        text += "\r\n";
    }
    return text;
}

// ---- reader ----

namespace {

// Optional sign, digits, optional fraction, optional exponent with "E" or "e"; at least one digit
// before the exponent. Returns false for anything else, including trailing characters.
bool ParseNumber(std::string_view token, long double& value) {
    std::size_t i = 0;
    const std::size_t n = token.size();
    bool negative = false;
    if (i < n && (token[i] == '+' || token[i] == '-')) {
        negative = token[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    std::size_t mantissaDigits = 0;
    while (i < n && token[i] >= '0' && token[i] <= '9') {
        ++i, ++mantissaDigits;
    }
    if (i < n && token[i] == '.') {
        ++i;
        while (i < n && token[i] >= '0' && token[i] <= '9') {
            ++i, ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) {
        return false;
    }
    if (i < n && (token[i] == 'e' || token[i] == 'E')) {
        ++i;
        if (i < n && (token[i] == '+' || token[i] == '-')) {
            ++i;
        }
        std::size_t expDigits = 0;
        while (i < n && token[i] >= '0' && token[i] <= '9') {
            ++i, ++expDigits;
        }
        if (expDigits == 0) {
            return false;
        }
    }
    if (i != n) {
        return false;
    }
    long double parsed = 0;
    const char* first = token.data() + start;
    const auto [ptr, ec] = std::from_chars(first, token.data() + n, parsed, std::chars_format::general);
    if (ptr != token.data() + n) {
        return false;
    }
    if (ec == std::errc::result_out_of_range) {
        // Only the exponent can leave the type's range: far below it the value is 0 (and fine), far
        // above it the value is rejected like any other beyond the curve's limits.
        const std::size_t e = token.find_first_of("eE");
        if (e == std::string_view::npos || e + 1 >= n || token[e + 1] != '-') {
            return false;
        }
        parsed = 0;
    } else if (ec != std::errc()) {
        return false;
    }
    value = negative ? -parsed : parsed;
    return true;
}

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

} // namespace

bool ParseEqCurve(std::string_view text, TEqCurve& curve) {
    TEqCurve scratch{};
    std::size_t pos = 0;
    const std::size_t n = text.size();
    for (int d = 0; d < EqCurvePoints; ++d) {
        while (pos < n && (text[pos] == ' ' || text[pos] == '\t' || IsLineEnd(text[pos]))) {
            ++pos;
        }
        if (pos >= n) {
            scratch[static_cast<std::size_t>(d)] = 0; // a short file: the missing points are 0
            continue;
        }
        const std::size_t start = pos;
        while (pos<n&& static_cast<unsigned char>(text[pos])> 32 && pos - start < 64) {
            ++pos;
        }
        // A longer token is no number of ours: cut at 64 characters it would read as another value.
        if (pos<n&& static_cast<unsigned char>(text[pos])> 32) {
            return false;
        }
        long double value = 0;
        if (!ParseNumber(text.substr(start, pos - start), value)) {
            return false;
        }
        if (!(value >= -EqCurveLimit && value <= EqCurveLimit)) {
            return false;
        }
        scratch[static_cast<std::size_t>(d)] = value;
        while (pos < n && !IsLineEnd(text[pos])) {
            ++pos; // the rest of the line is ignored
        }
    }
    curve = scratch;
    return true;
}

bool ReadEqCurveFile(const std::filesystem::path& path, TEqCurve& curve) {
    std::string text;
    if (platform::ReadRegularFile(path.string(), kEqCurveFileCap, text) != platform::InputFileError::None) {
        return false;
    }
    return ParseEqCurve(text, curve);
}

// ---- whole-file replacement ----

TEqWriteResult WriteEqCurveFile(const std::filesystem::path& path, const TEqCurve& curve) {
    if (platform::ReplaceFileContents(path.string(), EqCurveText(curve))) {
        return TEqWriteResult::Ok;
    }
    // Nothing could be created where the folder is missing or closed to us; anything else failed
    // while writing (the old file, if any, is still whole).
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec) || ::access(folder.c_str(), W_OK | X_OK) != 0) {
        return TEqWriteResult::CannotCreate;
    }
    return TEqWriteResult::WriteError;
}

} // namespace tunefold
