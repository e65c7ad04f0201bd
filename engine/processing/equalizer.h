// The graphic equalizer stage: bands (TMMEQFilter) in a persistent list (TMMEQFilterList), turned
// into one curve and filtered by the engine of eq_engine.h on 16-bit PCM passing through.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"
#include "engine/framework/object_list.h"
#include "engine/processing/eq_engine.h"
#include "engine/processing/fft.h"
#include "platform/message_loop.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMEqualizerError, EMMError);

class TMMEqualizer;

// One band: raises or lowers F1 .. F2 Hz by Gain dB. A disabled band counts as 0 dB.
class TMMEQFilter : public TMMObject {
public:
    using TChangeProc = std::function<void(TMMEQFilter* filter)>;

    TMMEQFilter() = default;
    TMMEQFilter(float f1, float f2, float gain) : FF1(f1), FF2(f2), FGain(gain) {}
    std::string ClassName() const override { return "TMMEQFilter"; }

    float F1() const { return FF1; }
    float F2() const { return FF2; }
    float Gain() const { return FGain; }
    bool Enabled() const { return FEnabled; }
    void SetF1(float value) { SetValue(0, value); }
    void SetF2(float value) { SetValue(1, value); }
    void SetGain(float value) { SetValue(2, value); }
    void SetEnabled(bool value);
    // Stores the three values and reports a change only when one of them differs.
    void SetValues(float f1, float f2, float gain);
    // 0 = F1, 1 = F2, 2 = Gain.
    void SetValue(int index, float value);
    float GetValue(int index) const;
    // Copies F1, F2, Gain and Enabled (one change report when anything differs).
    void Assign(const TMMEQFilter& source);

    // Set by the list to the owning equalizer's band handler.
    void SetChangeCallback(TChangeProc callback) { FOnBandChange = std::move(callback); }

private:
    void ReportChange();

    float FF1 = 0;
    float FF2 = 0;
    float FGain = 0;
    bool FEnabled = true;
    TChangeProc FOnBandChange;
};

// The equalizer's bands. Its stored form carries the owner's Description and FFTLength:
// "EQU\0", the list flag byte, a 4-byte description length and the description, the 4-byte FFT
// length, a 2-byte count and per band its class name (length byte + characters), Enabled (1 byte)
// and F1, F2, Gain as 4-byte floats.
class TMMEQFilterList : public TObjectList {
public:
    explicit TMMEQFilterList(TMMEqualizer* owner = nullptr);
    ~TMMEQFilterList() override;

    TMMEqualizer* Equalizer() const { return FOwner; }
    TMMEQFilter* Items(int index) const;
    // The list takes the band and routes its changes to the equalizer.
    int Add(TMMEQFilter* filter);
    int AddFilter(float f1, float f2, float gain);
    void Delete(int index);
    void Clear();
    // Copies every band of `source`; reported to the equalizer once, at the end.
    void Assign(const TMMEQFilterList& source);

    void SaveToStream(TStream& stream) const;
    // All or nothing: a damaged stream leaves the bands, the description and the length as they were.
    void LoadFromStream(TStream& stream);

protected:
    void Changed() override;

private:
    void Adopt(TMMEQFilter* filter);

    TMMEqualizer* FOwner;
    bool FAssigning = false;
    bool FReading = false;
};

// What the equalizer needs of an analyzer that shows the equalizer's own response.
class TMMEQResponseView {
public:
    virtual ~TMMEQResponseView() = default;
    // The format of what the equalizer hands over: 16-bit mono at its SampleRate.
    virtual void SetResponseFormat(const WAVEFORMATEX* format) = 0;
    virtual void SetResponseWindow(TMMFFTWindow window) = 0;
    // The analyzer calls `request` whenever it wants the response; an empty function detaches.
    virtual void SetResponseCallback(std::function<void()> request) = 0;
    // The filtered impulse, `count` samples.
    virtual void ShowResponse(const std::int16_t* samples, int count) = 0;
};

class TMMEqualizer : public TMMDSPComponent {
public:
    explicit TMMEqualizer(TComponent* owner = nullptr);
    ~TMMEqualizer() override;

    // ---- published properties ----
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    int SampleRate() const { return FSampleRate; }
    void SetSampleRate(int value);
    int FFTLength() const { return FFFTLength; }
    void SetFFTLength(int value);
    const std::string& Description() const { return FDescription; }
    void SetDescription(std::string value) { FDescription = std::move(value); }
    TMMEQFilterList& Filters() { return FFilters; }
    const TMMEQFilterList& Filters() const { return FFilters; }
    void SetFilters(const TMMEQFilterList& value) { FFilters.Assign(value); }
    TMMEQResponseView* Spectrum() const { return FSpectrum; }
    void SetSpectrum(TMMEQResponseView* value);
    TMMChannel Channel() const { return FChannel; }
    void SetChannel(TMMChannel value) { FChannel = value; }
    TMMFFTWindow Window() const { return FWindow; }
    void SetWindow(TMMFFTWindow value);

    TNotifyEvent OnChange;
    TNotifyEvent OnPcmOverflow;

    void Assign(const TMMEqualizer& source);

    // The stored property "ObjectContainer".
    void WriteFilters(TStream& stream) const { FFilters.SaveToStream(stream); }
    void ReadFilters(TStream& stream) { FFilters.LoadFromStream(stream); }

    bool Ready() const { return FReady; }
    // The open engine (none while closed), and the response display's engine.
    TMMEQEngine* Engine() const { return FEngine; }
    TMMEQEngine* ResponseEngine() const { return FResponseEngine; }

    // Re-applies the bands to the response engine, filters one impulse and shows the result.
    void RefreshResponse();

    // ---- stage operations ----
    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Reset() override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    bool CanWorkLate() const override { return true; }
    void ProcessLate(char* data, DWORD bytes, bool last) override;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    friend class TMMEQFilterList;
    void ListChanged();
    void BandChanged(TMMEQFilter* filter);
    void NotifyChange();
    void ApplyAllBands(TMMEQEngine* engine, int rate);
    void CreateEngine();
    void FreeEngine();
    void RebuildResponseEngine();
    // True when the filtered samples overflowed.
    bool Filter(char* data, DWORD bytes, bool endOfStream);
    void TellOverflow();

    std::atomic<bool> FEnabled{true};
    int FSampleRate = 4000;
    int FFFTLength = 256;
    std::string FDescription = "Untitled";
    TMMEQFilterList FFilters;
    TMMEQResponseView* FSpectrum = nullptr;
    std::atomic<TMMChannel> FChannel{chBoth};
    TMMFFTWindow FWindow = fwHamming;

    // The engine is replaced only on the GUI thread, under this lock, which the thread that drives
    // the chain holds while it filters a buffer: it never sees an engine being freed.
    std::mutex FEngineLock;
    TMMEQEngine* FEngine = nullptr;
    std::atomic<bool> FReady{false};
    // An overflow found by late work is posted to the GUI thread (late work must not wait for it),
    // once until it has been told.
    std::unique_ptr<platform::MessageWindow> FLateNotice;
    std::atomic<bool> FLateOverflowPosted{false};
    TMMEQEngine* FResponseEngine = nullptr;
};

} // namespace tunefold
