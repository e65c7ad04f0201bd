// The equalizer window's controller: the start-up curve, dragging band points into the equalizer
// stage, presets, the views, the power switch and the overflow lamp.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "app/logic/equalizer_controller.h"
#include "platform/message_loop.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_mixer.h"
#include "platform/virtual/virtual_registry.h"
#include "platform/virtual/virtual_sound_card.h"
#include "platform/virtual/virtual_wave_in.h"
#include "support/files.h"
#include "support/pull.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;

class EqualizerControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::VirtualSoundCard::Instance().ResetAll();
        platform::VirtualMixer::Instance().ResetAll();
        platform::InstallRegistryStore(std::make_shared<platform::VirtualRegistryStore>());
        folder = test::FreshFolder("eqwin");
    }
    void TearDown() override {
        eq.reset();
        player.reset();
        platform::InstallRegistryStore(nullptr);
    }
    // `callBackMode` is the output's, which the line-in copies: cmWindow runs every buffer's work
    // on this thread when the test lets messages run.
    void Create(TMMCBMode callBackMode = cmThread) {
        player = std::make_unique<TFilePlayer>(playerWindow);
        player->WaveOut().SetCallBackMode(callBackMode);
        eq = std::make_unique<TEqualizerController>(*player, eqWindow, folder.string());
        player->SetEqualizerSide(eq.get());
    }
    float Gain(int band) { return player->Chain().Equalizer().Filters().Items(band)->Gain(); }
    std::string Curve(double value) {
        std::string text;
        for (int i = 0; i < 120; ++i) {
            text += FormatEqValue(value) + "\r\n";
        }
        return text;
    }

    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scoped{dialogs};
    TFilePlayerWindow playerWindow;
    TEqualizerWindow eqWindow;
    std::unique_ptr<TFilePlayer> player;
    std::unique_ptr<TEqualizerController> eq;
    fs::path folder;
};

TEST_F(EqualizerControllerTest, TheStartUpCurveIsLoadedAppliedAndWrittenBackAtTheEnd) {
    test::WriteBytes(folder / "normal.eq0", Curve(55.0)); // +10 dB everywhere
    Create();
    EXPECT_EQ(eq->View().curve[0], 55.0L);
    for (int band = 0; band < 10; ++band) {
        EXPECT_FLOAT_EQ(Gain(band), 10.0f) << band;
    }
    EXPECT_NEAR(eq->PixelScale(), 240.0 / 99.0, 1e-12);
    // Off at creation: the spectrum shows and nothing can be pressed.
    EXPECT_FALSE(eq->View().powerOn);
    EXPECT_FALSE(eq->View().chartVisible);
    EXPECT_FALSE(eq->View().spectrumEnabled || eq->View().equalizerEnabled || eq->View().resetEnabled);
    EXPECT_FALSE(eq->MixerWheel().WheelEnabled());

    eq->VrSwitch1Change(true);
    eq->RzBmpButton8Click();
    eq->Button1Click(); // points 1..100 flat, 101..120 keep +55
    eq.reset();
    TEqCurve written{};
    ASSERT_TRUE(ReadEqCurveFile(folder / "normal.eq0", written));
    EXPECT_EQ(written[99], 0.0L);
    EXPECT_EQ(written[100], 55.0L);
    EXPECT_EQ(written[119], 55.0L);
}

TEST_F(EqualizerControllerTest, ARejectedStartUpCurveLeavesItFlatAndNeverReachesTheFileAgain) {
    std::string text = Curve(3.0);
    text.replace(36 * 25, 23, "110.5                  ");
    test::WriteBytes(folder / "normal.eq0", text);
    Create();
    EXPECT_EQ(eq->View().curve[0], 0.0L);
    EXPECT_FLOAT_EQ(Gain(0), 0.0f);
    eq.reset();
    EXPECT_EQ(test::ReadWhole(folder / "normal.eq0"), Curve(0.0));
}

TEST_F(EqualizerControllerTest, DraggingABandIsHeardOnEveryMoveAndSaturates) {
    Create();
    eq->VrSwitch1Change(true);
    eq->RzBmpButton8Click();
    // Band 1 grabbed at y 90 and pulled to y 3: (90 - 3) x 240/99 = 210.9 units, limited to 110.
    eq->Chart1ClickSeries(0, 90);
    EXPECT_TRUE(eq->View().dragActive);
    eq->Chart1MouseMove(60);
    const float halfway = Gain(0);
    EXPECT_NEAR(halfway, 30 * 240.0 / 99.0 / 5.5, 1e-4);
    eq->Chart1MouseMove(3);
    EXPECT_EQ(eq->View().curve[4], 110.0L);
    EXPECT_FLOAT_EQ(Gain(0), 20.0f);
    // Band 2, ten points away, follows by about a quarter of the drag.
    const double bump = (90 - 3) * 240.0 / 99.0;
    EXPECT_NEAR(Gain(1), bump * std::exp(-0.5 * (10.0 / 6.0) * (10.0 / 6.0)) / 5.5, 1e-3);
    EXPECT_NEAR(Gain(9), 0.0f, 1e-6);
    // Above the chart the bump stays as it was.
    eq->Chart1MouseMove(1);
    EXPECT_FLOAT_EQ(Gain(1), static_cast<float>(bump * std::exp(-0.5 * (10.0 / 6.0) * (10.0 / 6.0)) / 5.5));
    // Back to the start: the curve is exactly what it was.
    eq->Chart1MouseMove(90);
    EXPECT_EQ(eq->View().curve, TEqCurve{});
    eq->Chart1MouseUp();
    EXPECT_FALSE(eq->View().dragActive);
    eq->Chart1MouseMove(10); // no drag: nothing moves
    EXPECT_EQ(eq->View().curve, TEqCurve{});
}

TEST_F(EqualizerControllerTest, PresetsOpenAndSaveThroughTheDialogsAndFailSafely) {
    Create();
    test::WriteBytes(folder / "loud.eq", Curve(-110.0));
    test::WriteBytes(folder / "bad.eq", "words\r\n");
    platform::FileDialogResult open;
    open.accepted = true;
    open.files = {(folder / "loud.eq").string()};
    dialogs.QueueOpen(open);
    eq->RzBmpButton2Click();
    EXPECT_FLOAT_EQ(Gain(3), -20.0f);
    ASSERT_EQ(dialogs.Asked().size(), 1u);
    const auto asked = std::get<platform::FileDialogRequest>(dialogs.Asked()[0].request);
    EXPECT_EQ(asked.filter, "Equalizer  Files (*.eq)|*.eq|All Files (*.*)|*.*");
    EXPECT_EQ(asked.defaultExt, "eq");
    EXPECT_EQ(asked.initialDir, folder.string());

    open.files = {(folder / "bad.eq").string()};
    dialogs.QueueOpen(open);
    eq->RzBmpButton2Click();
    EXPECT_FLOAT_EQ(Gain(3), -20.0f); // rejected: nothing changes, no message
    EXPECT_TRUE(dialogs.MessageBoxes().empty());

    // A save that cannot be written says so, and the preset there stays whole.
    test::WriteBytes(folder / "keep.eq", Curve(5.0));
    platform::FileDialogResult save;
    save.accepted = true;
    save.files = {(folder / "no-such-folder" / "x.eq").string()};
    dialogs.QueueSave(save);
    eq->RzBmpButton3Click();
    ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
    EXPECT_NE(dialogs.MessageBoxes()[0].text.find("could not be written"), std::string::npos);
    save.files = {(folder / "keep.eq").string()};
    dialogs.QueueSave(save);
    eq->RzBmpButton3Click();
    EXPECT_EQ(test::ReadWhole(folder / "keep.eq"), Curve(-110.0));
}

TEST_F(EqualizerControllerTest, TheSpectrumButtonStepsThroughTheSixKindsInItsOwnOrder) {
    Create();
    eq->VrSwitch1Change(true);
    const TMMSpectrumKind order[] = {skBars, skDots, skLines, skPeaks, skVLines, skScroll};
    for (TMMSpectrumKind kind : order) {
        eq->RzBmpButton7Click();
        EXPECT_EQ(eq->Spectrum().Kind(), kind);
    }
    EXPECT_EQ(eq->View().spectrumKindIndex, 1);
    // From the curve editor the first click only switches the view.
    eq->RzBmpButton8Click();
    EXPECT_TRUE(eq->View().chartVisible && eq->View().resetEnabled && !eq->View().equalizerEnabled);
    eq->RzBmpButton7Click();
    EXPECT_FALSE(eq->View().chartVisible);
    EXPECT_EQ(eq->Spectrum().Kind(), skScroll);
}

TEST_F(EqualizerControllerTest, PowerOffStopsTheFilePlayerKeepsTheGainsAndShowsTheSpectrum) {
    test::WriteBytes(folder / "normal.eq0", Curve(11.0));
    Create();
    const std::string wav = (folder / "a.wav").string();
    fs::copy_file(test::Fixture("pcm16_stereo_44100.wav"), wav);
    player->VrSwitch1Change(true);
    player->OPN(wav);
    player->btnPlayClick(); // the player switches the equalizer's power on
    EXPECT_TRUE(eq->View().powerOn);
    EXPECT_TRUE(eq->MixerWheel().WheelEnabled());
    EXPECT_EQ(eq->View().wheelColour, 0x0000FFu);
    ASSERT_TRUE(player->WaveOut().State().Contains(wosPlaying));
    eq->RzBmpButton8Click();
    eq->VrSwitch1Change(false);
    EXPECT_FALSE(player->WaveOut().State().Contains(wosPlaying));
    EXPECT_FALSE(eq->View().chartVisible);
    EXPECT_FALSE(eq->View().spectrumEnabled || eq->View().equalizerEnabled || eq->View().openEnabled);
    EXPECT_FALSE(eq->MixerWheel().WheelEnabled());
    EXPECT_EQ(eq->View().wheelColour, 0x000080u);
    EXPECT_FLOAT_EQ(Gain(5), 2.0f);
}

TEST_F(EqualizerControllerTest, TheOverflowLampLightsUntilTheNextTick) {
    Create();
    eq->EQPcmOverflow();
    EXPECT_TRUE(eq->View().overflowLit);
    eq->MMHiTimer1Timer();
    EXPECT_FALSE(eq->View().overflowLit);

    int left = 0, top = 50;
    TEqualizerController::PlaceAbove(10, 400, 182, left, top);
    EXPECT_EQ(left, 10);
    EXPECT_EQ(top, 219);
    TEqualizerController::PlaceAbove(10, 100, 182, left, top); // no room above: the top stays
    EXPECT_EQ(top, 219);
}

TEST_F(EqualizerControllerTest, TheCdSourceFeedsTheChainFromTheLineInAndThePlayerTakesItBack) {
    Create();
    auto& card = platform::VirtualSoundCard::Instance();
    // Switching while nothing plays only re-links the chain and starts both devices.
    eq->RzBmpButton5Click();
    EXPECT_EQ(player->ActiveSource(), 2);
    EXPECT_EQ(player->Chain().Volume().Input(), &eq->RingBuffer());
    EXPECT_NE(eq->WaveIn().State() & wisStarted, 0);
    EXPECT_TRUE(player->WaveOut().State().Contains(wosPlaying));
    EXPECT_TRUE(eq->View().cdSource);
    card.Advance(4410);
    platform::MessageLoop::Gui().ProcessMessages();

    // The file player's Play takes the chain back: "PL", the device stopped and closed, the file
    // played from the converter.
    const std::string wav = (folder / "a.wav").string();
    fs::copy_file(test::Fixture("pcm16_stereo_44100.wav"), wav);
    player->VrSwitch1Change(true);
    player->OPN(wav);
    EXPECT_EQ(player->ActiveSource(), 1);
    EXPECT_EQ(player->Chain().Volume().Input(), &player->Chain().Converter());
    EXPECT_FALSE(player->WaveOut().State().Contains(wosOpened)); // left closed, not open and idle
    EXPECT_FALSE(eq->View().cdSource);
    player->btnPlayClick();
    EXPECT_TRUE(player->WaveOut().State().Contains(wosPlaying));
    // The line-in route went with its source.
    EXPECT_EQ(eq->WaveIn().State() & wisOpened, 0);
    EXPECT_EQ(card.Capture().OpenCount(), 0);
    player->btnStopClick();
    platform::MessageLoop::Gui().ProcessMessages();
    eq->FormClose();
    EXPECT_EQ(card.Capture().OpenCount(), 0);
}

// The level of the last `frames` stereo 16-bit frames the card played (RMS of the left channel).
double PlayedLevel(std::size_t frames) {
    const std::vector<std::uint8_t> played = platform::VirtualSoundCard::Instance().Played();
    const std::size_t total = played.size() / 4;
    const std::size_t first = total > frames ? total - frames : 0;
    double sum = 0;
    for (std::size_t i = first; i < total; ++i) {
        const auto s = static_cast<std::int16_t>(played[i * 4] | played[i * 4 + 1] << 8);
        sum += static_cast<double>(s) * s;
    }
    return total > first ? std::sqrt(sum / static_cast<double>(total - first)) : 0.0;
}

TEST_F(EqualizerControllerTest, EverySwitchToTheCdSourceIsHeardThroughTheEqualizer) {
    // Every band at -20 dB, and a 1 kHz tone at the line input.
    test::WriteBytes(folder / "normal.eq0", Curve(-110.0));
    platform::VirtualSoundCard::Instance().Capture().SetSignal(
        -1, [](std::uint64_t first, std::uint8_t* out, std::size_t bytes) {
            for (std::size_t i = 0; i < bytes; ++i) {
                const std::uint64_t byte = first + i;
                const std::uint64_t frame = byte / 4;
                const auto s = static_cast<std::int16_t>(
                    std::lround(10000.0 * std::sin(2 * M_PI * 1000.0 * frame / 44100.0)));
                out[i] = static_cast<std::uint8_t>(byte % 2 == 0 ? s & 0xFF : (s >> 8) & 0xFF);
            }
        });
    Create(cmWindow);
    auto& card = platform::VirtualSoundCard::Instance();
    const double tone = 10000.0 / std::sqrt(2.0);
    auto heard = [&] {
        // The output queues its buffers first (132 of 16384 bytes: 12 s), then the line-in follows.
        card.ClearRecording();
        for (int i = 0; i < 320; ++i) {
            card.Advance(2205);
            platform::MessageLoop::Gui().ProcessMessages();
        }
        return PlayedLevel(22050);
    };
    eq->RzBmpButton5Click();
    const double first = heard();
    EXPECT_NEAR(first / tone, 0.1, 0.03) << "the line-in is not heard through the equalizer";

    // The file player takes the chain, is stopped, and the CD source comes back: still equalized.
    const std::string wav = (folder / "a.wav").string();
    fs::copy_file(test::Fixture("pcm16_stereo_44100.wav"), wav);
    player->VrSwitch1Change(true);
    player->OPN(wav);
    player->btnPlayClick();
    card.Advance(4410);
    platform::MessageLoop::Gui().ProcessMessages();
    player->btnStopClick();
    platform::MessageLoop::Gui().ProcessMessages();
    eq->RzBmpButton5Click();
    EXPECT_NEAR(heard() / tone, 0.1, 0.03) << "the second switch to the line-in skipped the equalizer";
}

TEST_F(EqualizerControllerTest, WithoutAFullDuplexDeviceShowingTheWindowSaysSo) {
    Create();
    eq->FormShow();
    EXPECT_TRUE(dialogs.MessageBoxes().empty());
    platform::VirtualWaveInFaults faults;
    faults.open.code = MMSYSERR_ALLOCATED;
    platform::VirtualSoundCard::Instance().Capture().SetFaults(faults);
    eq->FormShow();
    platform::VirtualSoundCard::Instance().Capture().SetFaults({});
    ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
    EXPECT_EQ(dialogs.MessageBoxes()[0].text, "You need a \"Full-Duplex\" device to run this demo\n\r"
                                              "Some older devices do not support Full-Duplex in stereo.");
    EXPECT_EQ(dialogs.MessageBoxes()[0].buttons, platform::MsgButtons::Ok);
}

} // namespace
} // namespace tunefold
