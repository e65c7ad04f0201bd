#include "engine/displays/spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace tunefold {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxRingRows = 32;

int RoundHalfEven(double x) {
    return static_cast<int>(std::nearbyint(x));
}

int FloorPow2(int v) {
    int p = 1;
    while (p * 2 <= v)
        p *= 2;
    return p;
}

int Log2Int(int v) {
    int b = 0;
    while ((1 << (b + 1)) <= v)
        ++b;
    return b;
}

std::int16_t Sample16(const std::uint8_t* p, int index) {
    std::int16_t v;
    std::memcpy(&v, p + 2 * index, 2);
    return v;
}

// Scaled spectrum values are kept in 16 bits; a value beyond that range saturates (wrapping it
// would draw a loud bin as a quiet one).
std::int16_t Saturate16(float v) {
    if (!(v == v))
        return 0;
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    return static_cast<std::int16_t>(static_cast<std::int32_t>(v));
}

std::string Format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

} // namespace

TMMSpectrum::TMMSpectrum(TComponent* owner) : TMMDIBGraphicControl(owner) {
    TMMControl::SetColor(clBlack);
    FWindowTable.assign(kMaxFFTLength, 0);
    FSpectrum.assign(kMaxFFTLength, 0);
    FValues.assign(kMaxFFTLength / 2, 0);
    FDecayed.assign(kMaxFFTLength / 2, 0.0f);
    FOffset.assign(kMaxFFTLength / 2, 0);
    FSums.assign(kMaxFFTLength / 2, 0);
    FSelected.assign(kMaxFFTLength, 0);
    FWork.assign(kMaxFFTLength, 0.0f);
    // As many moving-average rows as memory allows, up to 32; none at all is fatal.
    try {
        while (static_cast<int>(FRing.size()) < kMaxRingRows)
            FRing.emplace_back(kMaxFFTLength / 2, 0);
    } catch (const std::bad_alloc&) {
        if (FRing.empty())
            throw EOutOfMemory("Out of memory");
    }
    RebuildPlan();
    SetBounds(0, 0, 200, 100);
    Rebuild(true, true, true);
    FTimer.Add(
        25, false, [this] { PeakTimerTick(); }, this);
}

TMMSpectrum::~TMMSpectrum() {
    FTimer.Remove();
    FreeRealFFT(FPlan);
}

// ---- display interface ----

void TMMSpectrum::SetDisplayFormat(const WAVEFORMATEX* format) {
    if (!IsValidPCMFormat(format))
        throw EMMSpectrumError("Invalid WaveFormat");
    SetSampleRate(static_cast<int>(format->nSamplesPerSec));
    FBitLength = static_cast<TMMBits>(format->wBitsPerSample / 8 - 1);
    FMode = static_cast<TMMMode>(format->nChannels - 1);
}

void TMMSpectrum::ResetDisplay() {
    FInfoActive = false;
    ResetState();
    if (Enabled() && OnNeedData)
        OnNeedData(this);
    MarkStale();
}

void TMMSpectrum::ResetState() {
    std::fill(FValues.begin(), FValues.end(), 0);
    std::fill(FSpectrum.begin(), FSpectrum.end(), 0);
    ClearBars();
    FLoudValue = FLoudBin = FLoudColumn = 0;
    ClearDecay();
    FScrollValid = false;
}

void TMMSpectrum::ClearBars() {
    for (int i = 0; i < FBarCount; ++i) {
        FBars[static_cast<std::size_t>(i)].value = 0;
        FBars[static_cast<std::size_t>(i)].peak = 0;
        FBars[static_cast<std::size_t>(i)].countdown = 0;
    }
}

void TMMSpectrum::ClearDecay() {
    std::fill(FDecayed.begin(), FDecayed.end(), 0.0f);
    std::fill(FSums.begin(), FSums.end(), 0);
    for (auto& row : FRing)
        std::fill(row.begin(), row.end(), 0);
    FRingPos = 0;
    FRingFill = 0;
}

void TMMSpectrum::MarkStale() {
    FPictureStale = true;
    Invalidate();
}

// ---- one update ----

void TMMSpectrum::ShowData(const void* data) {
    if (!Enabled() || !Visible() || FInfoActive || data == nullptr)
        return;
    const int N = FFFTLength;
    const auto* p = static_cast<const std::uint8_t*>(data);
    const bool stereo = FMode != mMono;
    const bool mid = stereo && FChannel == chBoth;
    bool overflow = false;

    // 1. Sample selection.
    for (int i = 0; i < N; ++i) {
        int s;
        if (FBitLength == b16Bit) {
            if (!stereo)
                s = Sample16(p, i);
            else if (FChannel == chLeft)
                s = Sample16(p, 2 * i);
            else if (FChannel == chRight)
                s = Sample16(p, 2 * i + 1);
            else
                s = (Sample16(p, 2 * i) + Sample16(p, 2 * i + 1)) / 2;
            overflow |= s > (mid ? 32765 : 32766);
        } else {
            if (!stereo)
                s = p[i];
            else if (FChannel == chLeft)
                s = p[2 * i];
            else if (FChannel == chRight)
                s = p[2 * i + 1];
            else
                s = (p[2 * i] + p[2 * i + 1]) / 2;
            overflow |= s > 254;
        }
        FSelected[static_cast<std::size_t>(i)] = s;
    }
    if (overflow && OnPcmOverflow)
        OnPcmOverflow(this);

    // 2. Tilt and 3. window, in integer arithmetic.
    const int t = static_cast<int>(FGain) / 2;
    const std::int64_t windowDivisor = FBitLength == b16Bit ? 32768 : 128;
    const int first = FSelected[0];
    for (int i = 0; i < N; ++i) {
        const int s0 = FSelected[static_cast<std::size_t>(i)];
        const int s1 = i >= 1 ? FSelected[static_cast<std::size_t>(i) - 1] : first;
        const int s2 = i >= 2 ? FSelected[static_cast<std::size_t>(i) - 2] : first;
        std::int64_t v;
        if (t == 0)
            v = FBitLength == b16Bit ? s0 : s0 - 128;
        else if (t == 1)
            v = s0 - s1;
        else
            v = s0 - 2 * s1 + s2;
        FWork[static_cast<std::size_t>(i)] =
            static_cast<float>(v * FWindowTable[static_cast<std::size_t>(i)] / windowDivisor);
    }

    // 4. The transform and 5. the scaled spectrum.
    DoRealFFT(FPlan, FWork.data(), 1);
    const float half = static_cast<float>(N / 2);
    for (int i = 0; i < N; ++i)
        FSpectrum[static_cast<std::size_t>(i)] =
            Saturate16(std::trunc(FWork[static_cast<std::size_t>(i)] / half));

    // 6. Bin values.
    const bool logDirect = FDecayMode == dmNone && FLogAmp;
    if (FDecayMode == dmUniform) {
        FRingPos = (FRingPos + 1) % FDecayWindow;
        if (FRingFill < FDecayWindow)
            ++FRingFill;
    }
    for (int k = 0; k < N / 2; ++k) {
        const std::int64_t re = FSpectrum[2 * static_cast<std::size_t>(k)];
        const std::int64_t im = FSpectrum[2 * static_cast<std::size_t>(k) + 1];
        // 64-bit: two full-scale components (2^31) must not turn negative and vanish.
        const std::int64_t power = re * re + im * im;
        const auto bin = static_cast<std::size_t>(k);
        if (logDirect) {
            FValues[bin] = power < 1
                               ? 0
                               : std::max(static_cast<std::int32_t>(std::trunc(
                                              8192.0 * std::log2(static_cast<double>(power)) - FOffset[bin])),
                                          0);
            continue;
        }
        std::int32_t m = static_cast<std::int32_t>(std::trunc(16.0 * std::sqrt(static_cast<double>(power))));
        switch (FDecayMode) {
        case dmStepUp: {
            const float e = FDecayed[bin] * FDecayFactor;
            FDecayed[bin] = e;
            if (static_cast<float>(m) > e)
                FDecayed[bin] = static_cast<float>(m);
            else
                m = static_cast<std::int32_t>(e);
            break;
        }
        case dmExponential:
            FDecayed[bin] = FDecayed[bin] * FDecayFactor + (1.0f - FDecayFactor) * static_cast<float>(m);
            m = static_cast<std::int32_t>(std::floor(FDecayed[bin]));
            break;
        case dmUniform: {
            auto& slot = FRing[static_cast<std::size_t>(FRingPos)][bin];
            FSums[bin] += m - slot;
            slot = m;
            m = static_cast<std::int32_t>(FSums[bin] / FRingFill);
            break;
        }
        default:
            break;
        }
        FValues[bin] = m;
    }

    // 7. Bars.
    FLoudValue = FLoudBin = FLoudColumn = 0;
    const bool logMagnitude = FLogAmp && FDecayMode != dmNone;
    for (int b = 0; b < FBarCount; ++b) {
        Bar& bar = FBars[static_cast<std::size_t>(b)];
        const auto c = static_cast<std::size_t>(bar.first);
        const int bin = FColBin[c];
        std::int32_t a = 0;
        for (int k = bin; k < FColEnd[c]; ++k)
            a = std::max(a, FValues[static_cast<std::size_t>(k)]);
        int v = 0;
        if (a >= 1) {
            if (logMagnitude) {
                const double units =
                    2.0 * 8192.0 * std::log2(a / 16.0) - FOffset[static_cast<std::size_t>(bin)];
                v = std::max(static_cast<int>(std::trunc(units * FPixelsPerUnit)), 0);
            } else {
                const std::int64_t scaled = (static_cast<std::int64_t>(a) * FColFactor[c]) >> FShift;
                v = static_cast<int>(std::min<std::int64_t>(scaled, std::numeric_limits<int>::max()));
            }
        }
        bar.value = v;
        if (v > FLoudValue) {
            FLoudValue = v;
            FLoudBin = bin;
            FLoudColumn = bar.first;
        }
        if (v >= FH && OnGainOverflow)
            OnGainOverflow(this);
    }
    UpdatePeaks();

    // 8. The picture.
    Render(true);
    Invalidate();
}

int TMMSpectrum::SpotCount(int value) const {
    const int n = RoundHalfEven(value / (static_cast<double>(FH) / FSpots) + 0.5);
    return Clamp(n, 0, FSpots);
}

void TMMSpectrum::UpdatePeaks() {
    if (FNumPeaks == 0 || (FKind != skLines && FKind != skBars && FKind != skPeaks))
        return;
    const bool spots = FKind != skLines;
    for (int b = 0; b < FBarCount; ++b) {
        Bar& bar = FBars[static_cast<std::size_t>(b)];
        const int v = spots ? SpotCount(bar.value) : std::min(bar.value, FH);
        if (v >= bar.peak.load() && v > 0) {
            bar.peak = v;
            bar.countdown = 2 * FPeakDelay + 1;
            FTimer.Wake();
        }
    }
}

void TMMSpectrum::PeakTimerTick() {
    if (FRebuilding.load())
        return;
    const int count = FBarCount.load();
    bool falling = false;
    for (int b = 0; b < count; ++b) {
        Bar& bar = FBars[static_cast<std::size_t>(b)];
        const int peak = bar.peak.load();
        if (peak <= 0)
            continue;
        falling = true;
        int c = bar.countdown.load() - 1;
        if (c <= 0) {
            if (FPeakSpeed > 0) {
                bar.peak = peak - 1;
                c = FPeakSpeed;
            } else {
                bar.peak = 0;
                c = 0;
            }
        }
        bar.countdown = c;
    }
    if (!falling) {
        // Every peak is down: the timer need not call until the next one.
        FTimer.RestUnless([this, count] {
            for (int b = 0; b < count; ++b) {
                if (FBars[static_cast<std::size_t>(b)].peak.load() > 0)
                    return true;
            }
            return false;
        });
    }
}

// ---- tables ----

void TMMSpectrum::RebuildPlan() {
    FreeRealFFT(FPlan);
    const int bits = Log2Int(FFFTLength);
    FPlan = CreateRealFFT(bits);
    if (FPlan == nullptr)
        throw EOutOfMemory("Out of memory");
    MakeWindowTable(FWindowTable.data(), FWindow, bits);
}

void TMMSpectrum::Rebuild(bool columns, bool calibration, bool reset) {
    // The peak callback must not walk the bars while they are rebuilt.
    FRebuilding = true;
    FTimer.Suspend();
    CalcGeometry();
    if (columns)
        CalcColumns();
    if (calibration)
        CalcCalibration();
    FRebuilding = false;
    FTimer.Resume();
    if (reset)
        ResetState();
    MarkStale();
}

void TMMSpectrum::CalcGeometry() {
    TRect a = BeveledRect();
    if (FDrawAmpScale) {
        a.Left += 32;
        a.Right -= 32;
    }
    if (FDrawFreqScale)
        a.Bottom -= 40;
    FArea = a;
    FW = std::max(a.Width(), 4);
    FH = std::max(a.Height(), 4);
    FSpots = std::max((FH + FSpotSpace) / (FSpotHeight + FSpotSpace), 1);
    FSpotMargin = (FH + FSpotSpace - FSpots * (FSpotHeight + FSpotSpace)) / 2;
    switch (FKind) {
    case skBars:
    case skPeaks:
        FZone1 = RoundHalfEven(FPoint1 * FSpots / 100.0);
        FZone2 = RoundHalfEven(FPoint2 * FSpots / 100.0);
        break;
    case skLines:
    case skVLines:
        FZone1 = RoundHalfEven(FPoint1 * FH / 100.0);
        FZone2 = RoundHalfEven(FPoint2 * FH / 100.0);
        break;
    case skScroll:
        FZone1 = RoundHalfEven(FPoint1 * FH / 3.0 / 100.0);
        FZone2 = RoundHalfEven(FPoint2 * FH / 3.0 / 100.0);
        break;
    case skDots:
        FZone1 = RoundHalfEven(FH - FPoint1 * FH / 100.0);
        FZone2 = RoundHalfEven(FH - FPoint2 * FH / 100.0);
        break;
    }
}

void TMMSpectrum::CalcColumns() {
    const int W = FW;
    const double N = FFFTLength, R = FSampleRate, F = FFrequencyScale;
    const int lastBin = FFFTLength / 2 - 1;
    std::vector<int> bins(static_cast<std::size_t>(W) + 1, 0);
    if (OnGetXScale) {
        std::vector<int> table(static_cast<std::size_t>(W), 0);
        OnGetXScale(this, table);
        table.resize(static_cast<std::size_t>(W), 0);
        for (int i = 0; i < W; ++i)
            bins[static_cast<std::size_t>(i)] = table[static_cast<std::size_t>(i)];
        bins[static_cast<std::size_t>(W)] = bins[static_cast<std::size_t>(W) - 1] + 1;
    } else if (!FLogFreq) {
        double f0 = std::max(1.0, 0.0);
        if (R / 2 < R / (2 * F) + f0)
            f0 = R / 2 - R / (2 * F);
        FStartFrequency = f0;
        for (int i = 0; i <= W; ++i)
            bins[static_cast<std::size_t>(i)] =
                static_cast<int>(std::floor(static_cast<double>(i) / W * N / 2 / F + f0 / R * N + 0.01));
    } else {
        const double lo = R / N, hi = (R / 2) / std::pow(2.0, std::log2(N / 2) / F);
        const double f0 = std::clamp(1.0, lo, std::max(lo, hi));
        FStartFrequency = f0;
        const double octaves = std::log2((N + 1) / 2);
        for (int i = 0; i <= W; ++i)
            bins[static_cast<std::size_t>(i)] =
                static_cast<int>(
                    std::floor(std::pow(2.0, octaves * ((i - 0.45) / W) / F) * N * f0 / R + 0.51)) -
                1;
    }
    for (int& b : bins)
        b = Clamp(b, 0, lastBin);

    FColBin.assign(static_cast<std::size_t>(W), 0);
    FColEnd.assign(static_cast<std::size_t>(W), 0);
    FColEmpty.assign(static_cast<std::size_t>(W), false);
    FColFactor.assign(static_cast<std::size_t>(W), 0);
    for (int i = 0; i < W; ++i) {
        const int b = bins[static_cast<std::size_t>(i)];
        const int next = bins[static_cast<std::size_t>(i) + 1];
        FColBin[static_cast<std::size_t>(i)] = b;
        FColEnd[static_cast<std::size_t>(i)] = next - b > 1 ? next : b + 1;
    }
    for (int i = W - 1; i >= 1; --i)
        FColEmpty[static_cast<std::size_t>(i)] =
            FColBin[static_cast<std::size_t>(i)] == FColBin[static_cast<std::size_t>(i) - 1];

    FBars = std::make_unique<Bar[]>(static_cast<std::size_t>(W) + 1);
    int count = 0;
    for (int i = 0; i < W;) {
        int j = i + 1;
        while (j < W && FColEmpty[static_cast<std::size_t>(j)])
            ++j;
        FBars[static_cast<std::size_t>(count)].first = i;
        FBars[static_cast<std::size_t>(count)].end = j;
        ++count;
        i = j;
    }
    FBarCount = count;
}

void TMMSpectrum::CalcCalibration() {
    const double H = FH, R = FSampleRate, N = FFFTLength, ref = FRefFreq;
    const int t = static_cast<int>(FGain) / 2;
    const bool halfStep = static_cast<int>(FGain) % 2 == 1;
    const int W = static_cast<int>(FColBin.size());
    if (!FLogAmp) {
        double e = H / (std::sqrt(ref) * (FVerticalScale / 100.0) * 32768.0);
        if (t == 1)
            e *= R / (2 * kPi * ref);
        else if (t == 2)
            e *= R * R / (4 * kPi * kPi * ref * ref);
        int s = 4;
        if (!halfStep) {
            while (s < 62 && std::floor(std::sqrt(ref) * e * std::ldexp(1.0, s - 4) + 0.5) < 4096)
                ++s;
            const auto factor =
                static_cast<std::int64_t>(std::floor(std::sqrt(ref) * e * std::ldexp(1.0, s - 4) + 0.5));
            for (int i = 0; i < W; ++i)
                FColFactor[static_cast<std::size_t>(i)] = FColEmpty[static_cast<std::size_t>(i)] ? 0 : factor;
        } else {
            while (s < 62 && std::sqrt(R / 2) * e * std::ldexp(1.0, s - 4) < 4096)
                ++s;
            for (int i = 0; i < W; ++i) {
                const double bin = FColBin[static_cast<std::size_t>(i)];
                FColFactor[static_cast<std::size_t>(i)] =
                    FColEmpty[static_cast<std::size_t>(i)]
                        ? 0
                        : static_cast<std::int64_t>(std::nearbyint(
                              e * std::ldexp(1.0, s - 4) * std::sqrt((bin + 1) * R / N) + 0.5));
            }
        }
        FShift = s;
        std::fill(FOffset.begin(), FOffset.end(), 0);
        FPixelsPerUnit = 0.0;
        return;
    }
    const double a = 819.2 * std::log2(10.0);
    const double p = H / (60.0 * a);
    const double c = 20.0 * std::log10(32768.0);
    const double g = t == 0 ? a * (c - 60.0) : a * (c - 20.0 * t * std::log10(R / (2 * kPi * ref)) - 60.0);
    for (int k = 0; k < FFFTLength / 2; ++k) {
        double o = g + 0.5;
        if (halfStep)
            o -= a * 10.0 * std::log10((k + 1) * R / N / ref);
        FOffset[static_cast<std::size_t>(k)] = static_cast<std::int32_t>(std::floor(o));
    }
    int s = 0;
    while (s < 62 && p * std::ldexp(1.0, s) < 4096)
        ++s;
    const auto factor = static_cast<std::int64_t>(std::floor(p * std::ldexp(1.0, s) + 0.5));
    for (int i = 0; i < W; ++i)
        FColFactor[static_cast<std::size_t>(i)] = FColEmpty[static_cast<std::size_t>(i)] ? 0 : factor;
    FShift = s;
    FPixelsPerUnit = p;
}

double TMMSpectrum::FrequencyAt(double x) const {
    const double N = FFFTLength, R = FSampleRate, F = FFrequencyScale;
    if (!FLogFreq)
        return FStartFrequency + x / FW * (R / 2 / F);
    const double bin =
        std::pow(2.0, std::log2((N + 1) / 2) * ((x - 0.45) / FW) / F) * N * FStartFrequency / R - 1;
    return std::max(bin, 0.0) * R / N;
}

// ---- drawing ----

int TMMSpectrum::ZoneOfHeight(int height) const {
    if (height > FZone2)
        return 2;
    if (height > FZone1)
        return 1;
    return 0;
}

int TMMSpectrum::ZoneOfSpot(int spot) const {
    return ZoneOfHeight(spot);
}

void TMMSpectrum::Paint() {
    const TRect inner = Bevel().PaintBevel(Canvas(), ClientRect(), true);
    if (FPictureStale || FBitmap.Width() != std::max(inner.Width(), 0) ||
        FBitmap.Height() != std::max(inner.Height(), 0))
        Render(false);
    Canvas().Blit(FBitmap, inner.Left, inner.Top);
}

void TMMSpectrum::Render(bool scrollStep) {
    const TRect inner = BeveledRect();
    const int iw = std::max(inner.Width(), 0), ih = std::max(inner.Height(), 0);
    const bool resized = FBitmap.Width() != iw || FBitmap.Height() != ih;
    if (resized)
        FBitmap.SetSize(iw, ih, DIBColor(Color()));
    const TRect area = {FArea.Left - inner.Left, FArea.Top - inner.Top, FArea.Left - inner.Left + FW,
                        FArea.Top - inner.Top + FH};
    const bool scroll = FKind == skScroll && Enabled();
    if (!scroll || !FScrollValid || resized) {
        const TRect whole = {0, 0, iw, ih};
        if (OnClearBackground)
            OnClearBackground(this, FBitmap, whole);
        else
            FBitmap.FillRect(whole, DIBColor(Color()));
        FScrollValid = scroll;
    }
    FPictureStale = false;
    DrawScales(FBitmap);
    if (!Enabled())
        return;
    if (scroll) {
        if (scrollStep) {
            FBitmap.ScrollRect(area, 2);
            FBitmap.FillRect({area.Left, area.Top, area.Right, area.Top + 2}, DIBColor(Color()));
            DrawScrollKind(FBitmap);
        }
    } else {
        if (FDrawGrid)
            DrawGridLines(FBitmap);
        switch (FKind) {
        case skBars:
            DrawBarsKind(FBitmap, false);
            break;
        case skPeaks:
            DrawBarsKind(FBitmap, true);
            break;
        default:
            DrawLinesKind(FBitmap);
            break;
        }
    }
    if (FDisplayPeak && FLoudValue > 5) {
        const double f = (FLoudBin + 0.5) * FSampleRate / FFFTLength;
        const std::string text = Format("%7.1f Hz", f);
        // The right-aligned field leaves leading blanks; the label is centred on its digits.
        const std::string shown = text.substr(text.find_first_not_of(' '));
        const int w = TRaster::TextWidth(shown) + static_cast<int>(shown.size());
        int x = area.Left + FLoudColumn - w / 2;
        x = Clamp(x, area.Left, std::max(area.Right - w, area.Left));
        const int y = std::max(area.Top, area.Top + FH - std::min(FLoudValue, FH) - TRaster::FontHeight - 2);
        FBitmap.TextOut(x, y, shown, DIBColor(clWhite), true);
    }
    if (FInfoActive) {
        FBitmap.FillRect({area.Left, area.Top, area.Left + TRaster::TextWidth(FInfoText) + 2,
                          area.Top + TRaster::FontHeight + 2},
                         DIBColor(clBlack));
        FBitmap.TextOut(area.Left + 1, area.Top + 1, FInfoText, DIBColor(clWhite));
    }
}

void TMMSpectrum::DrawBarsKind(TRaster& r, bool peaksOnly) {
    const int ax = FArea.Left - BeveledRect().Left, ay = FArea.Top - BeveledRect().Top;
    const int pitch = FSpotHeight + FSpotSpace;
    auto spotRect = [&](int first, int end, int j) {
        const int yb = ay + FH - FSpotMargin - (j - 1) * pitch;
        return TRect{ax + first, yb - FSpotHeight, ax + end, yb};
    };
    for (int b = 0; b < FBarCount; ++b) {
        const Bar& bar = FBars[static_cast<std::size_t>(b)];
        const int end = std::max(bar.end - FSpace, bar.first + 1);
        const int count = SpotCount(bar.value);
        const int peak = bar.peak.load();
        if (OnDrawBar) {
            OnDrawBar(this, r, peak, bar.value, {ax + bar.first, ay, ax + end, ay + FH});
            continue;
        }
        for (int j = 1; j <= FSpots; ++j) {
            const bool lit = peaksOnly ? j == count : j <= count;
            const bool isPeak = FNumPeaks > 0 && j <= peak && j > peak - FNumPeaks && j > count;
            const TRect rc = spotRect(bar.first, end, j);
            if (lit || isPeak) {
                const TColor c = DIBColor(FBarColor[ZoneOfSpot(j)]);
                if (FActiveDoted)
                    r.FillRectDotted(rc, c);
                else
                    r.FillRect(rc, c);
            } else if (FDrawInactive) {
                const TColor c = DIBColor(FInactiveColor[ZoneOfSpot(j)]);
                if (FInactiveDoted)
                    r.FillRectDotted(rc, c);
                else
                    r.FillRect(rc, c);
            }
        }
    }
}

void TMMSpectrum::ZoneLine(TRaster& r, int x1, int y1, int x2, int y2, int zoneHeight) {
    // Each pixel takes the colour of the zone of its own height above the bottom.
    const int bottom = FArea.Top - BeveledRect().Top + zoneHeight;
    const int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
    const int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        r.SetPixel(x1, y1, DIBColor(FBarColor[ZoneOfHeight(bottom - y1)]));
        if (x1 == x2 && y1 == y2)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x1 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y1 += sy;
        }
    }
}

void TMMSpectrum::DrawLinesKind(TRaster& r) {
    const int ax = FArea.Left - BeveledRect().Left, ay = FArea.Top - BeveledRect().Top;
    for (int b = 0; b < FBarCount; ++b) {
        const Bar& bar = FBars[static_cast<std::size_t>(b)];
        const int v = Clamp(bar.value, 0, FH);
        if (OnDrawBar && FKind == skVLines) {
            OnDrawBar(this, r, bar.peak.load(), bar.value, {ax + bar.first, ay, ax + bar.end, ay + FH});
            continue;
        }
        if (FKind == skDots) {
            if (v <= 0)
                continue;
            const int row = FH - v; // from the top of the area
            const int zone = row < FZone2 ? 2 : (row < FZone1 ? 1 : 0);
            r.HLine(ax + bar.first, ax + bar.end - 1, ay + row, DIBColor(FBarColor[zone]));
        } else if (FKind == skVLines) {
            const int end = std::max(bar.end - FSpace, bar.first + 1);
            for (int h = 1; h <= v; ++h)
                r.HLine(ax + bar.first, ax + end - 1, ay + FH - h, DIBColor(FBarColor[ZoneOfHeight(h)]));
        }
    }
    if (FKind != skLines)
        return;
    auto point = [&](int b, bool peak) {
        const Bar& bar = FBars[static_cast<std::size_t>(b)];
        const int v = Clamp(peak ? bar.peak.load() : bar.value, 0, FH);
        return TPoint{ax + (bar.first + bar.end - 1) / 2, ay + FH - std::max(v, 1)};
    };
    for (int pass = 0; pass < (FNumPeaks > 0 ? 2 : 1); ++pass) {
        TPoint prev = point(0, pass == 1);
        for (int b = 1; b < FBarCount; ++b) {
            const TPoint next = point(b, pass == 1);
            ZoneLine(r, prev.X, prev.Y, next.X, next.Y, FH);
            prev = next;
        }
        if (FBarCount == 1)
            ZoneLine(r, prev.X, prev.Y, prev.X, prev.Y, FH);
    }
}

void TMMSpectrum::DrawScrollKind(TRaster& r) {
    const int ax = FArea.Left - BeveledRect().Left, ay = FArea.Top - BeveledRect().Top;
    const int third = std::max(FH / 3, 1);
    auto point = [&](int b) {
        const Bar& bar = FBars[static_cast<std::size_t>(b)];
        const int v = std::min(Clamp(bar.value, 0, FH) / 3, third - 1);
        return TPoint{ax + (bar.first + bar.end - 1) / 2, ay + third - 1 - v};
    };
    TPoint prev = point(0);
    for (int b = 1; b < FBarCount; ++b) {
        const TPoint next = point(b);
        ZoneLine(r, prev.X, prev.Y, next.X, next.Y, third - 1);
        prev = next;
    }
}

void TMMSpectrum::DrawGridLines(TRaster& r) {
    const int ax = FArea.Left - BeveledRect().Left, ay = FArea.Top - BeveledRect().Top;
    const TColor c = DIBColor(FGridColor);
    int divisions = FLogAmp ? 6 : 10;
    while (divisions > 1 && FH / divisions < 10)
        divisions /= 2;
    for (int k = 1; k < divisions; ++k)
        r.HLine(ax, ax + FW - 1, ay + RoundHalfEven(static_cast<double>(k) * FH / divisions), c);
    int labels = 32;
    while (labels > 1 && FW / labels < 10)
        labels /= 2;
    for (int k = 1; k < labels; ++k)
        r.VLine(ax + k * FW / labels, ay, ay + FH - 1, c);
}

void TMMSpectrum::DrawScales(TRaster& r) {
    const int ax = FArea.Left - BeveledRect().Left, ay = FArea.Top - BeveledRect().Top;
    const TColor text = DIBColor(FScaleTextColor), line = DIBColor(FScaleLineColor);
    if (FDrawFreqScale) {
        int count = 32;
        while (count > 1 && FW / count < 10)
            count /= 2;
        const int top = ay + FH;
        for (int k = 0; k <= count; ++k) {
            const int x = ax + k * FW / count;
            r.VLine(x, top + 1, top + 3, line);
            const std::string label = Format("%.0f", FrequencyAt(static_cast<double>(k) * FW / count));
            const int w = TRaster::TextWidth(label);
            // Labels only 10 pixels apart are staggered over four rows of the strip.
            r.TextOut(x - w / 2, top + 5 + (k % 4) * (TRaster::FontHeight + 2), label, text);
        }
        r.TextOut(ax + FW - TRaster::TextWidth("HZ"), top + 5 + 4 * (TRaster::FontHeight + 2), "Hz", text);
    }
    if (FDrawAmpScale) {
        const int steps = FLogAmp ? 6 : 10;
        for (int k = 0; k <= steps; ++k) {
            const int y = ay + RoundHalfEven(static_cast<double>(k) * FH / steps);
            const std::string label = FLogAmp ? std::to_string(-10 * k)
                                              : Format("%.2f", FVerticalScale / 100.0 * (steps - k) / steps);
            const int w = TRaster::TextWidth(label);
            r.HLine(ax - 4, ax - 1, y, line);
            r.HLine(ax + FW, ax + FW + 3, y, line);
            const int ty =
                Clamp(y - TRaster::FontHeight / 2, 0, std::max(r.Height() - TRaster::FontHeight, 0));
            r.TextOut(ax - 6 - w, ty, label, text);
            r.TextOut(ax + FW + 6, ty, label, text);
        }
    }
}

// ---- mouse information ----

void TMMSpectrum::UpdateInfo(int x, int y) {
    // The cursor is held inside the area while the button is down.
    x = Clamp(x, FArea.Left, FArea.Left + FW - 1);
    y = Clamp(y, FArea.Top, FArea.Top + FH - 1);
    FInfoX = x;
    FInfoY = y;
    FInfoText = Format("%2.3f KHz", FrequencyAt(x - FArea.Left) / 1000.0);
    if (FKind != skScroll) {
        const double fromBottom = static_cast<double>(FArea.Top + FH - y) / FH;
        if (FLogAmp)
            FInfoText += Format(" %2.1f dB", -60.0 * (1.0 - fromBottom));
        else
            FInfoText +=
                Format(FVerticalScale < 10 ? " %5.3f V" : " %4.2f V", fromBottom * FVerticalScale / 100.0);
    }
    MarkStale();
}

void TMMSpectrum::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TMMDIBGraphicControl::MouseDown(button, shift, x, y);
    if (button != mbLeft || !FShowInfo)
        return;
    FInfoActive = true;
    UpdateInfo(x, y);
}

void TMMSpectrum::MouseMove(TShiftState shift, int x, int y) {
    TMMDIBGraphicControl::MouseMove(shift, x, y);
    if (FInfoActive)
        UpdateInfo(x, y);
}

void TMMSpectrum::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TMMDIBGraphicControl::MouseUp(button, shift, x, y);
    if (button == mbLeft && FInfoActive) {
        FInfoActive = false;
        MarkStale();
    }
}

// ---- properties ----

void TMMSpectrum::Resize() {
    if (FPlan != nullptr)
        Rebuild(true, true, true);
}

void TMMSpectrum::SetEnabled(bool v) {
    if (v == Enabled())
        return;
    TMMDIBGraphicControl::SetEnabled(v);
    if (v) {
        FTimer.Resume();
    } else {
        FTimer.Suspend();
        ResetState();
    }
    MarkStale();
}

void TMMSpectrum::SetKind(TMMSpectrumKind v) {
    if (v == FKind)
        return;
    FKind = v;
    FScrollValid = false;
    Rebuild(false, false, false);
}

void TMMSpectrum::SetFFTLength(int v) {
    v = FloorPow2(Clamp(v, 8, kMaxFFTLength));
    if (v == FFFTLength)
        return;
    FFFTLength = v;
    RebuildPlan();
    Rebuild(true, true, true);
}

void TMMSpectrum::SetWindow(TMMFFTWindow v) {
    if (v == FWindow)
        return;
    FWindow = v;
    MakeWindowTable(FWindowTable.data(), FWindow, Log2Int(FFFTLength));
}

void TMMSpectrum::SetSampleRate(int v) {
    v = Clamp(v, 8000, 100000);
    if (v == FSampleRate)
        return;
    FSampleRate = v;
    Rebuild(true, true, true);
}

void TMMSpectrum::SetLogFreq(bool v) {
    if (v == FLogFreq)
        return;
    FLogFreq = v;
    Rebuild(true, true, true);
}

void TMMSpectrum::SetFrequencyScale(int v) {
    v = FloorPow2(Clamp(v, 1, 16));
    if (v == FFrequencyScale)
        return;
    FFrequencyScale = v;
    Rebuild(true, true, true);
}

void TMMSpectrum::SetLogAmp(bool v) {
    if (v == FLogAmp)
        return;
    FLogAmp = v;
    Rebuild(false, true, true);
}

void TMMSpectrum::SetGain(TMMSpectrumGain v) {
    if (v == FGain || v < sgNone || v > sg12db)
        return;
    FGain = v;
    CalcCalibration();
    ClearBars();
    MarkStale();
}

void TMMSpectrum::SetRefFreq(int v) {
    v = Clamp(v, 1, 44100);
    if (v == FRefFreq)
        return;
    FRefFreq = v;
    CalcCalibration();
    ClearBars();
    MarkStale();
}

void TMMSpectrum::SetVerticalScale(int v) {
    v = Clamp(v, 1, 500);
    if (v == FVerticalScale)
        return;
    FVerticalScale = v;
    CalcCalibration();
    ClearBars();
    MarkStale();
}

void TMMSpectrum::SetDecayMode(TMMDecayMode v) {
    if (v == FDecayMode)
        return;
    FDecayMode = v;
    ClearDecay();
}

void TMMSpectrum::SetDecay(int v) {
    v = Clamp(v, 1, 16);
    if (v == FDecay)
        return;
    FDecay = v;
    double f = 0.0001;
    for (int i = 0; i < v; ++i)
        f = std::sqrt(f);
    FDecayFactor = static_cast<float>(f);
    FDecayWindow = std::min(Clamp(2 * v - 2, 1, 32), std::max(static_cast<int>(FRing.size()), 1));
    if (FDecayMode == dmUniform)
        ClearDecay();
}

void TMMSpectrum::SetNumPeaks(int v) {
    if (v < 0 || v > 5 || v == FNumPeaks)
        return;
    FNumPeaks = v;
    if (v == 0)
        FTimer.Suspend();
    else if (Enabled())
        FTimer.Resume();
    MarkStale();
}

void TMMSpectrum::SetPeakDelay(int v) {
    if (v < 0 || v > 50)
        return;
    FPeakDelay = v;
}

void TMMSpectrum::SetPeakSpeed(int v) {
    if (v < 0 || v > 50)
        return;
    FPeakSpeed = v;
}

void TMMSpectrum::SetSpace(int v) {
    if (v < 0 || v > 5 || v == FSpace)
        return;
    FSpace = v;
    MarkStale();
}

void TMMSpectrum::SetSpotSpace(int v) {
    v = Clamp(v, 0, 10);
    if (v == FSpotSpace)
        return;
    FSpotSpace = v;
    Rebuild(false, false, false);
}

void TMMSpectrum::SetSpotHeight(int v) {
    v = Clamp(v, 1, std::max(FH / 3, 1));
    if (v == FSpotHeight)
        return;
    FSpotHeight = v;
    Rebuild(false, false, false);
}

void TMMSpectrum::SetPoint1(int v) {
    v = Clamp(v, 1, 100);
    if (v == FPoint1)
        return;
    FPoint1 = v;
    Rebuild(false, false, false);
}

void TMMSpectrum::SetPoint2(int v) {
    v = Clamp(v, 1, 100);
    if (v == FPoint2)
        return;
    FPoint2 = v;
    Rebuild(false, false, false);
}

void TMMSpectrum::SetDrawFreqScale(bool v) {
    if (v == FDrawFreqScale)
        return;
    FDrawFreqScale = v;
    Rebuild(true, true, true);
}

void TMMSpectrum::SetDrawAmpScale(bool v) {
    if (v == FDrawAmpScale)
        return;
    FDrawAmpScale = v;
    Rebuild(true, true, true);
}

} // namespace tunefold
