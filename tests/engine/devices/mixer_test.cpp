// The mixer components on the virtual mixer: finding the speakers' volume, the balance, the wheel's
// steps and rounding, changes made by another program, and what fails and how.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/devices/mixer.h"
#include "engine/devices/mixer_wheel.h"
#include "platform/message_loop.h"
#include "platform/virtual/virtual_mixer.h"

namespace tunefold {
namespace {

using platform::VirtualMixer;

class MixerTest : public ::testing::Test {
protected:
    void SetUp() override { Virtual().ResetAll(); }
    void TearDown() override {
        wheel.reset();
        volume.reset();
        line.reset();
        mixer.reset();
        Virtual().ResetAll();
    }
    static VirtualMixer& Virtual() { return VirtualMixer::Instance(); }

    // The equalizer window's set-up: mixer 0 active, its speakers, their volume, a wheel on both
    // channels, as loaded from the window.
    void Build() {
        mixer = std::make_unique<TMMMixerDevice>();
        line = std::make_unique<TMMAudioLine>();
        volume = std::make_unique<TMMVolumeControl>();
        wheel = std::make_unique<TMMMixerWheel>();
        for (TComponent* c :
             std::initializer_list<TComponent*>{mixer.get(), line.get(), volume.get(), wheel.get()}) {
            c->BeginLoading();
        }
        mixer->SetActive(true);
        line->SetMixer(mixer.get());
        line->SetComponentType(ctDstSpeakers);
        volume->SetAudioLine(line.get());
        wheel->SetControl(volume.get());
        for (TComponent* c :
             std::initializer_list<TComponent*>{mixer.get(), line.get(), volume.get(), wheel.get()}) {
            c->Loaded();
        }
    }
    // A device whose speaker volume has the given range and steps.
    static platform::VirtualMixerDevice WithVolume(std::int64_t min, std::int64_t max, DWORD steps,
                                                   std::int64_t value) {
        platform::VirtualMixerDevice device = VirtualMixer::StandardDevice();
        auto& control = device.lines[0].controls[0];
        control.info.minimum = min;
        control.info.maximum = max;
        control.info.steps = steps;
        control.values = {value, value};
        return device;
    }
    std::vector<std::int64_t> Volume() { return Virtual().Values(0, 1); }
    static void Pump() { platform::MessageLoop::Gui().ProcessMessages(); }

    std::unique_ptr<TMMMixerDevice> mixer;
    std::unique_ptr<TMMAudioLine> line;
    std::unique_ptr<TMMVolumeControl> volume;
    std::unique_ptr<TMMMixerWheel> wheel;
};

TEST_F(MixerTest, TheSpeakersVolumeIsFoundAndTheWheelCoversItDirectly) {
    Build();
    EXPECT_TRUE(mixer->IsOpen());
    EXPECT_EQ(mixer->Destinations(), 1);
    EXPECT_EQ(line->LineId(), 0);
    EXPECT_EQ(line->LineInfo().Channels, 2);
    EXPECT_EQ(line->LineInfo().Name, "Master Volume");
    EXPECT_EQ(volume->ControlId(), 1);
    EXPECT_EQ(volume->ControlClass(), ccFader);
    EXPECT_EQ(volume->ControlInfo().MaxValue, 65535);
    EXPECT_TRUE(wheel->WheelEnabled());
    EXPECT_DOUBLE_EQ(wheel->Step(), 1.0);
    EXPECT_EQ(wheel->Max(), 65535);
    EXPECT_EQ(wheel->Value(), 49151);

    wheel->UserChanged(30000);
    EXPECT_EQ(Volume(), (std::vector<std::int64_t>{30000, 30000}));
    // The mixer also tells its own writer: the wheel follows without writing again.
    Pump();
    EXPECT_EQ(wheel->Value(), 30000);
    EXPECT_EQ(Virtual().WriteCount(), 1);
}

TEST_F(MixerTest, AChangeByAnotherProgramMovesTheWheelAndARoundedValueIsNotWrittenBack) {
    Virtual().SetGranularity(256); // hardware with 256 steps
    Build();
    int shown = 0;
    wheel->OnDisplay = [&] { ++shown; };
    Virtual().ExternalChange(0, 1, {12000, 12000});
    Pump();
    EXPECT_EQ(wheel->Value(), 12000);
    EXPECT_GE(shown, 1);

    wheel->UserChanged(1000);
    Pump();
    Pump();
    EXPECT_EQ(Volume()[0], 1024);
    EXPECT_EQ(wheel->Value(), 1024);
    EXPECT_EQ(Virtual().WriteCount(), 1);
}

TEST_F(MixerTest, TheBalanceShapesBothChannelsAndStaysWithinTheRange) {
    Build();
    volume->SetPanValue(16384);
    volume->SetUnsignedValue(chBoth, -1, 40000);
    EXPECT_EQ(Volume(), (std::vector<std::int64_t>{19999, 40000}));
    volume->SetPanValue(-16384);
    volume->SetUnsignedValue(chBoth, -1, 40000);
    EXPECT_EQ(Volume(), (std::vector<std::int64_t>{40000, 20000}));
    // A single channel is written as given.
    volume->SetUnsignedValue(chRight, -1, 123);
    EXPECT_EQ(Volume(), (std::vector<std::int64_t>{40000, 123}));

    // A balance beyond the end would turn a factor negative and wrap to full volume.
    volume->SetPanValue(40000);
    EXPECT_EQ(volume->PanValue(), 32767);
    volume->SetUnsignedValue(chBoth, -1, 40000);
    EXPECT_EQ(Volume(), (std::vector<std::int64_t>{0, 40000}));
    volume->SetPanValue(-100000);
    EXPECT_EQ(volume->PanValue(), -32767);
    EXPECT_EQ(Volume()[0], 40000); // re-written from the louder channel through the new balance
    EXPECT_EQ(Volume()[1], 1);
    volume->SetPanValue(0);
    volume->SetUnsignedValue(chBoth, -1, 70000);
    EXPECT_EQ(Volume(), (std::vector<std::int64_t>{65535, 65535}));
}

TEST_F(MixerTest, WheelStepsAndRoundingFollowTheControlsRange) {
    // No steps given: 32 of them.
    Virtual().SetDevices({WithVolume(0, 65535, 0, 32768)});
    Build();
    EXPECT_DOUBLE_EQ(wheel->Step(), 2047.96875);
    EXPECT_EQ(wheel->Max(), 32);
    EXPECT_EQ(wheel->Value(), 16);
    wheel->UserChanged(16);
    EXPECT_EQ(Volume()[0], 32768); // 32767.5, half to even
    wheel->UserChanged(32);
    EXPECT_EQ(Volume()[0], 65535);
    TearDown();

    Virtual().SetDevices({WithVolume(0, 100, 50, 5)});
    Build();
    EXPECT_EQ(wheel->Max(), 50);
    EXPECT_EQ(wheel->Value(), 2); // 2.5, half to even
    Virtual().ExternalChange(0, 1, {7, 7});
    Pump();
    EXPECT_EQ(wheel->Value(), 4); // 3.5, half to even
    TearDown();

    // A control without a range: the wheel shows 0..1 at 0.
    Virtual().SetDevices({WithVolume(0, 0, 0, 0)});
    Build();
    EXPECT_EQ(wheel->Max(), 1);
    EXPECT_EQ(wheel->Value(), 0);
}

TEST_F(MixerTest, NoDeviceNoLineOrNoControlLeavesTheWheelDisabled) {
    Virtual().SetDevices({});
    mixer = std::make_unique<TMMMixerDevice>();
    try {
        mixer->SetActive(true);
        FAIL() << "opened a mixer that does not exist";
    } catch (const EMMMixerDeviceError& e) {
        EXPECT_STREQ(e.what(), "Device not valid");
    }
    EXPECT_FALSE(mixer->Active());
    mixer.reset();

    // A device without speakers: the line and the control are not found, which is no error.
    platform::VirtualMixerDevice noSpeakers = VirtualMixer::StandardDevice();
    noSpeakers.lines[0].info.componentType = platform::mixer_line::DstHeadphones;
    Virtual().SetDevices({noSpeakers});
    Build();
    EXPECT_EQ(line->LineId(), -1);
    EXPECT_TRUE(line->LineInfo().Name.empty());
    EXPECT_EQ(volume->ControlId(), -1);
    EXPECT_FALSE(wheel->WheelEnabled());
    wheel->UserChanged(100);
    EXPECT_EQ(Virtual().WriteCount(), 0);
    try {
        volume->UnsignedValue(chBoth, -1);
        FAIL();
    } catch (const EMMDeviceError& e) {
        EXPECT_STREQ(e.what(), "Control not valid");
    }
}

TEST_F(MixerTest, ADeviceChangeBindsTheLinesAgain) {
    platform::VirtualMixerDevice second = WithVolume(0, 65535, 65535, 1000);
    second.name = "Second";
    Virtual().SetDevices({VirtualMixer::StandardDevice(), second});
    Build();
    EXPECT_EQ(wheel->Value(), 49151);
    Virtual().Renumber(mixer->Handle(), 1);
    Virtual().ExternalLineChange(0, 0); // any notice carries the renumbering with it
    Virtual().ExternalChange(1, 1, {1000, 1000});
    Pump();
    EXPECT_EQ(wheel->Value(), 1000);
}

TEST_F(MixerTest, EveryMisuseHasItsMessage) {
    Build();
    auto text = [](const std::function<void()>& f) -> std::string {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(nothing)";
    };
    EXPECT_EQ(text([&] { mixer->SetDevice(mixer.get()); }), "Mixer can't reference mixer");
    EXPECT_EQ(text([&] { line->SetDestLine(volume.get()); }), "DestLine should be TMMAudioLine");
    EXPECT_EQ(text([&] { volume->UnsignedValue(chBoth, 3); }), "Item index out of range");
    EXPECT_EQ(text([&] { mixer->SetDeviceId(5); }), "Device id is out of range");
    EXPECT_EQ(text([&] { mixer->SetDeviceId(-3); }), "Device id is out of range");

    TMMMixerControl mute;
    mute.SetAudioLine(line.get());
    mute.SetControlType(ctMute);
    EXPECT_EQ(mute.ControlId(), 2);
    EXPECT_EQ(mute.ControlClass(), ccSwitch);
    TMMMixerWheel other;
    EXPECT_EQ(text([&] { other.SetControl(&mute); }), "Invalid control class");
    // The volume control takes nothing but the volume.
    TMMVolumeControl notMute;
    notMute.SetAudioLine(line.get());
    notMute.SetControlType(ctMute);
    EXPECT_EQ(notMute.ControlId(), 1);

    TMMVolumeControl alone;
    EXPECT_EQ(text([&] { alone.UnsignedValue(chBoth, -1); }), "Mixer required for this operation");

    platform::VirtualMixerFaults faults;
    faults.setValues = MMSYSERR_NOMEM;
    Virtual().SetFaults(faults);
    try {
        volume->SetUnsignedValue(chBoth, -1, 1);
        FAIL();
    } catch (const EMMMCIError& e) {
        EXPECT_EQ(e.Code(), MMSYSERR_NOMEM);
        EXPECT_EQ(std::string(e.what()), "Out of memory for the sound device.");
    }
}

} // namespace
} // namespace tunefold
