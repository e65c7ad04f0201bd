#include "engine/displays/level.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tunefold {

namespace {

constexpr int kFullScale = 32767;

std::int16_t Sample16(const std::uint8_t* p, int index) {
    std::int16_t v;
    std::memcpy(&v, p + 2 * index, 2);
    return v;
}

int RoundHalfEven(double x) {
    return static_cast<int>(std::nearbyint(x));
}

} // namespace

TMMCustomLevel::TMMCustomLevel(TComponent* owner) : TMMDIBGraphicControl(owner) {
    TMMControl::SetColor(clBlack);
    SetBounds(0, 0, 200, 16);
    Recalculate();
    FTimer.Add(
        25, false, [this] { PeakTimerTick(); }, this);
}

TMMCustomLevel::~TMMCustomLevel() {
    FTimer.Remove();
}

// ---- display interface ----

void TMMCustomLevel::SetDisplayFormat(const WAVEFORMATEX* format) {
    if (!IsValidPCMFormat(format))
        throw EMMLevelError("Invalid WaveFormat");
    FBitLength = static_cast<TMMBits>(format->wBitsPerSample / 8 - 1);
    FMode = static_cast<TMMMode>(format->nChannels - 1);
}

void TMMCustomLevel::ShowData(const void* data) {
    if (!Enabled() || !Visible() || data == nullptr)
        return;
    const auto* p = static_cast<const std::uint8_t*>(data);
    const bool stereo = FMode != mMono;
    int a = 0;
    for (int i = 0; i < FSamples; ++i) {
        int v;
        if (FBitLength == b16Bit) {
            if (!stereo) {
                v = Sample16(p, i) - FDCOffsetL;
            } else if (FChannel == chLeft) {
                v = Sample16(p, 2 * i) - FDCOffsetL;
            } else if (FChannel == chRight) {
                v = Sample16(p, 2 * i + 1) - FDCOffsetR;
            } else {
                v = ((Sample16(p, 2 * i) - FDCOffsetL) + (Sample16(p, 2 * i + 1) - FDCOffsetR)) / 2;
            }
        } else {
            int x;
            if (!stereo)
                x = p[i] - FDCOffsetL;
            else if (FChannel == chLeft)
                x = p[2 * i] - FDCOffsetL;
            else if (FChannel == chRight)
                x = p[2 * i + 1] - FDCOffsetR;
            else
                x = ((p[2 * i] - FDCOffsetL) + (p[2 * i + 1] - FDCOffsetR)) / 2;
            v = (x - 128) * 256;
        }
        a = std::max(a, std::abs(v));
    }
    if (a >= kFullScale && OnPcmOverflow)
        OnPcmOverflow(this);
    ApplyLevel(a);
}

void TMMCustomLevel::ResetDisplay() {
    FPeak = 0;
    FPeakCount = 0;
    FSpots = 0;
    FLastRaw = 0;
    FShown = 0;
    ClearDecay();
    Invalidate();
}

// ---- measuring and mapping ----

void TMMCustomLevel::ApplyLevel(int level) {
    std::int64_t b = std::llabs(static_cast<long long>(level));
    FLastRaw = static_cast<int>(std::min<std::int64_t>(b, INT32_MAX));
    if (b == 0 && FSpots == 0 && !FRedraw.load())
        return;
    if (FDecayMode != dmNone) {
        FRingPos = (FRingPos + 1) % FDecayWindow;
        if (FRingFill < FDecayWindow)
            ++FRingFill;
        switch (FDecayMode) {
        case dmStepUp: {
            const float e = FDecayed * FDecayFactor;
            FDecayed = e;
            if (static_cast<float>(b) > e)
                FDecayed = static_cast<float>(b);
            else
                b = static_cast<std::int64_t>(e);
            break;
        }
        case dmExponential:
            FDecayed = FDecayed * FDecayFactor + (1.0f - FDecayFactor) * static_cast<float>(b);
            b = static_cast<std::int64_t>(std::floor(FDecayed));
            break;
        default: {
            const std::int32_t v = static_cast<std::int32_t>(std::min<std::int64_t>(b, INT32_MAX));
            FRingSum += v - FRing[FRingPos];
            FRing[FRingPos] = v;
            b = FRingSum / FRingFill;
            break;
        }
        }
    }
    FShown = static_cast<int>(std::min<std::int64_t>(b, INT32_MAX));
    const int n = FNumSpots;
    const int s = FSensitivy;
    const std::int64_t scaled = b * (FGain + 8) / 8;
    int spots;
    if (FLogAmp) {
        const float dB = static_cast<float>(
            20.0 * std::log10(std::max(static_cast<double>(scaled) / kFullScale, 0.000001)));
        spots = std::max(RoundHalfEven((static_cast<double>(dB) - s) * n / -s), 0);
    } else {
        const float floorLevel = static_cast<float>(kFullScale / std::pow(10.0, -s / 20.0));
        spots = std::max(
            RoundHalfEven((static_cast<double>(scaled) - floorLevel) * n / (kFullScale - floorLevel)), 0);
    }
    if (FDirection == dirSymetric)
        spots /= 2;
    if (spots > n) {
        if (OnGainOverflow)
            OnGainOverflow(this);
        spots = n;
    }
    if (spots >= FPeak.load() && spots > 0 && FNumPeaks > 0) {
        FPeak = spots;
        FPeakCount = 2 * FPeakDelay + 1;
        FRedraw = true;
        FTimer.Wake();
    }
    if (spots == FSpots && !FRedraw.load())
        return;
    FRedraw = false;
    FSpots = spots;
    if (Enabled() && Visible())
        Redraw();
}

void TMMCustomLevel::PeakTimerTick() {
    const int peak = FPeak.load();
    if (peak <= 0) {
        // Nothing falls until the next peak: the timer need not call.
        FTimer.RestUnless([this] { return FPeak.load() > 0; });
        return;
    }
    int count = FPeakCount.load() - 1;
    if (count <= 0) {
        if (FPeakSpeed > 0) {
            FPeak = peak - 1;
            count = FPeakSpeed;
        } else {
            FPeak = 0;
            count = 0;
        }
    }
    FPeakCount = count;
    FRedraw = true;
}

int TMMCustomLevel::Value() const {
    if (FSpots == 0)
        return 0;
    if (!FLogAmp)
        return RoundHalfEven(FSpots * 100.0 / FNumSpots);
    const double s = FSensitivy;
    return RoundHalfEven(std::pow(10.0, (s - FSpots * s / FNumSpots) / 20.0) * 8.0 / (FGain + 8) * 100.0);
}

void TMMCustomLevel::SetValue(int v) {
    v = Clamp(v, 0, 100);
    ApplyLevel(RoundHalfEven(v * static_cast<double>(kFullScale) / 100.0));
}

// ---- properties ----

void TMMCustomLevel::SetEnabled(bool v) {
    if (v == Enabled())
        return;
    TMMDIBGraphicControl::SetEnabled(v);
    if (v) {
        FTimer.Resume();
    } else {
        FTimer.Suspend();
        FSpots = 0;
        FPeak = 0;
        FPeakCount = 0;
    }
    Invalidate();
}

void TMMCustomLevel::SetKind(TMMLevelKind v) {
    if (v == FKind)
        return;
    FKind = v;
    if ((v == lkVertical && Width() > Height()) || (v == lkHorizontal && Height() > Width()))
        SetBounds(Left(), Top(), Height(), Width());
    Recalculate();
}

void TMMCustomLevel::SetDirection(TMMLevelDirection v) {
    if (v == FDirection)
        return;
    FDirection = v;
    Recalculate();
}

void TMMCustomLevel::SetSpotSpace(int v) {
    v = Clamp(v, 0, 10);
    if (v == FSpotSpace)
        return;
    FSpotSpace = v;
    Recalculate();
}

void TMMCustomLevel::SetSpotWidth(int v) {
    const TRect inner = BeveledRect();
    const int length = std::max(FKind == lkHorizontal ? inner.Width() : inner.Height(), 1);
    v = Clamp(v, 1, std::max(length / 3, 1));
    if (v == FSpotWidth)
        return;
    FSpotWidth = v;
    Recalculate();
}

void TMMCustomLevel::SetZoneColor(TColor& field, TColor v) {
    if (field == v)
        return;
    field = v;
    RebuildBackground();
    Invalidate();
}

void TMMCustomLevel::SetInactiveDoted(bool v) {
    if (v == FInactiveDoted)
        return;
    FInactiveDoted = v;
    RebuildBackground();
    Invalidate();
}

void TMMCustomLevel::SetActiveDoted(bool v) {
    if (v == FActiveDoted)
        return;
    FActiveDoted = v;
    Invalidate();
}

void TMMCustomLevel::SetPoint1(int v) {
    v = Clamp(v, 1, 100);
    if (v == FPoint1)
        return;
    FPoint1 = v;
    Recalculate();
}

void TMMCustomLevel::SetPoint2(int v) {
    v = Clamp(v, 1, 100);
    if (v == FPoint2)
        return;
    FPoint2 = v;
    Recalculate();
}

void TMMCustomLevel::SetGain(int v) {
    if (v < -8 || v > 32)
        return;
    FGain = v;
}

void TMMCustomLevel::SetSensitivy(int v) {
    FSensitivy = Clamp(v, -90, -9);
}

void TMMCustomLevel::SetLogAmp(bool v) {
    FLogAmp = v;
}

void TMMCustomLevel::SetNumPeaks(int v) {
    v = Clamp(v, 0, 5);
    if (v == FNumPeaks)
        return;
    FNumPeaks = v;
    if (v == 0)
        FTimer.Suspend();
    else if (Enabled())
        FTimer.Resume();
    Invalidate();
}

void TMMCustomLevel::SetDecayMode(TMMDecayMode v) {
    if (v == FDecayMode)
        return;
    FDecayMode = v;
    ClearDecay();
}

void TMMCustomLevel::SetDecay(int v) {
    v = Clamp(v, 1, 16);
    if (v == FDecay)
        return;
    FDecay = v;
    // 0.0001^(1 / 2^Decay) by repeated square roots: a fall of 80 / 2^Decay dB per update.
    double f = 0.0001;
    for (int i = 0; i < v; ++i)
        f = std::sqrt(f);
    FDecayFactor = static_cast<float>(f);
    FDecayWindow = Clamp(2 * v - 2, 1, 32);
    if (FDecayMode == dmUniform)
        ClearDecay();
}

void TMMCustomLevel::ClearDecay() {
    std::fill(std::begin(FRing), std::end(FRing), 0);
    FRingPos = 0;
    FRingFill = 0;
    FRingSum = 0;
    FDecayed = 0.0f;
}

// ---- geometry and drawing ----

void TMMCustomLevel::Resize() {
    Recalculate();
}

void TMMCustomLevel::BitsPerPixelChanged() {
    RebuildBackground();
}

void TMMCustomLevel::Recalculate() {
    const TRect inner = BeveledRect();
    const int length = std::max(FKind == lkHorizontal ? inner.Width() : inner.Height(), 1);
    FNumSpots = std::max((length + FSpotSpace) / (FSpotWidth + FSpotSpace), 1);
    FMargin = (length + FSpotSpace - FNumSpots * (FSpotWidth + FSpotSpace)) / 2;
    FZone1 = FPoint1 * FNumSpots / 100;
    FZone2 = FPoint2 * FNumSpots / 100;
    RebuildBackground();
    Invalidate();
}

TColor TMMCustomLevel::ZoneColor(const TColor (&colors)[3], int spot) const {
    if (spot > FZone2)
        return colors[2];
    if (spot > FZone1)
        return colors[1];
    return colors[0];
}

void TMMCustomLevel::DrawSpot(TRaster& r, int spot, TColor color, bool dotted) const {
    const int pitch = FSpotWidth + FSpotSpace;
    const bool reversed = FDirection == dirReversed;
    TRect rc;
    if (FKind == lkHorizontal) {
        const int x =
            reversed ? r.Width() - FMargin - spot * pitch + FSpotSpace : FMargin + (spot - 1) * pitch;
        rc = {x, 0, x + FSpotWidth, r.Height()};
    } else {
        const int y =
            reversed ? FMargin + (spot - 1) * pitch : r.Height() - FMargin - spot * pitch + FSpotSpace;
        rc = {0, y, r.Width(), y + FSpotWidth};
    }
    const TColor c = DIBColor(color);
    if (dotted)
        r.FillRectDotted(rc, c);
    else
        r.FillRect(rc, c);
}

void TMMCustomLevel::RebuildBackground() {
    const TRect inner = BeveledRect();
    FBackground.SetSize(std::max(inner.Width(), 0), std::max(inner.Height(), 0), DIBColor(Color()));
    for (int i = 1; i <= FNumSpots; ++i)
        DrawSpot(FBackground, i, ZoneColor(FInactiveColor, i), FInactiveDoted);
}

void TMMCustomLevel::Redraw() {
    Invalidate();
}

void TMMCustomLevel::Paint() {
    const TRect inner = Bevel().PaintBevel(Canvas(), ClientRect(), true);
    if (OnPaint)
        OnPaint(this);
    if (FBackground.Width() != inner.Width() || FBackground.Height() != inner.Height())
        RebuildBackground();
    FBitmap = FBackground;
    if (!Enabled()) {
        Canvas().Blit(FBitmap, inner.Left, inner.Top);
        return;
    }
    const int spots = FSpots;
    const int peak = FPeak.load();
    if (OnDrawBar) {
        OnDrawBar(this, FBitmap, peak, spots, {0, 0, FBitmap.Width(), FBitmap.Height()});
    } else {
        if (FDirection == dirSymetric) {
            if (spots > 0) {
                const TColor c = ZoneColor(FBarColor, spots);
                for (int i = std::max(spots - 2, 1); i <= std::min(spots + 2, FNumSpots); ++i)
                    DrawSpot(FBitmap, i, c, FActiveDoted);
            }
        } else {
            for (int i = 1; i <= spots; ++i)
                DrawSpot(FBitmap, i, ZoneColor(FBarColor, i), FActiveDoted);
        }
        if (peak > spots)
            for (int i = peak; i > peak - FNumPeaks && i >= 1; --i)
                DrawSpot(FBitmap, i, ZoneColor(FBarColor, i), FActiveDoted);
    }
    Canvas().Blit(FBitmap, inner.Left, inner.Top);
}

// ---- the label strip ----

TMMLevelScale::TMMLevelScale(TComponent* owner) : TMMGraphicControl(owner) {
    Bevel().SetBevelOuter(bvNone);
    TMMControl::SetColor(clBlack);
    SetBounds(0, 0, 200, 9);
}

void TMMLevelScale::SetScaleTicks(int v) {
    SetField(FScaleTicks, std::max(v, 2));
}

void TMMLevelScale::SetPoint1(int v) {
    SetField(FPoint1, Clamp(v, 1, 100));
}

void TMMLevelScale::SetPoint2(int v) {
    SetField(FPoint2, Clamp(v, 1, 100));
}

void TMMLevelScale::SetSensitivy(int v) {
    SetField(FSensitivy, Clamp(v, -90, -9));
}

void TMMLevelScale::SetKind(TMMLevelKind v) {
    if (v == FKind)
        return;
    FKind = v;
    if ((v == lkVertical && Width() > Height()) || (v == lkHorizontal && Height() > Width()))
        SetBounds(Left(), Top(), Height(), Width());
    Invalidate();
}

int TMMLevelScale::LabelValue(int k) const {
    const int last = FScaleTicks - 1;
    if (FLogAmp)
        return MulDiv(k, FSensitivy, last);
    const double floorLevel = kFullScale / std::pow(10.0, -FSensitivy / 20.0);
    const int j = last - k;
    return RoundHalfEven(20.0 * std::log10((floorLevel + (kFullScale - floorLevel) * j / last) / kFullScale));
}

double TMMLevelScale::LabelPosition(int k) const {
    return 1.0 - static_cast<double>(k) / (FScaleTicks - 1);
}

int TMMLevelScale::LabelStep() const {
    const TRect inner = BeveledRect();
    const int length = FKind == lkHorizontal ? inner.Width() : inner.Height();
    int need = TRaster::FontHeight + 1;
    if (FKind == lkHorizontal) {
        need = 0;
        for (int k = 0; k < FScaleTicks; ++k)
            need = std::max(need, TRaster::TextWidth(std::to_string(LabelValue(k))));
        need += 2;
    }
    const double spacing = static_cast<double>(std::max(length - 1, 1)) / (FScaleTicks - 1);
    int step = 1;
    while (step < FScaleTicks - 1 && step * spacing < need)
        ++step;
    return step;
}

void TMMLevelScale::Paint() {
    const TRect inner = Bevel().PaintBevel(Canvas(), ClientRect(), true);
    Canvas().FillRect(inner, Color());
    const int step = LabelStep();
    for (int k = 0; k < FScaleTicks; k += step) {
        const std::string text = std::to_string(LabelValue(k));
        double pos = LabelPosition(k);
        const double percent = pos * 100.0;
        const TColor c =
            percent > FPoint2 ? FScaleColor[2] : (percent > FPoint1 ? FScaleColor[1] : FScaleColor[0]);
        if (FDirection == dirReversed)
            pos = 1.0 - pos;
        const int w = TRaster::TextWidth(text);
        int x, y;
        if (FKind == lkHorizontal) {
            x = inner.Left + static_cast<int>(std::lround(pos * (inner.Width() - 1))) - w / 2;
            x = Clamp(x, inner.Left, std::max(inner.Right - w, inner.Left));
            y = inner.Top + (inner.Height() - TRaster::FontHeight) / 2;
        } else {
            y = inner.Bottom - 1 - static_cast<int>(std::lround(pos * (inner.Height() - 1))) -
                TRaster::FontHeight / 2;
            y = Clamp(y, inner.Top, std::max(inner.Bottom - TRaster::FontHeight, inner.Top));
            x = inner.Left + (inner.Width() - w) / 2;
        }
        Canvas().TextOut(x, y, text, c);
    }
}

} // namespace tunefold
