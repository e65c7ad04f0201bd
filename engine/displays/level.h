// The LED-bar peak meter and its decibel label strip. The connector hands the meter chunks of the
// audio being heard; the meter measures the largest sample, smooths it with a decay rule, maps it
// onto its spots (decibel or linear), holds a falling peak marker, and redraws only on change.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "engine/displays/display_client.h"
#include "engine/displays/display_timer_client.h"
#include "engine/displays/display_types.h"
#include "engine/framework/dib_control.h"
#include "engine/framework/pcm.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMLevelError, EMMError);

enum TMMLevelKind { lkHorizontal, lkVertical };
enum TMMLevelDirection { dirNormal, dirReversed, dirSymetric };

// Replaces the built-in drawing: canvas, peak spot, lit spots, client rectangle.
using TMMLevelDrawBar =
    std::function<void(TObject* sender, TRaster& canvas, int peak, int spots, const TRect& rect)>;

class TMMCustomLevel : public TMMDIBGraphicControl, public TMMDisplayClient {
public:
    explicit TMMCustomLevel(TComponent* owner = nullptr);
    ~TMMCustomLevel() override;

    // ---- the display interface the connector uses ----
    void SetDisplayFormat(const WAVEFORMATEX* format) override;
    int BytesPerUpdate() const override { return (FBitLength + 1) * (FMode + 1) * FSamples; }
    void ShowData(const void* data) override;
    void ResetDisplay() override;
    TComponent* DisplayComponent() override { return this; }

    // ---- properties ----
    void SetEnabled(bool v) override;
    TMMLevelKind Kind() const { return FKind; }
    void SetKind(TMMLevelKind v);
    TMMLevelDirection Direction() const { return FDirection; }
    void SetDirection(TMMLevelDirection v);
    int SpotSpace() const { return FSpotSpace; }
    void SetSpotSpace(int v);
    int SpotWidth() const { return FSpotWidth; }
    void SetSpotWidth(int v);
    TColor Bar1Color() const { return FBarColor[0]; }
    void SetBar1Color(TColor v) { SetZoneColor(FBarColor[0], v); }
    TColor Bar2Color() const { return FBarColor[1]; }
    void SetBar2Color(TColor v) { SetZoneColor(FBarColor[1], v); }
    TColor Bar3Color() const { return FBarColor[2]; }
    void SetBar3Color(TColor v) { SetZoneColor(FBarColor[2], v); }
    TColor Inactive1Color() const { return FInactiveColor[0]; }
    void SetInactive1Color(TColor v) { SetZoneColor(FInactiveColor[0], v); }
    TColor Inactive2Color() const { return FInactiveColor[1]; }
    void SetInactive2Color(TColor v) { SetZoneColor(FInactiveColor[1], v); }
    TColor Inactive3Color() const { return FInactiveColor[2]; }
    void SetInactive3Color(TColor v) { SetZoneColor(FInactiveColor[2], v); }
    bool InactiveDoted() const { return FInactiveDoted; }
    void SetInactiveDoted(bool v);
    bool ActiveDoted() const { return FActiveDoted; }
    void SetActiveDoted(bool v);
    int Point1() const { return FPoint1; }
    void SetPoint1(int v);
    int Point2() const { return FPoint2; }
    void SetPoint2(int v);
    TMMBits BitLength() const { return FBitLength; }
    void SetBitLength(TMMBits v) { FBitLength = v; }
    TMMMode Mode() const { return FMode; }
    void SetMode(TMMMode v) { FMode = v == mMono ? mMono : mStereo; }
    TMMChannel Channel() const { return FChannel; }
    void SetChannel(TMMChannel v) { FChannel = v; }
    int Gain() const { return FGain; }
    void SetGain(int v);
    int Samples() const { return FSamples; }
    void SetSamples(int v) { FSamples = v < 1 ? 1 : v; }
    int Sensitivy() const { return FSensitivy; }
    void SetSensitivy(int v);
    bool LogAmp() const { return FLogAmp; }
    void SetLogAmp(bool v);
    int NumPeaks() const { return FNumPeaks; }
    void SetNumPeaks(int v);
    int PeakDelay() const { return FPeakDelay; }
    void SetPeakDelay(int v) { FPeakDelay = Clamp(v, 0, 50); }
    int PeakSpeed() const { return FPeakSpeed; }
    void SetPeakSpeed(int v) { FPeakSpeed = Clamp(v, 0, 50); }
    TMMDecayMode DecayMode() const { return FDecayMode; }
    void SetDecayMode(TMMDecayMode v);
    int Decay() const { return FDecay; }
    void SetDecay(int v);
    // 0 .. 100: writing shows that percentage of full scale, reading gives the displayed level.
    int Value() const;
    void SetValue(int v);
    int DCOffsetL() const { return FDCOffsetL; }
    void SetDCOffsetL(int v) { FDCOffsetL = v; }
    int DCOffsetR() const { return FDCOffsetR; }
    void SetDCOffsetR(int v) { FDCOffsetR = v; }

    // ---- derived state ----
    int NumSpots() const { return FNumSpots; }
    int Zone1Spots() const { return FZone1; }
    int Zone2Spots() const { return FZone2; }
    int LitSpots() const { return FSpots; }
    int PeakSpot() const { return FPeak.load(); }
    int LastRawLevel() const { return FLastRaw; }
    // The level after the decay rule, as the last update mapped it.
    int ShownLevel() const { return FShown; }
    float DecayFactor() const { return FDecayFactor; }
    int DecayWindow() const { return FDecayWindow; }
    bool PeakTimerAdded() const { return FTimer.IsAdded(); }

    // The shared display timer's callback (runs on the timer's thread): lets the peak fall.
    void PeakTimerTick();
    // Applies one level as a measurement would (also what writing Value does).
    void ApplyLevel(int level);

    TMMLevelDrawBar OnDrawBar;
    TNotifyEvent OnGainOverflow;
    TNotifyEvent OnPcmOverflow;
    TNotifyEvent OnPaint;

protected:
    void Paint() override;
    void Resize() override;
    void BitsPerPixelChanged() override;

private:
    void SetZoneColor(TColor& field, TColor v);
    void Recalculate();
    void ClearDecay();
    void RebuildBackground();
    void DrawSpot(TRaster& r, int spot, TColor color, bool dotted) const;
    TColor ZoneColor(const TColor (&colors)[3], int spot) const;
    void Redraw();

    TMMLevelKind FKind = lkHorizontal;
    TMMLevelDirection FDirection = dirNormal;
    int FSpotSpace = 1;
    int FSpotWidth = 1;
    TColor FBarColor[3] = {clAqua, clAqua, clRed};
    TColor FInactiveColor[3] = {clTeal, clTeal, clMaroon};
    bool FInactiveDoted = false;
    bool FActiveDoted = false;
    int FPoint1 = 50;
    int FPoint2 = 85;
    TMMBits FBitLength = b8Bit;
    TMMMode FMode = mMono;
    TMMChannel FChannel = chBoth;
    int FGain = 0;
    int FSamples = 50;
    int FSensitivy = -35;
    bool FLogAmp = true;
    int FNumPeaks = 1;
    int FPeakDelay = 20;
    int FPeakSpeed = 0;
    TMMDecayMode FDecayMode = dmNone;
    int FDecay = 1;
    int FDCOffsetL = 0;
    int FDCOffsetR = 0;

    int FNumSpots = 1;
    int FMargin = 0;
    int FZone1 = 0;
    int FZone2 = 0;
    float FDecayFactor = 0.0001f;
    int FDecayWindow = 1;
    std::int32_t FRing[32] = {};
    int FRingPos = 0;
    int FRingFill = 0;
    std::int64_t FRingSum = 0;
    float FDecayed = 0.0f;
    int FSpots = 0;
    int FLastRaw = 0;
    int FShown = 0;
    // Shared with the timer thread.
    std::atomic<int> FPeak{0};
    std::atomic<int> FPeakCount{0};
    std::atomic<bool> FRedraw{false};

    TRaster FBackground;
    TRaster FBitmap;
    TDisplayTimerClient FTimer;
};

class TMMLevel : public TMMCustomLevel {
public:
    using TMMCustomLevel::TMMCustomLevel;
};

enum TMMScalePos { spBoth, spTopLeft, spBottomRight };

// The decibel labels beside a meter.
class TMMLevelScale : public TMMGraphicControl {
public:
    explicit TMMLevelScale(TComponent* owner = nullptr);

    int ScaleTicks() const { return FScaleTicks; }
    void SetScaleTicks(int v);
    int Point1() const { return FPoint1; }
    void SetPoint1(int v);
    int Point2() const { return FPoint2; }
    void SetPoint2(int v);
    TColor Scale1Color() const { return FScaleColor[0]; }
    void SetScale1Color(TColor v) { SetField(FScaleColor[0], v); }
    TColor Scale2Color() const { return FScaleColor[1]; }
    void SetScale2Color(TColor v) { SetField(FScaleColor[1], v); }
    TColor Scale3Color() const { return FScaleColor[2]; }
    void SetScale3Color(TColor v) { SetField(FScaleColor[2], v); }
    int Sensitivy() const { return FSensitivy; }
    void SetSensitivy(int v);
    bool LogAmp() const { return FLogAmp; }
    void SetLogAmp(bool v) { SetField(FLogAmp, v); }
    TMMLevelKind Kind() const { return FKind; }
    void SetKind(TMMLevelKind v);
    TMMLevelDirection Direction() const { return FDirection; }
    void SetDirection(TMMLevelDirection v) { SetField(FDirection, v); }
    TMMScalePos ScalePos() const { return FScalePos; }
    void SetScalePos(TMMScalePos v) { SetField(FScalePos, v); }

    // The text of label k (0 at the loud end) and where it sits, 0 .. 1 from the quiet end.
    int LabelValue(int k) const;
    double LabelPosition(int k) const;
    // Every how many labels one is printed so that none overlap.
    int LabelStep() const;

protected:
    void Paint() override;

private:
    template <class T>
    void SetField(T& field, T v) {
        if (field == v)
            return;
        field = v;
        Invalidate();
    }

    int FScaleTicks = 8;
    int FPoint1 = 50;
    int FPoint2 = 85;
    TColor FScaleColor[3] = {clWhite, clWhite, clRed};
    int FSensitivy = -35;
    bool FLogAmp = true;
    TMMLevelKind FKind = lkHorizontal;
    TMMLevelDirection FDirection = dirNormal;
    TMMScalePos FScalePos = spBoth;
};

} // namespace tunefold
