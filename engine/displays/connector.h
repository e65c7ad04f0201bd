// The pass-through stage that feeds the analysis displays with the audio being heard. It keeps a
// copy of the latest buffer and the moment it was captured; every trigger hands each group of
// displays the next chunk of that copy whose play time has come, so the meters move with the sound
// although the output holds more than a second of audio in its queue.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/displays/display_client.h"
#include "engine/displays/display_timer_client.h"
#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"

namespace tunefold {

namespace platform {
class TimerService;
}

TUNEFOLD_ERROR_CLASS(EMMConnectorError, EMMError);

class TMMLevel;
class TMMSpectrum;
class TMMConversionChain;

// Messages of the connectors' shared hidden window.
constexpr UINT MM_CONNECTOR_ACTIVATE = 0xB1F5;
constexpr UINT MM_CONNECTOR_TRIGGER = 0xB1F6;
constexpr UINT MM_CONNECTOR_AUTOLOOP = 0xB1F7;

class TMMConnector : public TMMDSPComponent {
public:
    // The display groups, in the order a trigger serves them.
    enum Group { gLevels, gMeters, gOscopes, gLights, gSpectra, gSpectrograms, kGroupCount };

    explicit TMMConnector(TComponent* owner = nullptr);
    ~TMMConnector() override;

    // ---- properties ----
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool v);
    bool AutoConvert() const { return FAutoConvert; }
    void SetAutoConvert(bool v) { FAutoConvert = v; }
    bool AutoTrigger() const { return FAutoTrigger; }
    void SetAutoTrigger(bool v);
    bool Synchronize() const { return FSynchronize; }
    void SetSynchronize(bool v) { FSynchronize = v; }
    int Speed() const { return FSpeed; }
    void SetSpeed(int v);
    TMMTriggerMode TriggerMode() const { return FTriggerMode; }
    void SetTriggerMode(TMMTriggerMode v) { FTriggerMode = v; }
    int TriggerLevel() const { return FTriggerLevel; }
    void SetTriggerLevel(int v) { FTriggerLevel = v; }
    bool RefreshOnStop() const { return FRefreshOnStop; }
    void SetRefreshOnStop(bool v) { FRefreshOnStop = v; }
    bool RealTime() const { return FRealTime; }
    void SetRealTime(bool v);
    // One flag shared by every connector of the process.
    static bool EnterIdle();
    static void SetEnterIdle(bool v);

    TMMLevel* Level1() const { return FLevel[0]; }
    void SetLevel1(TMMLevel* v) { SetLevel(0, v); }
    TMMLevel* Level2() const { return FLevel[1]; }
    void SetLevel2(TMMLevel* v) { SetLevel(1, v); }
    TMMSpectrum* Spectrum1() const { return FSpectrum[0]; }
    void SetSpectrum1(TMMSpectrum* v) { SetSpectrum(0, v); }
    TMMSpectrum* Spectrum2() const { return FSpectrum[1]; }
    void SetSpectrum2(TMMSpectrum* v) { SetSpectrum(1, v); }
    TMMSpectrum* Spectrum3() const { return FSpectrum[2]; }
    void SetSpectrum3(TMMSpectrum* v) { SetSpectrum(2, v); }
    TMMSpectrum* Spectrum4() const { return FSpectrum[3]; }
    void SetSpectrum4(TMMSpectrum* v) { SetSpectrum(3, v); }
    // The display kinds this program does not build keep their slots: any display of the interface.
    TMMDisplayClient* Meter(int index) const { return Slot(gMeters, index); }
    void SetMeter(int index, TMMDisplayClient* v) { SetSlot(gMeters, index, v); }
    TMMDisplayClient* Oscope(int index) const { return Slot(gOscopes, index); }
    void SetOscope(int index, TMMDisplayClient* v) { SetSlot(gOscopes, index, v); }
    TMMDisplayClient* Light(int index) const { return Slot(gLights, index); }
    void SetLight(int index, TMMDisplayClient* v) { SetSlot(gLights, index, v); }
    TMMDisplayClient* Spectrogram(int index) const { return Slot(gSpectrograms, index); }
    void SetSpectrogram(int index, TMMDisplayClient* v) { SetSlot(gSpectrograms, index, v); }

    TNotifyEvent OnTrigger;

    // The manual trigger (the player's display timer calls it).
    void Trigger();

    // ---- stage operations ----
    void BufferReady(PWaveHdr lpWaveHdr) override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;
    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void Reset() override;

    // ---- state (tests, diagnostics) ----
    bool IsConnectorStarted() const { return FConnectorStarted; }
    bool IsActive() const { return FActive.load(); }
    bool IsPaused() const { return FPaused.load(); }
    bool HasCaptureBuffer() const;
    int ValidBytes() const;
    const WAVEFORMATEX* DisplayFormat() const { return FDisplayFormat.get(); }
    // Whether the stored data go through a converter into the display format.
    bool IsConverting() const;
    int UpdateCount(Group g) const { return FGroups[g].counter.load(); }
    bool GroupPending(Group g) const { return FGroups[g].pending.load(); }
    int ReadOffset(Group g) const { return FGroups[g].offset.load(); }
    std::int64_t CaptureTime() const { return FCaptureTime.load(); }
    bool PauseTimerAdded() const { return FPauseTimer.IsAdded(); }
    int PendingTriggers() const { return FPendingTriggers.load(); }
    // Connectors in automatic mode and the greatest Speed of all (process-wide).
    static int AutomaticCount();
    static int GreatestSpeed();

    // The microsecond clock the pacing uses.
    static std::int64_t NowMicroseconds();
    // Where an exception inside a handler of the hidden window goes (the application's handler);
    // the loop goes on either way.
    static void SetExceptionHandler(std::function<void(const std::exception&)> handler);

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    struct GroupState {
        std::atomic<bool> pending{false};
        std::atomic<int> offset{0};
        std::atomic<int> counter{0};
        std::atomic<bool> hasDisplays{false};
        std::array<std::atomic<int>, 2> offsets{}; // spectrograms: one per display
    };
    friend struct ConnectorShared;

    TMMDisplayClient* Slot(Group g, int index) const;
    void SetSlot(Group g, int index, TMMDisplayClient* v);
    void SetLevel(int index, TMMLevel* v);
    void SetSpectrum(int index, TMMSpectrum* v);
    void Attach(Group g, TMMDisplayClient* display);
    std::vector<TMMDisplayClient*> Displays(Group g) const;
    template <class F>
    void ForEachDisplay(F f) const;

    void StoreBuffer(const char* data, std::uint32_t count);
    bool StartConverter(const WAVEFORMATEX& format);
    void TriggerStep();
    void MakePending();
    void PostActivate();
    void Activate();
    void Deactivate();
    void PauseTick();
    static void AutoLoop();
    static LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

    bool FEnabled = true;
    bool FAutoConvert = true;
    bool FAutoTrigger = true;
    bool FSynchronize = true;
    int FSpeed = 5000;
    TMMTriggerMode FTriggerMode = tmNone;
    int FTriggerLevel = 0;
    bool FRefreshOnStop = true;
    bool FRealTime = true;

    std::array<TMMLevel*, 2> FLevel{};
    std::array<TMMSpectrum*, 4> FSpectrum{};
    std::array<std::array<TMMDisplayClient*, 4>, kGroupCount> FSlots{};
    // The component behind each slot, kept at attachment: a display being destroyed can no longer
    // be asked for it.
    std::array<std::array<TComponent*, 4>, kGroupCount> FSlotComponents{};

    std::uint64_t FSerial = 0;
    bool FConnectorStarted = false;
    std::atomic<bool> FActive{false};
    bool FAutomatic = false; // counted among the automatic connectors
    std::atomic<bool> FPaused{false};
    WaveFormatPtr FDisplayFormat;
    std::uint8_t FSilence = 0;
    std::vector<std::uint8_t> FCapture;
    // Turns a non-PCM stream into the display format while started (null otherwise).
    std::unique_ptr<TMMConversionChain> FConverter;
    int FValid = 0;
    std::atomic<std::int64_t> FCaptureTime{0};
    std::array<GroupState, kGroupCount> FGroups;
    std::atomic<int> FPendingTriggers{0};
    mutable std::recursive_mutex FLock;
    TDisplayTimerClient FPauseTimer;
    platform::TimerService* FResolutionService = nullptr;
};

} // namespace tunefold
