#include "app/logic/preferences.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

#include "app/logic/settings.h"
#include "engine/devices/ring_buffer.h"
#include "engine/devices/wave_in.h"
#include "platform/dialogs.h"

namespace tunefold {

namespace {

constexpr const char* kStandard = "Standard";
constexpr const char* kNoScheme = " ";

void ErrorBox(const std::string& text) {
    platform::MessageBoxRequest box;
    box.caption = "Error";
    box.text = text;
    box.icon = platform::MsgIcon::Error;
    platform::Dialogs().MessageBox(box);
}

// The device numbers the combo's entries stand for: entry 0 is the default device (-1).
int EntryOfDevice(TMMDeviceId id, std::size_t entries) {
    const int entry = id + 1;
    return entry >= 0 && static_cast<std::size_t>(entry) < entries ? entry : -1;
}

} // namespace

const std::array<TColourPageRow, 10> kColourPageRows = {{
    {"LEDs, Matrix", {21, 13, 14}},
    {"Stop Label", {22, 11, 12}},
    {"Pause Label", {23, 9, 10}},
    {"Play Label", {24, 7, 8}},
    {"Scale1", {25, 1, 2}},
    {"Scale2", {26, 3, 4}},
    {"Scale3", {27, 5, 6}},
    {"Border", {30, 19, 20}},
    {"Glass Gradient", {16, 28, 18}},
    {"Glass", {15, 29, 17}},
}};
const std::array<const char*, 3> kColourPageColumns = {"Unactive-OFF", "Unactive-ON", "Active"};

bool ColourButtonHidden(int slot) {
    return slot == 28 || slot == 29;
}

void TPreferencesTarget::ShowError(const std::string& text) {
    platform::Dialogs().MessageBox(text, "Audio Play", platform::MB_OK | platform::MB_ICONSTOP);
}

std::string BufferSizeLabel(std::int64_t totalBytes, const WAVEFORMATEX* format, char decimalSeparator) {
    std::string text = std::to_string(totalBytes / 1024) + " Kb";
    // Without a byte rate there is no playing time to tell (and nothing to divide by).
    if (format == nullptr || format->nAvgBytesPerSec == 0 || totalBytes < 0) {
        return text;
    }
    const auto divisor = static_cast<std::int64_t>(format->nAvgBytesPerSec);
    const std::int64_t scaled = totalBytes * 1000;
    const std::int64_t ms = scaled / divisor + 2 * (scaled % divisor) / divisor; // halves upward
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%.2f", static_cast<double>(ms) / 1000.0);
    std::string number = seconds;
    std::replace(number.begin(), number.end(), '.', decimalSeparator);
    return text + " - " + number + " seconds";
}

TPreferences::TPreferences(TPreferencesTarget& target, std::string programFolder)
    : target_(target), programFolder_(std::move(programFolder)) {}

// ---------------------------------------------------------------- the dialog

void TPreferences::TakeSnapshot() {
    TMMWaveOut& out = target_.WaveOut();
    snapshot_.deviceId = out.DeviceID();
    snapshot_.numBuffers = out.NumBuffers();
    snapshot_.callBackMode = out.CallBackMode();
    if (TMMWaveIn* in = target_.WaveIn()) {
        snapshot_.haveWaveIn = true;
        snapshot_.inDeviceId = in->DeviceID();
        snapshot_.inNumBuffers = in->NumBuffers();
        snapshot_.inCallBackMode = in->CallBackMode();
    }
    if (TMMRingBuffer* ring = target_.RingBuffer()) {
        snapshot_.haveRing = true;
        snapshot_.ringBuffers = ring->NumBuffers();
    }
    snapshot_.colours = target_.Colours();
}

void TPreferences::FormShow() {
    if (!shown_) {
        // The values Cancel returns to: the dialog's own, as they are when it opens.
        TakeSnapshot();
        shown_ = true;
    }
    view_.helpContext = view_.page == TPreferencesPage::Audio ? 1 : 2;
    Shw();
}

void TPreferences::Shw() {
    FillAudioPage();
    FillColourPage();
}

void TPreferences::PageControl1Change(TPreferencesPage page) {
    view_.page = page;
    view_.helpContext = page == TPreferencesPage::Audio ? 1 : 2;
}

void TPreferences::btnOkClick() {
    if (view_.closed) {
        return;
    }
    if (!btnApplyClick()) {
        return; // what was refused is on the screen; nothing is stored and the dialog stays
    }
    Close(true);
}

bool TPreferences::btnApplyClick() {
    // The buttons show the slots already (an edit goes to its slot at once); the windows are
    // repainted now.
    target_.Colours() = view_.buttons;
    RepaintColours();
    if (!ApplyAudio()) {
        return false;
    }
    if (!Store()) {
        target_.ShowError("The settings could not be written; the stored ones are unchanged.");
        return false;
    }
    // What is applied is stored: Cancel from here on returns to it.
    TakeSnapshot();
    return true;
}

void TPreferences::btnCancelClick() {
    if (view_.closed) {
        return;
    }
    target_.Colours() = snapshot_.colours;
    RepaintColours();
    RestoreAudio();
    Close(false);
}

void TPreferences::FormClose() {
    if (!view_.closed) {
        btnCancelClick();
    }
}

void TPreferences::Close(bool accepted) {
    view_.closed = true;
    view_.accepted = accepted;
}

// ---------------------------------------------------------------- the audio page

void TPreferences::FillAudioPage() {
    TMMWaveOut& out = target_.WaveOut();
    view_.buffers = std::clamp(out.NumBuffers(), kMinBuffers, kMaxBuffers);
    UpdateLabel();
    // Rebuilt from nothing on every fill, so each device is listed once.
    view_.devices.clear();
    view_.deviceIndex = -1;
    const int count = out.NumDevs();
    if (count > 0) {
        view_.devices.push_back(WaveOutDeviceName(-1));
        for (int id = 0; id < count; ++id) {
            view_.devices.push_back(WaveOutDeviceName(id));
        }
        view_.deviceIndex = EntryOfDevice(out.DeviceID(), view_.devices.size());
    }
    view_.interruptEnabled = DirectCallbacksAllowed();
    view_.callBackMode = out.CallBackMode();
}

void TPreferences::PlayComboChange(int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < view_.devices.size()) {
        view_.deviceIndex = index;
    }
}

void TPreferences::RadioClick(TMMCBMode mode) {
    if (mode == cmCallback && !view_.interruptEnabled) {
        return;
    }
    view_.callBackMode = mode;
}

void TPreferences::BufferSizeChange(bool fromSlider, int value) {
    (void)fromSlider; // the slider and the spin button show one number here
    view_.buffers = std::clamp(value, kMinBuffers, kMaxBuffers);
    UpdateLabel();
}

std::int64_t TPreferences::TotalBufferBytes() const {
    return static_cast<std::int64_t>(target_.WaveOut().BufferSize()) * view_.buffers;
}

void TPreferences::UpdateLabel() {
    view_.bufferLabel =
        BufferSizeLabel(TotalBufferBytes(), target_.WaveOut().PWaveFormat(), decimalSeparator_);
}

bool TPreferences::ApplyAudio() {
    TMMWaveOut& out = target_.WaveOut();
    try {
        // With no device listed there is nothing to choose: the device stays as it is.
        if (view_.deviceIndex >= 0 && out.DeviceID() != view_.deviceIndex - 1) {
            out.SetDeviceID(view_.deviceIndex - 1);
        }
        if (out.NumBuffers() != view_.buffers) {
            out.SetNumBuffers(view_.buffers); // 1 is ignored, as the device ignores it
        }
        if (out.CallBackMode() != view_.callBackMode) {
            out.SetCallBackMode(view_.callBackMode);
        }
        // The recording path of the equalizer window uses the same device and buffers.
        if (TMMWaveIn* in = target_.WaveIn()) {
            if (in->DeviceID() != out.DeviceID()) {
                in->SetDeviceID(out.DeviceID());
            }
            if (in->NumBuffers() != out.NumBuffers()) {
                in->SetNumBuffers(out.NumBuffers());
            }
            if (in->CallBackMode() != out.CallBackMode()) {
                in->SetCallBackMode(out.CallBackMode());
            }
        }
        if (TMMRingBuffer* ring = target_.RingBuffer();
            ring != nullptr && ring->NumBuffers() != out.NumBuffers()) {
            ring->SetNumBuffers(out.NumBuffers());
        }
    } catch (const std::exception& error) {
        target_.ShowError(error.what());
        return false;
    }
    // A mode the system refused (with its own message) stays as it was: show what is in force.
    view_.callBackMode = out.CallBackMode();
    return true;
}

void TPreferences::RestoreAudio() {
    // Each value on its own: a device that was opened meanwhile refuses some, the others return.
    auto attempt = [](auto&& set) {
        try {
            set();
        } catch (const std::exception&) {
        }
    };
    TMMWaveOut& out = target_.WaveOut();
    const Snapshot& s = snapshot_;
    attempt([&] {
        if (out.DeviceID() != s.deviceId) {
            out.SetDeviceID(s.deviceId);
        }
    });
    attempt([&] {
        if (out.NumBuffers() != s.numBuffers) {
            out.SetNumBuffers(s.numBuffers);
        }
    });
    attempt([&] {
        if (out.CallBackMode() != s.callBackMode) {
            out.SetCallBackMode(s.callBackMode);
        }
    });
    if (TMMWaveIn* in = target_.WaveIn(); in != nullptr && s.haveWaveIn) {
        attempt([&] {
            if (in->DeviceID() != s.inDeviceId) {
                in->SetDeviceID(s.inDeviceId);
            }
        });
        attempt([&] {
            if (in->NumBuffers() != s.inNumBuffers) {
                in->SetNumBuffers(s.inNumBuffers);
            }
        });
        attempt([&] {
            if (in->CallBackMode() != s.inCallBackMode) {
                in->SetCallBackMode(s.inCallBackMode);
            }
        });
    }
    if (TMMRingBuffer* ring = target_.RingBuffer(); ring != nullptr && s.haveRing) {
        attempt([&] {
            if (ring->NumBuffers() != s.ringBuffers) {
                ring->SetNumBuffers(s.ringBuffers);
            }
        });
    }
}

bool TPreferences::Store() {
    namespace v = settings_value;
    TMMWaveOut& out = target_.WaveOut();
    std::vector<std::pair<std::string, SettingValue>> values = {
        {std::string(v::Buffers), std::int32_t{out.NumBuffers()}},
        {std::string(v::CBMode), static_cast<std::int32_t>(out.CallBackMode())},
    };
    // No device means no choice: the stored one stays for the day the device is back.
    if (out.DeviceID() >= -1) {
        values.emplace_back(std::string(v::DeviceID), std::int32_t{out.DeviceID()});
    }
    const TColourSlots& colours = target_.Colours();
    for (int i = 0; i < ColourSlotCount; ++i) {
        values.emplace_back(v::Col(i + 1), static_cast<std::int32_t>(colours[static_cast<std::size_t>(i)]));
    }
    // The mark that the store holds the program's values (and not a first run's nothing).
    values.emplace_back(std::string(v::Scheme), std::string("Y"));
    return WriteSettingValues(platform::HKEY_CURRENT_USER, SettingsKeyPath, values);
}

// ---------------------------------------------------------------- the colour page

void TPreferences::FillColourPage() {
    view_.schemes.assign(1, kStandard);
    for (std::string& name : ListSchemes(programFolder_)) {
        if (name != kStandard) { // "Standard" is listed once, first; choosing it loads its file
            view_.schemes.push_back(std::move(name));
        }
    }
    view_.schemeText = kNoScheme;
    view_.deleteEnabled = false;
    view_.buttons = target_.Colours();
}

void TPreferences::RepaintColours() {
    target_.SetColors();
    target_.SetEqColors();
}

void TPreferences::ComboBox1Change(const std::string& text) {
    view_.schemeText = text;
    view_.deleteEnabled = text != kStandard && text != kNoScheme;
    LoadColors(programFolder_, text, target_.Colours());
    view_.buttons = target_.Colours();
    RepaintColours();
}

void TPreferences::Button1Click() {
    const std::string proposal = view_.schemeText == kStandard ? std::string() : view_.schemeText;
    std::string name;
    for (;;) {
        platform::InputBoxRequest request;
        request.caption = "Save Color Scheme as...";
        request.value = proposal;
        const platform::InputBoxResult answer = platform::Dialogs().InputQuery(request);
        if (!answer.accepted) {
            return; // Cancel saves nothing
        }
        name = answer.value;
        if (name != kStandard) {
            break;
        }
        ErrorBox("Standard Scheme can not be edited.");
    }
    if (!SchemeNameAcceptable(name)) {
        ErrorBox("Invalid Scheme Name.");
        return;
    }
    if (!WriteScheme(programFolder_, name, target_.Colours())) {
        platform::MessageBoxRequest box;
        box.caption = "Audio Play";
        box.text = "I/O error: the scheme " + name + " could not be written; its file is unchanged.";
        box.icon = platform::MsgIcon::Error;
        platform::Dialogs().MessageBox(box);
        return;
    }
    if (std::find(view_.schemes.begin(), view_.schemes.end(), name) == view_.schemes.end()) {
        view_.schemes.push_back(name);
    }
}

void TPreferences::Button2Click() {
    const std::string name = view_.schemeText;
    if (name == kStandard || name == kNoScheme || !DeleteScheme(programFolder_, name)) {
        return;
    }
    view_.schemes.erase(std::remove(view_.schemes.begin(), view_.schemes.end(), name), view_.schemes.end());
    // The colours return to those the dialog found.
    target_.Colours() = snapshot_.colours;
    Shw();
    RepaintColours();
}

void TPreferences::RzButtonClick(int n) {
    if (n < 1 || n > ColourSlotCount) {
        return;
    }
    const auto slot = static_cast<std::size_t>(n - 1);
    platform::ColorDialogRequest request;
    request.color = target_.Colours()[slot];
    const platform::ColorDialogResult answer = platform::Dialogs().ChooseColor(request);
    if (!answer.accepted) {
        return;
    }
    target_.Colours()[slot] = answer.color & 0x00FFFFFFu;
    view_.buttons[slot] = target_.Colours()[slot];
}

} // namespace tunefold
