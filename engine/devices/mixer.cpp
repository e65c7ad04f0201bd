#include "engine/devices/mixer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <mutex>
#include <utility>

#include "platform/message_loop.h"

namespace tunefold {

namespace ml = platform::mixer_line;
namespace mc = platform::mixer_control;

namespace {

constexpr std::array<DWORD, 20> kComponentTypes = {
    ml::DstDigital,   ml::DstHeadphones,  ml::DstLine,      ml::DstMonitor,   ml::DstSpeakers,
    ml::DstTelephone, ml::DstUndefined,   ml::DstVoiceIn,   ml::DstWaveIn,    ml::SrcAnalog,
    ml::SrcAuxiliary, ml::SrcCompactDisc, ml::SrcDigital,   ml::SrcLine,      ml::SrcMicrophone,
    ml::SrcPCSpeaker, ml::SrcSynthesizer, ml::SrcTelephone, ml::SrcUndefined, ml::SrcWaveOut};

constexpr std::array<DWORD, 30> kControlTypes = {
    mc::Custom,      mc::Bass,           mc::Equalizer, mc::Fader,        mc::Treble,       mc::Volume,
    mc::Mixer,       mc::MultipleSelect, mc::Mux,       mc::SingleSelect, mc::BooleanMeter, mc::PeakMeter,
    mc::SignedMeter, mc::UnsignedMeter,  mc::Decibels,  mc::Percent,      mc::Signed,       mc::Unsigned,
    mc::Pan,         mc::QSoundPan,      mc::Slider,    mc::Boolean,      mc::Button,       mc::Loudness,
    mc::Mono,        mc::Mute,           mc::OnOff,     mc::StereoEnh,    mc::MicroTime,    mc::MilliTime};

struct Notice {
    enum Kind { Line, Control, Device } kind;
    int id;
};

std::mutex handlerMutex;
std::function<void(const std::exception&)> exceptionHandler;

void Report(const std::exception& e) {
    std::function<void(const std::exception&)> handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = exceptionHandler;
    }
    if (handler) {
        handler(e);
    } else {
        std::cerr << e.what() << '\n';
    }
}

} // namespace

DWORD PlatformComponentType(TMMComponentType type) {
    return kComponentTypes[static_cast<std::size_t>(type)];
}

bool ComponentTypeOf(DWORD platformType, TMMComponentType& type) {
    const auto it = std::find(kComponentTypes.begin(), kComponentTypes.end(), platformType);
    if (it == kComponentTypes.end()) {
        return false;
    }
    type = static_cast<TMMComponentType>(it - kComponentTypes.begin());
    return true;
}

DWORD PlatformControlType(TMMControlType type) {
    return kControlTypes[static_cast<std::size_t>(type)];
}

bool ControlTypeOf(DWORD platformType, TMMControlType& type) {
    const auto it = std::find(kControlTypes.begin(), kControlTypes.end(), platformType);
    if (it == kControlTypes.end()) {
        return false;
    }
    type = static_cast<TMMControlType>(it - kControlTypes.begin());
    return true;
}

TMMControlClass ControlClassOf(TMMControlType type) {
    switch (PlatformControlType(type) & mc::ClassMask) {
    case mc::ClassFader:
        return ccFader;
    case mc::ClassList:
        return ccList;
    case mc::ClassMeter:
        return ccMeter;
    case mc::ClassNumber:
        return ccNumber;
    case mc::ClassSlider:
        return ccSlider;
    case mc::ClassSwitch:
        return ccSwitch;
    case mc::ClassTime:
        return ccTime;
    default:
        return ccCustom;
    }
}

// ---------------------------------------------------------------- audio device

TMMCustomAudioDevice::TMMCustomAudioDevice(TComponent* owner) : TMMNonVisualComponent(owner) {}

TMMCustomAudioDevice::~TMMCustomAudioDevice() = default;

void TMMCustomAudioDevice::SetDeviceId(int value) {
    if (value == FDeviceId) {
        return;
    }
    if (value < -2 || (!IsLoading() && value >= 0 && value >= DeviceCount())) {
        throw EMMDeviceError("Device id is out of range");
    }
    const bool wasActive = FActive;
    if (wasActive) {
        SetActive(false);
    }
    FDeviceId = value;
    if (wasActive) {
        SetActive(true);
    }
    if (OnChange) {
        OnChange(this);
    }
}

void TMMCustomAudioDevice::SetActive(bool value) {
    if (IsLoading()) {
        FStreamedActive = value;
        return;
    }
    if (value == FActive) {
        return;
    }
    if (value) {
        OpenDevice();
        FActive = true;
    } else {
        CloseDevice();
        FActive = false;
    }
}

bool TMMCustomAudioDevice::Valid() {
    return DeviceCount() >= 1 && FDeviceId != -2;
}

void TMMCustomAudioDevice::Loaded() {
    TMMNonVisualComponent::Loaded();
    if (FStreamedActive) {
        SetActive(true);
    }
}

// ---------------------------------------------------------------- mixer device

TMMMixerDevice::TMMMixerDevice(TComponent* owner) : TMMCustomAudioDevice(owner) {}

TMMMixerDevice::~TMMMixerDevice() {
    Destroying();
    if (FActive) {
        CloseDevice();
        FActive = false;
    }
    for (TMMAudioLine* line : std::vector<TMMAudioLine*>(FLines)) {
        line->SetMixer(nullptr);
    }
}

void TMMMixerDevice::SetExceptionHandler(std::function<void(const std::exception&)> handler) {
    std::lock_guard lock(handlerMutex);
    exceptionHandler = std::move(handler);
}

int TMMMixerDevice::DeviceCount() {
    return static_cast<int>(platform::Mixer().GetNumDevs());
}

void TMMMixerDevice::SetDevice(TMMCustomAudioDevice* value) {
    if (dynamic_cast<TMMMixerDevice*>(value) != nullptr) {
        throw EMMMixerDeviceError("Mixer can't reference mixer");
    }
    if (value == FDevice) {
        return;
    }
    FDevice = value;
    if (value != nullptr) {
        FreeNotification(value);
    }
    if (FActive) {
        SetActive(false);
        SetActive(true);
    }
}

int TMMMixerDevice::Destinations() {
    if (!Valid()) {
        return 0;
    }
    platform::MixerCaps caps;
    const int id = DeviceId() == -1 ? 0 : DeviceId();
    return platform::Mixer().GetDevCaps(id, caps) == MMSYSERR_NOERROR ? static_cast<int>(caps.destinations)
                                                                      : 0;
}

void TMMMixerDevice::Check(MMRESULT result) const {
    if (result != MMSYSERR_NOERROR) {
        throw EMMMCIError(result, platform::Mixer().ErrorText(result));
    }
}

void TMMMixerDevice::OpenDevice() {
    if (!Valid()) {
        throw EMMMixerDeviceError("Device not valid");
    }
    FWindow = std::make_unique<platform::MessageWindow>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return WndProc(msg, wParam, lParam); });
    // A mixer that stands for another device uses that device's mixer: the system's one here.
    const int id = FDevice != nullptr ? std::max(FDevice->DeviceId(), 0) : DeviceId();
    platform::HMIXER handle = 0;
    const MMRESULT result = platform::Mixer().Open(&handle, id, FWindow.get());
    if (result != MMSYSERR_NOERROR) {
        FWindow.reset();
        Check(result);
    }
    FHandle = handle;
    platform::Mixer().GetID(FHandle, FOpenedId);
    for (TMMAudioLine* line : std::vector<TMMAudioLine*>(FLines)) {
        line->FindLine();
    }
}

void TMMMixerDevice::CloseDevice() {
    if (FHandle != 0) {
        platform::Mixer().Close(FHandle);
        FHandle = 0;
    }
    FWindow.reset();
    if (!IsDestroying()) {
        for (TMMAudioLine* line : std::vector<TMMAudioLine*>(FLines)) {
            line->FindLine();
        }
    }
}

void TMMMixerDevice::AddLine(TMMAudioLine* line) {
    if (std::find(FLines.begin(), FLines.end(), line) == FLines.end()) {
        FLines.push_back(line);
    }
}

void TMMMixerDevice::RemoveLine(TMMAudioLine* line) {
    FLines.erase(std::remove(FLines.begin(), FLines.end(), line), FLines.end());
}

void TMMMixerDevice::Notification(TComponent* component, TOperation operation) {
    TMMCustomAudioDevice::Notification(component, operation);
    if (operation == TOperation::opRemove && component == FDevice) {
        FDevice = nullptr;
    }
}

LRESULT TMMMixerDevice::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if ((msg != platform::MM_MIXM_LINE_CHANGE && msg != platform::MM_MIXM_CONTROL_CHANGE) ||
        wParam != FHandle) {
        return 0;
    }
    try {
        HandleNotification(msg, lParam);
    } catch (const std::exception& e) {
        Report(e);
    }
    return 0;
}

void TMMMixerDevice::HandleNotification(UINT msg, LPARAM id) {
    // Devices renumbered behind the handle: every line looks itself up again.
    UINT now = FOpenedId;
    if (platform::Mixer().GetID(FHandle, now) == MMSYSERR_NOERROR && now != FOpenedId) {
        FOpenedId = now;
        for (TMMAudioLine* line : std::vector<TMMAudioLine*>(FLines)) {
            line->FindLine();
        }
    }
    if (msg == platform::MM_MIXM_LINE_CHANGE) {
        for (TMMAudioLine* line : std::vector<TMMAudioLine*>(FLines)) {
            if (line->LineId() == static_cast<int>(id)) {
                line->LineChanged();
            }
        }
        if (OnLineChange) {
            OnLineChange(this, static_cast<int>(id));
        }
        return;
    }
    platform::MixerControlInfo control;
    Check(platform::Mixer().GetControlByID(FHandle, static_cast<DWORD>(id), control));
    const int lineId = static_cast<int>(control.lineId);
    for (TMMAudioLine* line : std::vector<TMMAudioLine*>(FLines)) {
        if (line->LineId() == lineId) {
            line->ControlChanged(static_cast<int>(id));
        }
    }
    if (OnControlChange) {
        OnControlChange(this, lineId, static_cast<int>(id));
    }
}

// ---------------------------------------------------------------- audio line

TMMAudioLine::TMMAudioLine(TComponent* owner) : TMMNonVisualComponent(owner) {}

TMMAudioLine::~TMMAudioLine() {
    Destroying();
    for (TMMCustomMixerControl* control : std::vector<TMMCustomMixerControl*>(FControls)) {
        control->SetAudioLine(nullptr);
    }
    if (FMixer != nullptr) {
        FMixer->RemoveLine(this);
    }
}

void TMMAudioLine::SetMixer(TMMMixerDevice* value) {
    if (value == FMixer) {
        return;
    }
    if (FMixer != nullptr) {
        FMixer->RemoveLine(this);
    }
    FMixer = value;
    if (FMixer != nullptr) {
        FMixer->AddLine(this);
        FreeNotification(FMixer);
    }
    FindLine();
}

void TMMAudioLine::SetLineId(int value) {
    FSelector = Selector::LineId;
    FWantedLineId = value;
    FindLine();
}

void TMMAudioLine::SetComponentType(TMMComponentType value) {
    FSelector = Selector::ComponentType;
    FComponentType = value;
    FindLine();
}

void TMMAudioLine::SetTarget(TMMCustomAudioDevice* value) {
    FSelector = Selector::Target;
    FTarget = value;
    if (value != nullptr) {
        FreeNotification(value);
    }
    FindLine();
}

void TMMAudioLine::SetDestLine(TComponent* value) {
    auto* line = dynamic_cast<TMMAudioLine*>(value);
    if (value != nullptr && (line == nullptr || line == this)) {
        throw EMMDeviceError("DestLine should be TMMAudioLine");
    }
    FDestLine = line;
    if (line != nullptr) {
        FreeNotification(line);
    }
    FindLine();
}

void TMMAudioLine::Loaded() {
    TMMNonVisualComponent::Loaded();
    FindLine();
}

void TMMAudioLine::FindLine() {
    if (IsLoading()) {
        return;
    }
    platform::MixerLineInfo info;
    bool found = false;
    if (FMixer != nullptr && FMixer->IsOpen()) {
        platform::MixerLineQuery query = platform::MixerLineQuery::ByLineId;
        switch (FSelector) {
        case Selector::LineId:
            info.lineId = static_cast<DWORD>(FWantedLineId);
            found = FWantedLineId != -1;
            break;
        case Selector::ComponentType:
            info.componentType = PlatformComponentType(FComponentType);
            query = platform::MixerLineQuery::ByComponentType;
            found = true;
            break;
        case Selector::Target:
            info.targetType = platform::mixer_line::TargetWaveOut;
            info.targetDeviceId = FTarget != nullptr ? FTarget->DeviceId() : -1;
            query = platform::MixerLineQuery::ByTargetType;
            found = FTarget != nullptr;
            break;
        }
        if (FDestLine != nullptr && FDestLine->Valid() && FSelector == Selector::ComponentType) {
            // A source of the destination line: the first of its sources of that kind.
            found = false;
            const DWORD wanted = info.componentType;
            for (int s = 0; s < FDestLine->LineInfo().Connections; ++s) {
                platform::MixerLineInfo source;
                source.destination = 0;
                source.source = static_cast<DWORD>(s);
                platform::MixerLineInfo dest;
                dest.lineId = static_cast<DWORD>(FDestLine->LineId());
                if (platform::Mixer().GetLineInfo(FMixer->Handle(), platform::MixerLineQuery::ByLineId,
                                                  dest) != MMSYSERR_NOERROR) {
                    break;
                }
                source.destination = dest.destination;
                if (platform::Mixer().GetLineInfo(FMixer->Handle(), platform::MixerLineQuery::BySource,
                                                  source) == MMSYSERR_NOERROR &&
                    source.componentType == wanted) {
                    info = source;
                    found = true;
                    break;
                }
            }
        } else if (found) {
            // A line that does not exist is no error: the lookup simply fails.
            found = platform::Mixer().GetLineInfo(FMixer->Handle(), query, info) == MMSYSERR_NOERROR;
        }
    }
    if (found) {
        FLineId = static_cast<int>(info.lineId);
        TMMComponentType type = FComponentType;
        if (ComponentTypeOf(info.componentType, type)) {
            FComponentType = type;
        }
        FLineInfo = TMMLineInfo{info.flags,
                                static_cast<int>(info.channels),
                                static_cast<int>(info.connections),
                                static_cast<int>(info.controls),
                                info.shortName.substr(0, 16),
                                info.name.substr(0, 64)};
    } else {
        // The chosen id is kept for when the mixer opens; the line has none until it is found.
        FLineId = -1;
        FLineInfo = TMMLineInfo{};
    }
    TellControls();
    if (OnChange) {
        OnChange(this);
    }
}

void TMMAudioLine::TellControls() {
    for (TMMCustomMixerControl* control : std::vector<TMMCustomMixerControl*>(FControls)) {
        control->FindControl();
    }
}

void TMMAudioLine::LineChanged() {
    TellControls();
    if (OnChange) {
        OnChange(this);
    }
}

void TMMAudioLine::ControlChanged(int controlId) {
    for (TMMCustomMixerControl* control : std::vector<TMMCustomMixerControl*>(FControls)) {
        if (control->ControlId() == controlId) {
            control->Changed();
        }
    }
    if (OnControlChange) {
        OnControlChange(this, controlId);
    }
}

void TMMAudioLine::AddControl(TMMCustomMixerControl* control) {
    if (std::find(FControls.begin(), FControls.end(), control) == FControls.end()) {
        FControls.push_back(control);
    }
}

void TMMAudioLine::RemoveControl(TMMCustomMixerControl* control) {
    FControls.erase(std::remove(FControls.begin(), FControls.end(), control), FControls.end());
}

void TMMAudioLine::Notification(TComponent* component, TOperation operation) {
    TMMNonVisualComponent::Notification(component, operation);
    if (operation != TOperation::opRemove) {
        return;
    }
    if (component == FMixer) {
        FMixer = nullptr;
        FLineInfo = TMMLineInfo{};
    }
    if (component == FTarget) {
        FTarget = nullptr;
    }
    if (component == FDestLine) {
        FDestLine = nullptr;
    }
}

// ---------------------------------------------------------------- mixer control

TMMCustomMixerControl::TMMCustomMixerControl(TComponent* owner) : TMMNonVisualComponent(owner) {}

TMMCustomMixerControl::~TMMCustomMixerControl() {
    Destroying();
    if (FAudioLine != nullptr) {
        FAudioLine->RemoveControl(this);
    }
}

void TMMCustomMixerControl::SetAudioLine(TMMAudioLine* value) {
    if (value == FAudioLine) {
        return;
    }
    if (FAudioLine != nullptr) {
        FAudioLine->RemoveControl(this);
    }
    FAudioLine = value;
    if (FAudioLine != nullptr) {
        FAudioLine->AddControl(this);
        FreeNotification(FAudioLine);
    }
    FindControl();
}

void TMMCustomMixerControl::SetControlId(int value) {
    FByType = false;
    FWantedControlId = value;
    FindControl();
}

void TMMCustomMixerControl::SetControlType(TMMControlType value) {
    FByType = true;
    FControlType = value;
    FindControl();
}

bool TMMCustomMixerControl::ValidFor(int item) const {
    return Valid() && std::max(item, 0) < std::max(FControlInfo.MultipleItems, 1);
}

void TMMCustomMixerControl::Loaded() {
    TMMNonVisualComponent::Loaded();
    FindControl();
}

bool TMMCustomMixerControl::Accepts(DWORD platformType) const {
    TMMControlType type;
    return ControlTypeOf(platformType, type);
}

void TMMCustomMixerControl::FindControl() {
    if (IsLoading()) {
        return;
    }
    TMMMixerDevice* mixer = FAudioLine != nullptr ? FAudioLine->Mixer() : nullptr;
    platform::MixerControlInfo found;
    bool ok = false;
    if (mixer != nullptr && mixer->IsOpen() && FAudioLine->Valid()) {
        std::vector<platform::MixerControlInfo> controls;
        if (platform::Mixer().GetLineControls(mixer->Handle(), static_cast<DWORD>(FAudioLine->LineId()),
                                              controls) == MMSYSERR_NOERROR) {
            for (const auto& c : controls) {
                const bool match = FByType ? c.controlType == PlatformControlType(FControlType)
                                           : static_cast<int>(c.controlId) == FWantedControlId;
                if (match && Accepts(c.controlType)) {
                    found = c;
                    ok = true;
                    break;
                }
            }
        }
    }
    if (ok) {
        FControlId = static_cast<int>(found.controlId);
        ControlTypeOf(found.controlType, FControlType);
        DWORD flags = 0;
        if ((found.flags & mc::FlagDisabled) != 0) {
            flags |= cfDisabled;
        }
        if ((found.flags & mc::FlagMultiple) != 0) {
            flags |= cfMultiple;
        }
        if ((found.flags & mc::FlagUniform) != 0) {
            flags |= cfUniform;
        }
        FControlInfo = TMMControlInfo{flags,
                                      static_cast<int>(found.multipleItems),
                                      found.shortName.substr(0, 16),
                                      found.name.substr(0, 64),
                                      found.minimum,
                                      found.maximum,
                                      found.steps};
    } else {
        FControlId = -1;
        FControlInfo = TMMControlInfo{};
    }
    Changed();
}

void TMMCustomMixerControl::Changed() {
    FLinks.NotifyAll(this);
    if (OnChange) {
        OnChange(this);
    }
}

int TMMCustomMixerControl::ValuesPerItem() const {
    if ((FControlInfo.Flags & cfUniform) != 0 || FAudioLine == nullptr) {
        return 1;
    }
    return std::max(FAudioLine->LineInfo().Channels, 1);
}

std::size_t TMMCustomMixerControl::ValueIndex(TMMChannel channel, int item) const {
    const int n = ValuesPerItem();
    const int i = std::max(item, 0);
    if (n <= 1 || channel == chBoth) {
        return static_cast<std::size_t>(i);
    }
    return static_cast<std::size_t>(n * i + (channel == chRight ? 1 : 0));
}

void TMMCustomMixerControl::CheckUsable(int item) const {
    TMMMixerDevice* mixer = FAudioLine != nullptr ? FAudioLine->Mixer() : nullptr;
    if (mixer == nullptr || !mixer->IsOpen()) {
        throw EMMDeviceError("Mixer required for this operation");
    }
    if (!Valid()) {
        throw EMMDeviceError("Control not valid");
    }
    if (std::max(item, 0) >= std::max(FControlInfo.MultipleItems, 1)) {
        throw EMMMixerControlError("Item index out of range");
    }
}

std::vector<std::int64_t> TMMCustomMixerControl::ReadAll() {
    std::vector<std::int64_t> values;
    TMMMixerDevice* mixer = FAudioLine->Mixer();
    mixer->Check(platform::Mixer().GetControlValues(mixer->Handle(), static_cast<DWORD>(FControlId), values));
    return values;
}

void TMMCustomMixerControl::WriteAll(const std::vector<std::int64_t>& values) {
    TMMMixerDevice* mixer = FAudioLine->Mixer();
    mixer->Check(platform::Mixer().SetControlValues(mixer->Handle(), static_cast<DWORD>(FControlId), values));
}

std::int64_t TMMCustomMixerControl::UnsignedValue(TMMChannel channel, int item) {
    CheckUsable(item);
    const std::vector<std::int64_t> values = ReadAll();
    const std::size_t index = ValueIndex(channel, item);
    return index < values.size() ? values[index] : 0;
}

void TMMCustomMixerControl::WriteValue(TMMChannel channel, int item, std::int64_t value) {
    CheckUsable(item);
    std::vector<std::int64_t> values = ReadAll();
    const std::size_t index = ValueIndex(channel, item);
    if (index >= values.size()) {
        throw EMMMixerControlError("Item index out of range");
    }
    values[index] = value;
    WriteAll(values);
}

void TMMCustomMixerControl::SetUnsignedValue(TMMChannel channel, int item, std::int64_t value) {
    WriteValue(channel, item, value);
}

void TMMCustomMixerControl::SetBooleanValue(TMMChannel channel, int item, bool value) {
    CheckUsable(item);
    std::vector<std::int64_t> values = ReadAll();
    if (ControlClass() == ccList && PlatformControlType(FControlType) == mc::SingleSelect) {
        std::fill(values.begin(), values.end(), 0);
    }
    const std::size_t index = ValueIndex(channel, item);
    if (index >= values.size()) {
        throw EMMMixerControlError("Item index out of range");
    }
    values[index] = value ? 1 : 0;
    WriteAll(values);
}

void TMMCustomMixerControl::Notification(TComponent* component, TOperation operation) {
    TMMNonVisualComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == FAudioLine) {
        FAudioLine = nullptr;
        FControlId = -1;
        FControlInfo = TMMControlInfo{};
    }
}

// ---------------------------------------------------------------- volume control

TMMVolumeControl::TMMVolumeControl(TComponent* owner) : TMMCustomMixerControl(owner) {
    FByType = true;
    FControlType = ctVolume;
}

void TMMVolumeControl::SetControlType(TMMControlType) {
    // Always the volume.
    TMMCustomMixerControl::SetControlType(ctVolume);
}

bool TMMVolumeControl::Accepts(DWORD platformType) const {
    return platformType == mc::Volume;
}

double TMMVolumeControl::LeftFactor() const {
    return FPanValue <= 0 ? 1.0 : (32767.0 - FPanValue) / 32767.0;
}

double TMMVolumeControl::RightFactor() const {
    return FPanValue >= 0 ? 1.0 : (32768.0 + FPanValue) / 32768.0;
}

void TMMVolumeControl::SetPanValue(int value) {
    value = std::clamp(value, -32767, 32767);
    if (value == FPanValue) {
        return;
    }
    FPanValue = value;
    TMMMixerDevice* mixer = FAudioLine != nullptr ? FAudioLine->Mixer() : nullptr;
    if (mixer == nullptr || !mixer->IsOpen() || !Valid()) {
        return;
    }
    // The louder channel is the volume the user set; the balance shapes the other from it.
    const std::vector<std::int64_t> values = ReadAll();
    if (!values.empty()) {
        SetUnsignedValue(chBoth, -1, *std::max_element(values.begin(), values.end()));
    }
}

void TMMVolumeControl::SetUnsignedValue(TMMChannel channel, int item, std::int64_t value) {
    CheckUsable(item);
    const auto clamp = [&](std::int64_t v) {
        return std::clamp(v, FControlInfo.MinValue, FControlInfo.MaxValue);
    };
    if (channel != chBoth || ValuesPerItem() < 2) {
        WriteValue(channel, item, clamp(value));
        return;
    }
    std::vector<std::int64_t> values = ReadAll();
    const std::size_t left = ValueIndex(chLeft, item);
    if (left + 1 >= values.size()) {
        throw EMMMixerControlError("Item index out of range");
    }
    values[left] = clamp(static_cast<std::int64_t>(std::trunc(static_cast<double>(value) * LeftFactor())));
    values[left + 1] =
        clamp(static_cast<std::int64_t>(std::trunc(static_cast<double>(value) * RightFactor())));
    WriteAll(values);
}

} // namespace tunefold
