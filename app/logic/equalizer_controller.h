// The equalizer window's controller: the curve editor (ten band points dragged over a 120-point
// curve whose band values go to the equalizer stage on every move), presets and the start-up
// curve, the spectrum view and its six kinds, the power switch, the overflow lamp and the output
// volume wheel bound to the sound card's mixer. The file player reaches it as its equalizer side.
// Everything runs on the GUI thread.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "app/logic/eq_curve.h"
#include "app/logic/file_player.h"
#include "engine/devices/mixer.h"
#include "engine/devices/mixer_wheel.h"
#include "engine/devices/ring_buffer.h"
#include "engine/devices/wave_in.h"
#include "engine/displays/spectrum.h"
#include "engine/framework/hi_timer.h"

namespace tunefold {

struct TEqualizerView {
    bool powerOn = false;
    bool chartVisible = false; // the curve editor covers the spectrum
    bool spectrumEnabled = false;
    bool equalizerEnabled = false;
    bool resetEnabled = false;
    bool openEnabled = false;
    bool saveEnabled = false;
    int spectrumKindIndex = 1; // 1 .. 6
    TEqCurve curve{};
    bool dragActive = false;              // the band points are drawn with a yellow brush while dragged
    bool overflowLit = false;             // "OVERFLOW" lit until the next 250 ms tick
    bool cdSource = false;                // "FILE PLAYER" dimmed, the CD player feeds the chain
    std::uint32_t wheelColour = 0x000080; // red ($0000FF) while on, maroon while off
};

// What the equalizer window needs of the CD player window, which fills it in.
class TCdPlayerSide {
public:
    virtual ~TCdPlayerSide() = default;
    // The CD window's Stop button.
    virtual void ClickStop() {}
    virtual TMMLevel* Level1() { return nullptr; }
    virtual TMMLevel* Level2() { return nullptr; }
    // Its volume wheel (0..32768).
    virtual int WheelValue() const { return 16384; }
};

// The window side: told when the state changed, asked about its own visibility.
class TEqualizerWindow {
public:
    virtual ~TEqualizerWindow() = default;
    virtual void ViewChanged() {}
    virtual void ShowWindow(bool show) { (void)show; }
    virtual bool WindowVisible() const { return false; }
    // The chart's drawing height in pixels (the window's design: 99).
    virtual int ChartHeight() const { return 99; }
};

class TEqualizerController : public TEqualizerSide {
public:
    // `player`'s chain holds the pre-volume and the equalizer stage; its connector gets Spectrum().
    TEqualizerController(TFilePlayer& player, TEqualizerWindow& window, std::string programFolder);
    ~TEqualizerController() override;
    TEqualizerController(const TEqualizerController&) = delete;
    TEqualizerController& operator=(const TEqualizerController&) = delete;

    const TEqualizerView& View() const { return view_; }
    TMMSpectrum& Spectrum() { return spectrum_; }
    TMMMixerWheel& MixerWheel() { return wheel_; }
    double PixelScale() const { return pixelScale_; }

    // ---- handlers ----
    void Button1Click();      // "Reset Equalizer"
    void RzBmpButton2Click(); // "Open Equalizer Settings..."
    void RzBmpButton3Click(); // "Save Equalizer Settings..."
    void RzBmpButton7Click(); // "Spectrum"
    void RzBmpButton8Click(); // "Equalizer"
    void VrSwitch1Change(bool on);
    // A press on band point `band` (0 .. 9) at chart y `y`; a press on the curve line is nothing.
    void Chart1ClickSeries(int band, double y);
    void Chart1MouseMove(double y);
    void Chart1MouseUp();
    void EQPcmOverflow();
    void MMHiTimer1Timer();
    // Shown: the menu's marks follow, and the line-in route is checked for a full-duplex device
    // (a message box when there is none).
    void FormShow();
    void FormHide();
    // Closed: the wave input goes.
    void FormClose();
    // The hidden "CD" source switch: the line-in route feeds the chain (the CD window presses it).
    void RzBmpButton5Click();
    // The same switch for a disc read digitally: the converter feeds the chain, no line input.
    void SelectDigitalCd();
    void SetCdPlayerSide(TCdPlayerSide* side) { cd_ = side != nullptr ? side : &defaultCd_; }
    TMMWaveIn& WaveIn() { return waveIn_; }
    TMMRingBuffer& RingBuffer() { return ring_; }
    void EscapePressed();
    // Where the window goes when shown above the main window: left edge with it, overlapping it by
    // one pixel when there is room above.
    static void PlaceAbove(int mainLeft, int mainTop, int height, int& left, int& top);

    // ---- the player's side of it ----
    void SwitchPowerOn() override;
    void SelectFilePlayer() override;
    bool Visible() const override { return window_.WindowVisible(); }
    void Show(bool show) override { window_.ShowWindow(show); }

private:
    void Changed() { window_.ViewChanged(); }
    // The band values of the curve to the equalizer stage.
    void SendGains();
    void SwitchToCd(bool lineIn);
    std::string PresetFilter() const;

    TFilePlayer& player_;
    TEqualizerWindow& window_;
    std::string programFolder_;
    TEqualizerView view_;
    TMMSpectrum spectrum_;
    TMMHiTimer overflowTimer_;
    TMMMixerDevice mixer_;
    TMMAudioLine line_;
    TMMVolumeControl volume_;
    TMMMixerWheel wheel_;
    TMMWaveIn waveIn_;
    TMMRingBuffer ring_;
    TCdPlayerSide defaultCd_;
    TCdPlayerSide* cd_ = &defaultCd_;

    TEqCurve saved_{};
    double dragStartY_ = 0;
    int dragBand_ = 0;
    double dragOffset_ = 0;
    double pixelScale_ = 240.0 / 99.0;
    double bumpWidth_ = 6.0;
};

} // namespace tunefold
