// The preferences dialog without a window: the audio page on the devices, the colour page on the
// slots and the scheme files, and what OK, Apply, Cancel and Delete leave behind in the store.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "app/logic/preferences.h"
#include "app/logic/settings.h"
#include "engine/devices/ring_buffer.h"
#include "engine/devices/wave_in.h"
#include "engine/framework/pcm.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_registry.h"
#include "platform/virtual/virtual_sound_card.h"
#include "support/files.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;
using platform::InputBoxResult;
using platform::MsgIcon;

// Every slot a colour of its own: slot n is n * 0x010203.
TColourSlots Distinct(std::uint32_t base = 0) {
    TColourSlots s{};
    for (int i = 0; i < ColourSlotCount; ++i) {
        s[static_cast<std::size_t>(i)] = base + static_cast<std::uint32_t>(i + 1) * 0x010203u;
    }
    return s;
}

class Target : public TPreferencesTarget {
public:
    TMMWaveOut& WaveOut() override { return *waveOut; }
    TMMWaveIn* WaveIn() override { return &waveIn; }
    TMMRingBuffer* RingBuffer() override { return &ring; }
    TColourSlots& Colours() override { return slots; }
    void SetColors() override {
        ++setColors;
        painted = slots;
    }
    void SetEqColors() override { ++setEqColors; }
    void ShowError(const std::string& text) override { errors.push_back(text); }

    std::unique_ptr<TMMWaveOut> waveOut;
    TMMWaveIn waveIn;
    TMMRingBuffer ring;
    TColourSlots slots = Distinct();
    TColourSlots painted{};
    int setColors = 0;
    int setEqColors = 0;
    std::vector<std::string> errors;
};

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::VirtualSoundCard::Instance().ResetAll();
        platform::InstallRegistryStore(store);
        folder = test::FreshFolder("prefs").string();
        SetDirectCallbacksAllowed(false);
    }
    void TearDown() override {
        prefs.reset();
        if (target.waveOut) {
            target.waveOut->Close();
        }
        target.waveOut.reset();
        platform::InstallRegistryStore(nullptr);
        platform::VirtualSoundCard::Instance().ResetAll();
        SetDirectCallbacksAllowed(false);
    }
    // The output as the player sets it up: 2048-byte buffers, 132 of them, CD format, thread mode.
    void Devices(int count, bool withFormat = true) {
        std::vector<platform::VirtualWaveDeviceConfig> devices(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            devices[static_cast<std::size_t>(i)].name = "Card " + std::to_string(i);
        }
        platform::VirtualSoundCard::Instance().SetDevices(devices);
        target.waveOut = std::make_unique<TMMWaveOut>();
        TMMWaveOut& out = *target.waveOut;
        out.SetBufferSize(2048);
        out.SetNumBuffers(132);
        out.SetCallBackMode(cmThread);
        if (withFormat) {
            WAVEFORMATEX f{};
            MakePCMFormat(f, 16, 2, 44100);
            out.SetPWaveFormat(&f);
        }
    }
    TPreferences& Open() {
        prefs = std::make_unique<TPreferences>(target, folder);
        prefs->FormShow();
        return *prefs;
    }
    std::int64_t Stored(std::string_view name) {
        return std::get<std::int32_t>(
            ReadSettingValue(platform::HKEY_CURRENT_USER, SettingsKeyPath, name, std::int32_t{-999}));
    }
    std::string Path(const std::string& name) { return folder + "/" + name + ".sc"; }
    std::vector<std::string> Boxes() {
        std::vector<std::string> texts;
        for (const auto& box : dialogs.MessageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }

    std::shared_ptr<platform::VirtualRegistryStore> store =
        std::make_shared<platform::VirtualRegistryStore>();
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scoped{dialogs};
    Target target;
    std::unique_ptr<TPreferences> prefs;
    std::string folder;
};

TEST(BufferSizeLabel, SizeAndRoundedPlayingTime) {
    WAVEFORMATEX cd{};
    MakePCMFormat(cd, 16, 2, 44100);
    EXPECT_EQ(BufferSizeLabel(2048 * 132, &cd), "264 Kb - 1.53 seconds");
    EXPECT_EQ(BufferSizeLabel(2048 * 200, &cd), "400 Kb - 2.32 seconds");
    EXPECT_EQ(BufferSizeLabel(2048, &cd), "2 Kb - 0.01 seconds");
    EXPECT_EQ(BufferSizeLabel(2048 * 132, nullptr), "264 Kb");
    EXPECT_EQ(BufferSizeLabel(2048 * 132, &cd, ','), "264 Kb - 1,53 seconds");
    // 1000 bytes at 2000 per second is 500 ms exactly; 1 byte at 2000 per second is half a
    // millisecond, which rounds up.
    WAVEFORMATEX slow = cd;
    slow.nAvgBytesPerSec = 2000;
    EXPECT_EQ(BufferSizeLabel(1000, &slow), "0 Kb - 0.50 seconds");
    EXPECT_EQ(BufferSizeLabel(15, &slow), "0 Kb - 0.01 seconds") << "7.5 ms is 8 ms";
    // A format that claims no byte rate gives no time rather than a division by zero.
    slow.nAvgBytesPerSec = 0;
    EXPECT_EQ(BufferSizeLabel(2048 * 132, &slow), "264 Kb");
}

TEST_F(PreferencesTest, AudioPageShowsTheDevicesOnceAndTheOutputsValues) {
    Devices(2);
    TPreferences& p = Open();
    const TPreferencesView& v = p.View();
    EXPECT_EQ(v.page, TPreferencesPage::Colors);
    EXPECT_EQ(v.helpContext, 2);
    ASSERT_EQ(v.devices.size(), 3u);
    EXPECT_EQ(v.devices[0], WaveOutDeviceName(-1));
    EXPECT_EQ(v.devices[1], "Card 0");
    EXPECT_EQ(v.devices[2], "Card 1");
    EXPECT_EQ(v.deviceIndex, 1) << "device 0 is entry 1";
    EXPECT_EQ(v.callBackMode, cmThread);
    EXPECT_FALSE(v.interruptEnabled);
    EXPECT_EQ(v.buffers, 132);
    EXPECT_EQ(v.bufferLabel, "264 Kb - 1.53 seconds");

    p.PageControl1Change(TPreferencesPage::Audio);
    EXPECT_EQ(v.helpContext, 1);
    p.PageControl1Change(TPreferencesPage::Colors);
    EXPECT_EQ(v.helpContext, 2);

    // Filling again (as Delete does) lists each device once.
    p.Shw();
    p.Shw();
    EXPECT_EQ(v.devices.size(), 3u);

    // Interrupt is refused while direct callbacks are not allowed.
    p.RadioClick(cmCallback);
    EXPECT_EQ(v.callBackMode, cmThread);
    SetDirectCallbacksAllowed(true);
    p.Shw();
    EXPECT_TRUE(v.interruptEnabled);
    p.RadioClick(cmCallback);
    EXPECT_EQ(v.callBackMode, cmCallback);
}

TEST_F(PreferencesTest, BufferCountLimitsAndWhatOkStoresOfThem) {
    Devices(1);
    target.waveOut->SetNumBuffers(300);
    TPreferences& p = Open();
    EXPECT_EQ(p.View().buffers, 200) << "the slider ends at 200";
    p.btnOkClick();
    EXPECT_TRUE(p.View().closed);
    EXPECT_EQ(target.waveOut->NumBuffers(), 200);
    EXPECT_EQ(Stored("Buffers"), 200);

    target.waveOut->SetNumBuffers(132);
    TPreferences& q = Open();
    q.BufferSizeChange(true, 1);
    EXPECT_EQ(q.View().buffers, 1);
    EXPECT_EQ(q.View().bufferLabel, "2 Kb - 0.01 seconds");
    q.BufferSizeChange(false, 500);
    EXPECT_EQ(q.View().buffers, 200);
    q.BufferSizeChange(false, 1);
    q.btnOkClick();
    EXPECT_EQ(target.waveOut->NumBuffers(), 132) << "the output ignores a single buffer";
    EXPECT_EQ(Stored("Buffers"), 132);
}

TEST_F(PreferencesTest, CancelReturnsToTheValuesTheDialogFoundOrLastApplied) {
    Devices(2);
    target.waveOut->SetCallBackMode(cmWindow);
    TPreferences& p = Open();
    const TColourSlots before = target.slots;
    p.PlayComboChange(0); // the default device, which records too
    p.RadioClick(cmThread);
    p.BufferSizeChange(true, 40);
    dialogs.QueueColor({true, 0x123456});
    p.RzButtonClick(7);
    EXPECT_EQ(target.slots[6], 0x123456u) << "an edit goes to its slot";
    EXPECT_EQ(target.setColors, 0) << "but the windows wait for Apply";

    ASSERT_TRUE(p.btnApplyClick());
    TMMWaveOut& out = *target.waveOut;
    EXPECT_EQ(out.DeviceID(), -1);
    EXPECT_EQ(out.CallBackMode(), cmThread) << "Apply changes the mode at once";
    EXPECT_EQ(out.NumBuffers(), 40);
    EXPECT_EQ(target.waveIn.DeviceID(), -1);
    EXPECT_EQ(target.waveIn.NumBuffers(), 40);
    EXPECT_EQ(target.waveIn.CallBackMode(), cmThread);
    EXPECT_EQ(target.ring.NumBuffers(), 40);
    EXPECT_EQ(target.painted[6], 0x123456u);
    EXPECT_EQ(target.setEqColors, 1);
    EXPECT_EQ(Stored("Buffers"), 40) << "Apply stores";
    EXPECT_EQ(Stored("Col7"), 0x123456);

    // After Apply, Cancel takes back only what came later.
    p.BufferSizeChange(true, 60);
    dialogs.QueueColor({true, 0x654321});
    p.RzButtonClick(8);
    p.btnCancelClick();
    EXPECT_TRUE(p.View().closed);
    EXPECT_FALSE(p.View().accepted);
    EXPECT_EQ(out.DeviceID(), -1);
    EXPECT_EQ(out.CallBackMode(), cmThread);
    EXPECT_EQ(out.NumBuffers(), 40);
    EXPECT_EQ(target.slots[6], 0x123456u);
    EXPECT_EQ(target.slots[7], before[7]);
    EXPECT_EQ(Stored("Buffers"), 40);
    EXPECT_EQ(Stored("Col8"), static_cast<std::int64_t>(before[7]));
}

TEST_F(PreferencesTest, CancelWithoutApplyReturnsToTheValuesTheDialogFoundAndStoresNothing) {
    Devices(2);
    target.waveOut->SetCallBackMode(cmWindow);
    TPreferences& p = Open();
    const TColourSlots before = target.slots;
    p.PlayComboChange(0);
    p.BufferSizeChange(true, 40);
    dialogs.QueueColor({true, 0x123456});
    p.RzButtonClick(7);
    p.btnCancelClick();
    TMMWaveOut& out = *target.waveOut;
    EXPECT_EQ(out.DeviceID(), 0);
    EXPECT_EQ(out.CallBackMode(), cmWindow);
    EXPECT_EQ(out.NumBuffers(), 132);
    EXPECT_EQ(target.slots, before);
    EXPECT_EQ(Stored("Buffers"), -999);
    EXPECT_EQ(Stored("Col7"), -999);
}

TEST_F(PreferencesTest, OkStoresOnlyTheDialogsValuesAndCloseCountsAsCancel) {
    Devices(1);
    // A value the dialog has no part in, stored before it opened, stays as it was.
    WriteSettingValue(platform::HKEY_CURRENT_USER, SettingsKeyPath, "File_Volume", std::int32_t{777});
    TPreferences& p = Open();
    dialogs.QueueColor({true, 0x00ABCDEF});
    p.RzButtonClick(30);
    p.btnOkClick();
    EXPECT_TRUE(p.View().accepted);
    EXPECT_EQ(target.painted[29], 0x00ABCDEFu) << "OK shows what it stores";
    EXPECT_EQ(Stored("Col30"), 0x00ABCDEF);
    EXPECT_EQ(Stored("Col1"), static_cast<std::int64_t>(target.slots[0]));
    EXPECT_EQ(Stored("DeviceID"), 0);
    EXPECT_EQ(Stored("CBMode"), cmThread);
    EXPECT_EQ(Stored("File_Volume"), 777);
    EXPECT_EQ(std::get<std::string>(
                  ReadSettingValue(platform::HKEY_CURRENT_USER, SettingsKeyPath, "Scheme", std::string())),
              "Y");

    // The close box: the edit is undone, nothing more is stored.
    TPreferences& q = Open();
    dialogs.QueueColor({true, 0x000001});
    q.RzButtonClick(30);
    q.FormClose();
    EXPECT_FALSE(q.View().accepted);
    EXPECT_EQ(target.slots[29], 0x00ABCDEFu);
    EXPECT_EQ(Stored("Col30"), 0x00ABCDEF);
}

TEST_F(PreferencesTest, RefusedChangeKeepsTheDialogOpenAndStoresNothing) {
    Devices(2);
    TMMWaveOut& out = *target.waveOut;
    TPreferences& p = Open();
    out.Open(); // playing: the device refuses a new device, mode or buffer count
    EXPECT_TRUE(p.btnApplyClick()) << "unchanged values are no change";
    EXPECT_EQ(Stored("DeviceID"), 0) << "and are stored as they are";
    EXPECT_EQ(Stored("Buffers"), 132);
    p.BufferSizeChange(true, 50);
    p.PlayComboChange(2);
    p.btnOkClick();
    ASSERT_EQ(target.errors.size(), 1u);
    EXPECT_EQ(target.errors[0], "Change to property while device was open");
    EXPECT_FALSE(p.View().closed);
    EXPECT_EQ(Stored("DeviceID"), 0) << "a refused change stores nothing";
    EXPECT_EQ(Stored("Buffers"), 132);
    out.Close();
    p.btnOkClick();
    EXPECT_TRUE(p.View().closed);
    EXPECT_EQ(out.DeviceID(), 1);
    EXPECT_EQ(out.NumBuffers(), 50);
    EXPECT_EQ(Stored("DeviceID"), 1);
}

TEST_F(PreferencesTest, NoDeviceListsNothingAndKeepsTheStoredDevice) {
    WriteSettingValue(platform::HKEY_CURRENT_USER, SettingsKeyPath, "DeviceID", std::int32_t{3});
    Devices(0, false);
    TPreferences& p = Open();
    EXPECT_TRUE(p.View().devices.empty());
    EXPECT_EQ(p.View().deviceIndex, -1);
    EXPECT_EQ(p.View().bufferLabel, "264 Kb") << "no format, no time";
    p.BufferSizeChange(true, 20);
    p.btnOkClick();
    EXPECT_TRUE(p.View().closed);
    EXPECT_EQ(Stored("DeviceID"), 3) << "-2 names no device and is never stored";
    EXPECT_EQ(Stored("Buffers"), 20);
}

TEST_F(PreferencesTest, SchemesListChooseAndLoad) {
    Devices(1);
    test::WriteBytes(Path("Blue"), "1\r\n2\r\n");
    test::WriteBytes(Path("Amber"), "$FF\r\n12 junk\r\n");
    test::WriteBytes(folder + "/.hidden.sc", "1\r\n");
    test::WriteBytes(folder + "/notes.txt", "1\r\n");
    fs::create_directory(folder + "/Folder.sc");
    TPreferences& p = Open();
    const TPreferencesView& v = p.View();
    EXPECT_EQ(v.schemes, (std::vector<std::string>{"Standard", "Amber", "Blue"}));
    EXPECT_EQ(v.schemeText, " ");
    EXPECT_FALSE(v.deleteEnabled);
    EXPECT_EQ(v.buttons, target.slots);

    p.ComboBox1Change("Amber");
    EXPECT_TRUE(v.deleteEnabled);
    EXPECT_EQ(target.slots[0], 255u) << "$FF is 255";
    EXPECT_EQ(target.slots[1], 12u) << "the rest of a line is skipped";
    EXPECT_EQ(target.slots[29], 0u) << "values past the end of the file are 0";
    EXPECT_EQ(v.buttons, target.slots);
    EXPECT_EQ(target.painted, target.slots) << "choosing repaints";
    EXPECT_EQ(target.setEqColors, 1);
    EXPECT_EQ(Stored("Col1"), -999) << "and stores nothing";

    p.ComboBox1Change("Standard");
    EXPECT_FALSE(v.deleteEnabled);
    EXPECT_EQ(target.slots, StandardColours());
    // A file named Standard is loaded instead of the built-in table, and listed only once.
    test::WriteBytes(Path("Standard"), "5\r\n");
    p.Shw();
    EXPECT_EQ(v.schemes, (std::vector<std::string>{"Standard", "Amber", "Blue"}));
    p.ComboBox1Change("Standard");
    EXPECT_EQ(target.slots[0], 5u);

    // A word on line 12 gives the Standard set.
    std::string text;
    for (int i = 1; i <= 30; ++i) {
        text += (i == 12 ? std::string("word") : std::to_string(i)) + "\r\n";
    }
    test::WriteBytes(Path("Broken"), text);
    fs::remove(Path("Standard"));
    p.ComboBox1Change("Broken");
    EXPECT_EQ(target.slots, StandardColours());

    p.btnCancelClick();
    EXPECT_EQ(target.slots, Distinct()) << "Cancel undoes a chosen scheme";
}

TEST_F(PreferencesTest, SaveAsAsksAgainOnStandardAndRejectsUnsafeNames) {
    Devices(1);
    TPreferences& p = Open();
    // "Standard" is asked again, with the same proposal, until another name comes; lower case is
    // another name.
    dialogs.QueueInput({true, "Standard"});
    dialogs.QueueInput({true, "Standard"});
    dialogs.QueueInput({true, "standard"});
    p.Button1Click();
    const auto asked = dialogs.Asked();
    int inputs = 0;
    for (const auto& a : asked) {
        if (a.kind == platform::AskedDialog::Kind::Input) {
            const auto& r = std::get<platform::InputBoxRequest>(a.request);
            EXPECT_EQ(r.caption, "Save Color Scheme as...");
            EXPECT_EQ(r.prompt, "");
            EXPECT_EQ(r.value, " ");
            ++inputs;
        }
    }
    EXPECT_EQ(inputs, 3);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Standard Scheme can not be edited.",
                                                 "Standard Scheme can not be edited."}));
    EXPECT_EQ(dialogs.MessageBoxes()[0].caption, "Error");
    EXPECT_EQ(dialogs.MessageBoxes()[0].icon, MsgIcon::Error);
    ASSERT_TRUE(fs::is_regular_file(Path("standard")));
    EXPECT_EQ(test::ReadWhole(Path("standard")), FormatSchemeText(target.slots));
    EXPECT_EQ(p.View().schemes.back(), "standard");

    // Saving again under a listed name replaces the file, and lists it once.
    target.slots[0] = 42;
    dialogs.QueueInput({true, "standard"});
    p.Button1Click();
    EXPECT_EQ(std::count(p.View().schemes.begin(), p.View().schemes.end(), "standard"), 1);
    TColourSlots back{};
    LoadColors(folder, "standard", back);
    EXPECT_EQ(back[0], 42u);

    // Names that would leave the folder, hide the file or are no names.
    dialogs.ClearRecord();
    const std::string tooLong(252, 'n');
    for (const std::string& bad :
         {std::string("../evil"), std::string("a/b"), std::string(".hidden"), std::string(".."),
          std::string("tab\there"), std::string("nul\0x", 5), tooLong, std::string(""), std::string(" ")}) {
        dialogs.QueueInput({true, bad});
        p.Button1Click();
    }
    EXPECT_EQ(Boxes(), std::vector<std::string>(9, "Invalid Scheme Name."));
    EXPECT_FALSE(fs::exists(folder + "/../evil.sc"));
    EXPECT_FALSE(fs::exists(Path(".hidden")));
    EXPECT_EQ(p.View().schemes.size(), 2u);
    // The longest name that is taken is written whole.
    dialogs.QueueInput({true, std::string(251, 'n')});
    p.Button1Click();
    EXPECT_TRUE(fs::is_regular_file(Path(std::string(251, 'n'))));

    // Cancel saves nothing, whatever was proposed.
    dialogs.ClearRecord();
    p.ComboBox1Change("standard");
    dialogs.QueueInput({false, "ignored"});
    target.slots[0] = 99;
    p.Button1Click();
    LoadColors(folder, "standard", back);
    EXPECT_EQ(back[0], 42u) << "Cancel does not overwrite the proposed scheme";
    p.ComboBox1Change("Standard");
    dialogs.QueueInput({false, ""});
    p.Button1Click();
    EXPECT_TRUE(Boxes().empty()) << "Cancel with an empty proposal is no error either";
    EXPECT_EQ(dialogs.Unanswered(), 0u);
}

TEST_F(PreferencesTest, SaveThatFailsLeavesTheOldFileAndTheList) {
    Devices(1);
    test::WriteBytes(Path("Kept"), FormatSchemeText(StandardColours()));
    fs::create_directory(Path("Dir"));
    TPreferences& p = Open();
    const auto listed = p.View().schemes;
    dialogs.QueueInput({true, "Dir"});
    p.Button1Click();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("could not be written"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(Path("Dir")));
    EXPECT_EQ(p.View().schemes, listed);
    if (::geteuid() == 0) {
        return; // root writes into a read-only folder
    }
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    dialogs.QueueInput({true, "Kept"});
    p.Button1Click();
    dialogs.QueueInput({true, "New"});
    p.Button1Click();
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(Boxes().size(), 3u);
    EXPECT_EQ(test::ReadWhole(Path("Kept")), FormatSchemeText(StandardColours()));
    EXPECT_FALSE(fs::exists(Path("New")));
    EXPECT_EQ(p.View().schemes, listed);
}

TEST_F(PreferencesTest, DeleteRemovesTheFileAndReturnsToTheColoursFound) {
    Devices(2);
    test::WriteBytes(Path("Gone"), "1\r\n");
    TPreferences& p = Open();
    p.ComboBox1Change("Gone");
    ASSERT_EQ(target.slots[0], 1u);
    p.Button2Click();
    const TPreferencesView& v = p.View();
    EXPECT_FALSE(fs::exists(Path("Gone")));
    EXPECT_EQ(v.schemes, std::vector<std::string>{"Standard"});
    EXPECT_EQ(v.schemeText, " ");
    EXPECT_FALSE(v.deleteEnabled);
    EXPECT_EQ(target.slots, Distinct());
    EXPECT_EQ(v.buttons, Distinct());
    EXPECT_EQ(target.painted, Distinct());
    EXPECT_EQ(v.devices.size(), 3u) << "the refill lists each device once";
    EXPECT_EQ(Stored("Col1"), -999) << "Delete stores nothing";

    // A file that cannot be deleted (gone meanwhile) changes nothing.
    test::WriteBytes(Path("Twice"), "2\r\n");
    p.Shw();
    p.ComboBox1Change("Twice");
    fs::remove(Path("Twice"));
    p.Button2Click();
    EXPECT_EQ(v.schemeText, "Twice");
    EXPECT_EQ(target.slots[0], 2u);
}

} // namespace
} // namespace tunefold
