// The real-time spectrum analyzer. For each chunk the connector hands it, it selects a channel (or
// the mid signal), optionally differentiates it to tilt the spectrum, windows it, runs the real FFT,
// smooths the bin magnitudes with a decay rule, maps them onto columns (linear or logarithmic
// frequency axis) and bar heights (linear or decibel axis), holds falling peaks and draws one of six
// pictures. Sample and magnitude arithmetic is fixed point: per column a factor and a shift.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/displays/display_client.h"
#include "engine/displays/display_timer_client.h"
#include "engine/displays/display_types.h"
#include "engine/framework/dib_control.h"
#include "engine/framework/pcm.h"
#include "engine/processing/fft.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMSpectrumError, EMMError);

enum TMMSpectrumKind { skDots, skLines, skVLines, skBars, skPeaks, skScroll };
enum TMMSpectrumGain { sgNone, sg3db, sg6db, sg9db, sg12db };

// Fills bins[column] for every column itself (the table has one entry per column).
using TMMSpectrumGetXScale = std::function<void(TObject* sender, std::vector<int>& bins)>;
// Draws one bar: canvas, peak, value, bar rectangle.
using TMMSpectrumDrawBar =
    std::function<void(TObject* sender, TRaster& canvas, int peak, int value, const TRect& rect)>;
using TMMSpectrumClear = std::function<void(TObject* sender, TRaster& canvas, const TRect& rect)>;

class TMMSpectrum : public TMMDIBGraphicControl, public TMMDisplayClient {
public:
    static constexpr int kMaxFFTLength = 4096;

    explicit TMMSpectrum(TComponent* owner = nullptr);
    ~TMMSpectrum() override;

    // ---- the display interface the connector uses ----
    void SetDisplayFormat(const WAVEFORMATEX* format) override;
    int BytesPerUpdate() const override { return (FBitLength + 1) * (FMode + 1) * FFFTLength; }
    void ShowData(const void* data) override;
    void ResetDisplay() override;
    TComponent* DisplayComponent() override { return this; }

    // ---- properties ----
    void SetEnabled(bool v) override;
    TMMSpectrumKind Kind() const { return FKind; }
    void SetKind(TMMSpectrumKind v);
    int FFTLength() const { return FFFTLength; }
    void SetFFTLength(int v);
    TMMFFTWindow Window() const { return FWindow; }
    void SetWindow(TMMFFTWindow v);
    int SampleRate() const { return FSampleRate; }
    void SetSampleRate(int v);
    TMMBits BitLength() const { return FBitLength; }
    void SetBitLength(TMMBits v) { FBitLength = v; }
    TMMMode Mode() const { return FMode; }
    void SetMode(TMMMode v) { FMode = v == mMono ? mMono : mStereo; }
    TMMChannel Channel() const { return FChannel; }
    void SetChannel(TMMChannel v) { FChannel = v; }
    bool LogFreq() const { return FLogFreq; }
    void SetLogFreq(bool v);
    bool LogAmp() const { return FLogAmp; }
    void SetLogAmp(bool v);
    TMMSpectrumGain Gain() const { return FGain; }
    void SetGain(TMMSpectrumGain v);
    int RefFreq() const { return FRefFreq; }
    void SetRefFreq(int v);
    int VerticalScale() const { return FVerticalScale; }
    void SetVerticalScale(int v);
    int FrequencyScale() const { return FFrequencyScale; }
    void SetFrequencyScale(int v);
    TMMDecayMode DecayMode() const { return FDecayMode; }
    void SetDecayMode(TMMDecayMode v);
    int Decay() const { return FDecay; }
    void SetDecay(int v);
    int NumPeaks() const { return FNumPeaks; }
    void SetNumPeaks(int v);
    int PeakDelay() const { return FPeakDelay; }
    void SetPeakDelay(int v);
    int PeakSpeed() const { return FPeakSpeed; }
    void SetPeakSpeed(int v);
    bool DisplayPeak() const { return FDisplayPeak; }
    void SetDisplayPeak(bool v) { SetFlag(FDisplayPeak, v); }
    bool ShowInfo() const { return FShowInfo; }
    void SetShowInfo(bool v) { FShowInfo = v; }
    int Space() const { return FSpace; }
    void SetSpace(int v);
    int SpotSpace() const { return FSpotSpace; }
    void SetSpotSpace(int v);
    int SpotHeight() const { return FSpotHeight; }
    void SetSpotHeight(int v);
    int Point1() const { return FPoint1; }
    void SetPoint1(int v);
    int Point2() const { return FPoint2; }
    void SetPoint2(int v);
    TColor Bar1Color() const { return FBarColor[0]; }
    void SetBar1Color(TColor v) { SetColorField(FBarColor[0], v); }
    TColor Bar2Color() const { return FBarColor[1]; }
    void SetBar2Color(TColor v) { SetColorField(FBarColor[1], v); }
    TColor Bar3Color() const { return FBarColor[2]; }
    void SetBar3Color(TColor v) { SetColorField(FBarColor[2], v); }
    TColor Inactive1Color() const { return FInactiveColor[0]; }
    void SetInactive1Color(TColor v) { SetColorField(FInactiveColor[0], v); }
    TColor Inactive2Color() const { return FInactiveColor[1]; }
    void SetInactive2Color(TColor v) { SetColorField(FInactiveColor[1], v); }
    TColor Inactive3Color() const { return FInactiveColor[2]; }
    void SetInactive3Color(TColor v) { SetColorField(FInactiveColor[2], v); }
    bool DrawInactive() const { return FDrawInactive; }
    void SetDrawInactive(bool v) { SetFlag(FDrawInactive, v); }
    bool InactiveDoted() const { return FInactiveDoted; }
    void SetInactiveDoted(bool v) { SetFlag(FInactiveDoted, v); }
    bool ActiveDoted() const { return FActiveDoted; }
    void SetActiveDoted(bool v) { SetFlag(FActiveDoted, v); }
    bool DrawFreqScale() const { return FDrawFreqScale; }
    void SetDrawFreqScale(bool v);
    bool DrawAmpScale() const { return FDrawAmpScale; }
    void SetDrawAmpScale(bool v);
    bool DrawGrid() const { return FDrawGrid; }
    void SetDrawGrid(bool v) { SetFlag(FDrawGrid, v); }
    TColor ScaleTextColor() const { return FScaleTextColor; }
    void SetScaleTextColor(TColor v) { SetColorField(FScaleTextColor, v); }
    TColor ScaleLineColor() const { return FScaleLineColor; }
    void SetScaleLineColor(TColor v) { SetColorField(FScaleLineColor, v); }
    TColor GridColor() const { return FGridColor; }
    void SetGridColor(TColor v) { SetColorField(FGridColor, v); }

    // ---- derived state (the display's tables) ----
    TRect DrawArea() const { return FArea; }
    int Columns() const { return FW; }
    int AreaHeight() const { return FH; }
    int NumSpots() const { return FSpots; }
    int ColumnBin(int column) const { return FColBin[static_cast<std::size_t>(column)]; }
    int ColumnBinEnd(int column) const { return FColEnd[static_cast<std::size_t>(column)]; }
    bool ColumnEmpty(int column) const { return FColEmpty[static_cast<std::size_t>(column)]; }
    std::int64_t ColumnFactor(int column) const { return FColFactor[static_cast<std::size_t>(column)]; }
    int Shift() const { return FShift; }
    int BinOffset(int bin) const { return FOffset[static_cast<std::size_t>(bin)]; }
    int BarCount() const { return FBarCount; }
    int BarFirstColumn(int bar) const { return FBars[static_cast<std::size_t>(bar)].first; }
    int BarEndColumn(int bar) const { return FBars[static_cast<std::size_t>(bar)].end; }
    int BarValue(int bar) const { return FBars[static_cast<std::size_t>(bar)].value; }
    int BarPeak(int bar) const { return FBars[static_cast<std::size_t>(bar)].peak.load(); }
    int BinValue(int bin) const { return FValues[static_cast<std::size_t>(bin)]; }
    std::int16_t ScaledSpectrum(int index) const { return FSpectrum[static_cast<std::size_t>(index)]; }
    int LoudestValue() const { return FLoudValue; }
    int LoudestBin() const { return FLoudBin; }
    int LoudestColumn() const { return FLoudColumn; }
    float DecayFactor() const { return FDecayFactor; }
    int DecayWindow() const { return FDecayWindow; }
    bool PeakTimerAdded() const { return FTimer.IsAdded(); }
    // Frequency at a horizontal position of the area (0 .. Columns()).
    double FrequencyAt(double x) const;

    // The shared display timer's callback (the timer's thread): lets the peaks fall.
    void PeakTimerTick();

    // Mouse information while the left button is held (ShowInfo).
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    bool InfoShown() const { return FInfoActive; }
    const std::string& InfoText() const { return FInfoText; }

    TNotifyEvent OnNeedData;
    TMMSpectrumGetXScale OnGetXScale;
    TMMSpectrumDrawBar OnDrawBar;
    TMMSpectrumClear OnClearBackground;
    TNotifyEvent OnGainOverflow;
    TNotifyEvent OnPcmOverflow;

protected:
    void Paint() override;
    void Resize() override;
    void BitsPerPixelChanged() override { MarkStale(); }

private:
    struct Bar {
        int first = 0;
        int end = 0; // exclusive
        int value = 0;
        std::atomic<int> peak{0};
        std::atomic<int> countdown{0};
    };

    template <class T>
    void SetFlag(T& field, T v) {
        if (field == v)
            return;
        field = v;
        Invalidate();
    }
    void SetColorField(TColor& field, TColor v) { SetFlag(field, v); }

    void RebuildPlan();
    void CalcGeometry();
    void CalcColumns();
    void CalcCalibration();
    void ClearBars();
    void ClearDecay();
    void ResetState();
    void Rebuild(bool columns, bool calibration, bool reset);
    int ZoneOfHeight(int height) const;
    int ZoneOfSpot(int spot) const;
    int SpotCount(int value) const;
    void UpdatePeaks();
    void UpdateInfo(int x, int y);

    void Render(bool scrollStep);
    void MarkStale();
    void DrawBarsKind(TRaster& r, bool peaksOnly);
    void DrawLinesKind(TRaster& r);
    void DrawScrollKind(TRaster& r);
    void DrawGridLines(TRaster& r);
    void DrawScales(TRaster& r);
    void ZoneLine(TRaster& r, int x1, int y1, int x2, int y2, int zoneHeight);

    TMMSpectrumKind FKind = skBars;
    int FFFTLength = 128;
    TMMFFTWindow FWindow = fwHamming;
    int FSampleRate = 11025;
    TMMBits FBitLength = b8Bit;
    TMMMode FMode = mMono;
    TMMChannel FChannel = chBoth;
    bool FLogFreq = false;
    bool FLogAmp = false;
    TMMSpectrumGain FGain = sgNone;
    int FRefFreq = 1000;
    int FVerticalScale = 100;
    int FFrequencyScale = 1;
    TMMDecayMode FDecayMode = dmNone;
    int FDecay = 1;
    int FNumPeaks = 1;
    int FPeakDelay = 20;
    int FPeakSpeed = 0;
    bool FDisplayPeak = false;
    bool FShowInfo = true;
    int FSpace = 1;
    int FSpotSpace = 1;
    int FSpotHeight = 1;
    int FPoint1 = 50;
    int FPoint2 = 85;
    TColor FBarColor[3] = {clAqua, clAqua, clRed};
    TColor FInactiveColor[3] = {clTeal, clTeal, clMaroon};
    bool FDrawInactive = true;
    bool FInactiveDoted = false;
    bool FActiveDoted = false;
    bool FDrawFreqScale = false;
    bool FDrawAmpScale = false;
    bool FDrawGrid = false;
    TColor FScaleTextColor = clBlack;
    TColor FScaleLineColor = clBlack;
    TColor FGridColor = clGray;

    // Geometry.
    TRect FArea{};
    int FW = 4;
    int FH = 4;
    int FSpots = 1;
    int FSpotMargin = 0;
    int FZone1 = 0;
    int FZone2 = 0;

    // Working state, sized once for the largest transform.
    std::vector<std::int32_t> FWindowTable;
    std::vector<std::int16_t> FSpectrum;
    std::vector<std::int32_t> FValues;
    std::vector<float> FDecayed;
    std::vector<std::int32_t> FOffset;
    std::vector<std::int64_t> FSums;
    std::vector<std::vector<std::int32_t>> FRing;
    std::vector<std::int32_t> FSelected;
    std::vector<float> FWork;
    int FRingPos = 0;
    int FRingFill = 0;
    float FDecayFactor = 0.0001f;
    int FDecayWindow = 1;
    TMMRealFFT* FPlan = nullptr;

    // Per column, and the bars.
    std::vector<int> FColBin;
    std::vector<int> FColEnd;
    std::vector<bool> FColEmpty;
    std::vector<std::int64_t> FColFactor;
    int FShift = 0;
    double FPixelsPerUnit = 0.0;
    double FStartFrequency = 1.0;
    std::unique_ptr<Bar[]> FBars;
    std::atomic<int> FBarCount{0};
    std::atomic<bool> FRebuilding{false};
    int FLoudValue = 0;
    int FLoudBin = 0;
    int FLoudColumn = 0;

    TRaster FBitmap;
    bool FScrollValid = false;
    bool FPictureStale = true;
    bool FInfoActive = false;
    std::string FInfoText;
    int FInfoX = 0;
    int FInfoY = 0;
    TDisplayTimerClient FTimer;
};

} // namespace tunefold
