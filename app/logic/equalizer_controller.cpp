#include "app/logic/equalizer_controller.h"

#include <utility>

#include "engine/displays/player_displays.h"
#include "platform/dialogs.h"
#include "platform/paths.h"

namespace tunefold {

namespace {

constexpr std::uint32_t kRed = 0x0000FF;
constexpr std::uint32_t kMaroon = 0x000080;
constexpr const char* kStartupCurve = "normal.eq0";

} // namespace

TEqualizerController::TEqualizerController(TFilePlayer& player, TEqualizerWindow& window,
                                           std::string programFolder)
    : player_(player), window_(window), programFolder_(std::move(programFolder)) {
    UsePlayerSpectrumSettings(spectrum_, skScroll);
    spectrum_.SetMode(mStereo);
    spectrum_.SetBitLength(b16Bit);
    spectrum_.SetSampleRate(44100);
    player_.Connector().SetSpectrum1(&spectrum_);

    overflowTimer_.BeginLoading();
    overflowTimer_.SetInterval(250);
    overflowTimer_.SetCallBackMode(cmWindow);
    overflowTimer_.SetPriority(tpHigher);
    overflowTimer_.SetOnTimer([this](TObject*) { MMHiTimer1Timer(); });
    overflowTimer_.SetEnabled(true);
    overflowTimer_.Loaded();

    player_.Chain().Equalizer().OnPcmOverflow = [this](TObject*) { EQPcmOverflow(); };

    // The output volume: the speakers of mixer 0. A system without a mixer leaves the wheel off and
    // the window goes on.
    for (TComponent* c : std::initializer_list<TComponent*>{&mixer_, &line_, &volume_, &wheel_}) {
        c->BeginLoading();
    }
    mixer_.SetActive(true);
    line_.SetMixer(&mixer_);
    line_.SetComponentType(ctDstSpeakers);
    volume_.SetAudioLine(&line_);
    wheel_.SetControl(&volume_);
    wheel_.SetEnabled(false);
    try {
        mixer_.Loaded();
    } catch (const EMMError&) {
        // no mixer device: the wheel stays disabled
    }
    line_.Loaded();
    volume_.Loaded();
    wheel_.Loaded();

    // The line-in route, with the output's buffers.
    TMMWaveOut& out = player_.WaveOut();
    waveIn_.SetOutput(&ring_);
    waveIn_.SetMode(mStereo);
    waveIn_.SetBitLength(b16Bit);
    waveIn_.SetSampleRate(44100);
    waveIn_.SetTimeFormat(tfMillisecond);
    waveIn_.SetDeviceID(out.DeviceID());
    waveIn_.SetNumBuffers(out.NumBuffers());
    waveIn_.SetBufferSize(out.BufferSize());
    waveIn_.SetCallBackMode(out.CallBackMode());
    ring_.SetQueueMode(qmDuplex);
    ring_.SetNumBuffers(out.NumBuffers());
    ring_.SetBufferSize(out.BufferSize());

    view_.spectrumKindIndex = 1;
    player_.Chain().Volume().SetVolume(player_.PreVolume());
    Button1Click();
    TEqCurve curve = view_.curve;
    if (ReadEqCurveFile(platform::JoinPath(programFolder_, kStartupCurve), curve)) {
        view_.curve = curve;
        SendGains();
    }
}

TEqualizerController::~TEqualizerController() {
    waveIn_.Close();
    player_.Chain().Equalizer().OnPcmOverflow = nullptr;
    player_.Connector().SetSpectrum1(nullptr);
    overflowTimer_.SetEnabled(false);
    // The curve the user leaves is the one the next start begins with; a failure is no reason to
    // stop the program's end.
    WriteEqCurveFile(platform::JoinPath(programFolder_, kStartupCurve), view_.curve);
}

void TEqualizerController::SendGains() {
    player_.Chain().SetBandGains(BandGains(view_.curve));
}

// ---------------------------------------------------------------- curve editor

void TEqualizerController::Button1Click() {
    ResetEqCurve(view_.curve);
    SendGains();
    pixelScale_ = 240.0 / window_.ChartHeight();
    bumpWidth_ = 6.0;
    Changed();
}

void TEqualizerController::Chart1ClickSeries(int band, double y) {
    if (band < 0 || band > 9) {
        return;
    }
    view_.dragActive = true;
    dragStartY_ = y;
    dragBand_ = band;
    saved_ = view_.curve;
    Changed();
}

void TEqualizerController::Chart1MouseMove(double y) {
    if (!view_.dragActive) {
        return;
    }
    dragOffset_ = DragOffsetAt(dragStartY_, y, window_.ChartHeight(), pixelScale_, dragOffset_);
    view_.curve = DragEqCurve(saved_, dragOffset_, dragBand_, bumpWidth_);
    // Every move is heard: all ten gains go to the stage.
    SendGains();
    Changed();
}

void TEqualizerController::Chart1MouseUp() {
    view_.dragActive = false;
    Changed();
}

std::string TEqualizerController::PresetFilter() const {
    return "Equalizer  Files (*.eq)|*.eq|All Files (*.*)|*.*";
}

void TEqualizerController::RzBmpButton2Click() {
    platform::FileDialogRequest request;
    request.filter = PresetFilter();
    request.defaultExt = "eq";
    request.initialDir = programFolder_;
    request.fileMustExist = true;
    const platform::FileDialogResult chosen = platform::Dialogs().OpenFile(request);
    if (chosen.accepted && !chosen.FileName().empty()) {
        TEqCurve curve = view_.curve;
        if (!ReadEqCurveFile(chosen.FileName(), curve)) {
            return; // a file that cannot be read or is rejected changes nothing
        }
        view_.curve = curve;
    }
    // Confirmed or cancelled, the chart and the gains show the curve in force.
    SendGains();
    Changed();
}

void TEqualizerController::RzBmpButton3Click() {
    platform::FileDialogRequest request;
    request.filter = PresetFilter();
    request.defaultExt = "eq";
    request.initialDir = programFolder_;
    request.overwritePrompt = true;
    const platform::FileDialogResult chosen = platform::Dialogs().SaveFile(request);
    if (!chosen.accepted || chosen.FileName().empty()) {
        return;
    }
    // The file is replaced whole: a failure leaves the old preset as it was, and says so.
    if (WriteEqCurveFile(chosen.FileName(), view_.curve) != TEqWriteResult::Ok) {
        platform::MessageBoxRequest box;
        box.caption = "Audio Play";
        box.text = "I/O error: " + chosen.FileName() + " could not be written; the file is unchanged.";
        box.icon = platform::MsgIcon::Error;
        platform::Dialogs().MessageBox(box);
    }
}

// ---------------------------------------------------------------- views and power

void TEqualizerController::RzBmpButton7Click() {
    if (view_.equalizerEnabled) {
        view_.spectrumKindIndex = view_.spectrumKindIndex % 6 + 1;
    }
    view_.chartVisible = false;
    view_.equalizerEnabled = true;
    view_.resetEnabled = false;
    view_.openEnabled = false;
    view_.saveEnabled = false;
    TMMSpectrumKind kind = skScroll;
    SpectrumKindForIndex(view_.spectrumKindIndex, kind);
    spectrum_.SetKind(kind);
    Changed();
}

void TEqualizerController::RzBmpButton8Click() {
    view_.chartVisible = true;
    view_.equalizerEnabled = false;
    view_.resetEnabled = true;
    view_.openEnabled = true;
    view_.saveEnabled = true;
    Changed();
}

void TEqualizerController::VrSwitch1Change(bool on) {
    if (on == view_.powerOn) {
        return;
    }
    if (on) {
        view_.powerOn = true;
        view_.spectrumKindIndex = 1;
        spectrum_.SetKind(skScroll);
        wheel_.SetEnabled(true);
        view_.spectrumEnabled = true;
        view_.equalizerEnabled = true;
        view_.wheelColour = kRed;
        Changed();
        return;
    }
    // Off stops the file player (only when its Stop is available); the gains stay in force.
    if (player_.View().Button(TPlayerButton::Stop)) {
        player_.btnStopClick();
    }
    view_.powerOn = false;
    RzBmpButton7Click();
    view_.spectrumKindIndex = 1;
    spectrum_.SetKind(skScroll);
    wheel_.SetEnabled(false);
    view_.spectrumEnabled = false;
    view_.equalizerEnabled = false;
    view_.resetEnabled = false;
    view_.openEnabled = false;
    view_.saveEnabled = false;
    view_.wheelColour = kMaroon;
    Changed();
}

void TEqualizerController::SwitchPowerOn() {
    VrSwitch1Change(true);
}

void TEqualizerController::EQPcmOverflow() {
    view_.overflowLit = true;
    Changed();
}

void TEqualizerController::MMHiTimer1Timer() {
    if (view_.overflowLit) {
        view_.overflowLit = false;
        Changed();
    }
}

// ---------------------------------------------------------------- sources

void TEqualizerController::RzBmpButton5Click() {
    SwitchToCd(true);
}

void TEqualizerController::SelectDigitalCd() {
    SwitchToCd(false);
}

void TEqualizerController::SwitchToCd(bool lineIn) {
    TMMWaveOut& out = player_.WaveOut();
    TMMVolume& volume = player_.Chain().Volume();
    if (player_.ActiveSource() == 1 && out.State().Contains(wosPlaying)) {
        out.Stop();
        player_.btnStopClick();
        // The device is opened again by its start below.
        out.Close();
    }
    // A line-in route left open from an earlier use would make the output open only itself,
    // leaving the volume and equalizer stages closed: the route is opened whole every time.
    if ((waveIn_.State() & wisOpened) != 0) {
        waveIn_.Close();
    }
    player_.SetActiveSource(2);
    // Read digitally, the disc comes through the converter as a file does; the CD window starts
    // the output once its source has the disc.
    volume.SetInput(lineIn ? static_cast<TMMDSPComponent*>(&ring_) : &player_.Chain().Converter());
    if (cd_->Level1() != nullptr) {
        player_.Connector().SetLevel1(cd_->Level1());
    }
    if (cd_->Level2() != nullptr) {
        player_.Connector().SetLevel2(cd_->Level2());
    }
    volume.SetVolume(cd_->WheelValue());
    if (lineIn) {
        waveIn_.Start();
        out.Start();
    }
    view_.cdSource = true;
    Changed();
}

void TEqualizerController::SelectFilePlayer() {
    TMMWaveOut& out = player_.WaveOut();
    TMMVolume& volume = player_.Chain().Volume();
    if (player_.ActiveSource() == 2) {
        out.Stop();
        cd_->ClickStop();
        out.Stop();
        out.Close();
        // The line-in goes with its source: left open it would hold the input device and refuse
        // every later change of the buffer settings.
        waveIn_.Close();
    }
    volume.SetInput(&player_.Chain().Converter());
    player_.Connector().SetLevel1(&player_.Level1());
    player_.Connector().SetLevel2(&player_.Level2());
    volume.SetVolume(player_.PreVolume());
    player_.SetActiveSource(1);
    view_.cdSource = false;
    Changed();
}

// ---------------------------------------------------------------- the window

void TEqualizerController::PlaceAbove(int mainLeft, int mainTop, int height, int& left, int& top) {
    left = mainLeft;
    const int t = mainTop - height + 1;
    if (t > 0) {
        top = t;
    }
}

void TEqualizerController::FormShow() {
    player_.EqualizerShown(true);
    const WAVEFORMATEX* format = waveIn_.PWaveFormat();
    if (DuplexCapable(waveIn_.DeviceID(), format)) {
        return;
    }
    platform::MessageBoxRequest box;
    box.caption = "Audio Play";
    box.text = "You need a \"Full-Duplex\" device to run this demo";
    if (waveIn_.Mode() == mStereo) {
        box.text += "\n\rSome older devices do not support Full-Duplex in stereo.";
    }
    box.icon = platform::MsgIcon::Error;
    box.buttons = platform::MsgButtons::Ok;
    platform::Dialogs().MessageBox(box);
}

void TEqualizerController::FormClose() {
    waveIn_.Close();
}

void TEqualizerController::FormHide() {
    player_.EqualizerShown(false);
}

void TEqualizerController::EscapePressed() {
    player_.EscapePressed();
}

} // namespace tunefold
