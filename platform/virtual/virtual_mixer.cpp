#include "platform/virtual/virtual_mixer.h"

#include <algorithm>
#include <cmath>

#include "platform/message_loop.h"

namespace tunefold::platform {

VirtualMixer& VirtualMixer::Instance() {
    static VirtualMixer mixer;
    return mixer;
}

VirtualMixerDevice VirtualMixer::StandardDevice() {
    VirtualMixerDevice device;
    device.name = "Virtual Mixer";

    VirtualMixerLine speakers;
    speakers.info.destination = 0;
    speakers.info.lineId = 0;
    speakers.info.flags = mixer_line::FlagActive;
    speakers.info.componentType = mixer_line::DstSpeakers;
    speakers.info.channels = 2;
    speakers.info.connections = 1;
    speakers.info.shortName = "Master";
    speakers.info.name = "Master Volume";
    speakers.info.targetType = mixer_line::TargetWaveOut;
    speakers.info.targetDeviceId = 0;

    VirtualMixerControl volume;
    volume.info.controlId = 1;
    volume.info.controlType = mixer_control::Volume;
    volume.info.shortName = "Volume";
    volume.info.name = "Master Volume";
    volume.info.minimum = 0;
    volume.info.maximum = 65535;
    volume.info.steps = 65535;
    volume.info.lineId = 0;
    volume.values = {49151, 49151};

    VirtualMixerControl mute;
    mute.info.controlId = 2;
    mute.info.controlType = mixer_control::Mute;
    mute.info.flags = mixer_control::FlagUniform;
    mute.info.shortName = "Mute";
    mute.info.name = "Master Mute";
    mute.info.minimum = 0;
    mute.info.maximum = 1;
    mute.info.lineId = 0;
    mute.values = {0};

    speakers.controls = {volume, mute};
    speakers.info.controls = 2;

    VirtualMixerLine wave;
    wave.info.destination = 0;
    wave.info.source = 0;
    wave.info.lineId = 0x1000;
    wave.info.flags = mixer_line::FlagActive | mixer_line::FlagSource;
    wave.info.componentType = mixer_line::SrcWaveOut;
    wave.info.channels = 2;
    wave.info.shortName = "Wave";
    wave.info.name = "Wave";

    device.lines = {speakers, wave};
    return device;
}

void VirtualMixer::SetDevices(std::vector<VirtualMixerDevice> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
}

void VirtualMixer::SetFaults(const VirtualMixerFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

void VirtualMixer::SetGranularity(std::int64_t granularity) {
    std::lock_guard lock(mutex_);
    granularity_ = std::max<std::int64_t>(granularity, 1);
}

void VirtualMixer::ResetAll() {
    std::lock_guard lock(mutex_);
    devices_ = {StandardDevice()};
    faults_ = {};
    granularity_ = 1;
    open_.clear();
    writes_ = 0;
}

const VirtualMixerDevice* VirtualMixer::DeviceOf(HMIXER handle, MMRESULT& result) const {
    const auto it = open_.find(handle);
    if (it == open_.end() || it->second.deviceId >= devices_.size()) {
        result = MMSYSERR_INVALHANDLE;
        return nullptr;
    }
    result = MMSYSERR_NOERROR;
    return &devices_[it->second.deviceId];
}

VirtualMixerControl* VirtualMixer::FindControl(int deviceId, DWORD controlId) {
    if (deviceId < 0 || static_cast<std::size_t>(deviceId) >= devices_.size()) {
        return nullptr;
    }
    for (auto& line : devices_[static_cast<std::size_t>(deviceId)].lines) {
        for (auto& control : line.controls) {
            if (control.info.controlId == controlId) {
                return &control;
            }
        }
    }
    return nullptr;
}

void VirtualMixer::NotifyLocked(int deviceId, UINT msg, DWORD id) {
    if (faults_.noNotifications) {
        return;
    }
    for (const auto& [handle, opened] : open_) {
        if (static_cast<int>(opened.deviceId) == deviceId && opened.notify != nullptr) {
            opened.notify->Post(msg, handle, static_cast<LPARAM>(id));
        }
    }
}

void VirtualMixer::ExternalChange(int deviceId, DWORD controlId, const std::vector<std::int64_t>& values) {
    std::lock_guard lock(mutex_);
    if (VirtualMixerControl* control = FindControl(deviceId, controlId)) {
        control->values = values;
        NotifyLocked(deviceId, MM_MIXM_CONTROL_CHANGE, controlId);
    }
}

void VirtualMixer::ExternalLineChange(int deviceId, DWORD lineId) {
    std::lock_guard lock(mutex_);
    NotifyLocked(deviceId, MM_MIXM_LINE_CHANGE, lineId);
}

void VirtualMixer::Renumber(HMIXER handle, UINT deviceId) {
    std::lock_guard lock(mutex_);
    const auto it = open_.find(handle);
    if (it != open_.end()) {
        it->second.deviceId = deviceId;
    }
}

std::vector<std::int64_t> VirtualMixer::Values(int deviceId, DWORD controlId) const {
    std::lock_guard lock(mutex_);
    auto* self = const_cast<VirtualMixer*>(this);
    const VirtualMixerControl* control = self->FindControl(deviceId, controlId);
    return control != nullptr ? control->values : std::vector<std::int64_t>{};
}

int VirtualMixer::WriteCount() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

int VirtualMixer::OpenCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(open_.size());
}

UINT VirtualMixer::GetNumDevs() {
    std::lock_guard lock(mutex_);
    return static_cast<UINT>(devices_.size());
}

MMRESULT VirtualMixer::GetDevCaps(int deviceId, MixerCaps& caps) {
    std::lock_guard lock(mutex_);
    if (deviceId < 0 || static_cast<std::size_t>(deviceId) >= devices_.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    const VirtualMixerDevice& device = devices_[static_cast<std::size_t>(deviceId)];
    caps.name = device.name;
    caps.destinations =
        static_cast<DWORD>(std::count_if(device.lines.begin(), device.lines.end(), [](const auto& l) {
            return (l.info.flags & mixer_line::FlagSource) == 0;
        }));
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMixer::Open(HMIXER* handle, int deviceId, MessageWindow* notify) {
    std::lock_guard lock(mutex_);
    if (deviceId == -1) {
        deviceId = 0;
    }
    if (deviceId < 0 || static_cast<std::size_t>(deviceId) >= devices_.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    if (faults_.open != MMSYSERR_NOERROR) {
        return faults_.open;
    }
    *handle = nextHandle_++;
    open_[*handle] = Opened{static_cast<UINT>(deviceId), notify};
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMixer::Close(HMIXER handle) {
    std::lock_guard lock(mutex_);
    return open_.erase(handle) == 1 ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT VirtualMixer::GetID(HMIXER handle, UINT& deviceId) {
    std::lock_guard lock(mutex_);
    const auto it = open_.find(handle);
    if (it == open_.end()) {
        return MMSYSERR_INVALHANDLE;
    }
    deviceId = it->second.deviceId;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMixer::GetLineInfo(HMIXER handle, MixerLineQuery query, MixerLineInfo& line) {
    std::lock_guard lock(mutex_);
    MMRESULT result = MMSYSERR_NOERROR;
    const VirtualMixerDevice* device = DeviceOf(handle, result);
    if (device == nullptr) {
        return result;
    }
    if (faults_.lineInfo != MMSYSERR_NOERROR) {
        return faults_.lineInfo;
    }
    for (const auto& candidate : device->lines) {
        const MixerLineInfo& info = candidate.info;
        const bool source = (info.flags & mixer_line::FlagSource) != 0;
        bool match = false;
        switch (query) {
        case MixerLineQuery::ByLineId:
            match = info.lineId == line.lineId;
            break;
        case MixerLineQuery::ByComponentType:
            match = info.componentType == line.componentType;
            break;
        case MixerLineQuery::ByDestination:
            match = !source && info.destination == line.destination;
            break;
        case MixerLineQuery::BySource:
            match = source && info.destination == line.destination && info.source == line.source;
            break;
        case MixerLineQuery::ByTargetType:
            match = info.targetType == line.targetType && info.targetDeviceId == line.targetDeviceId;
            break;
        }
        if (match) {
            line = info;
            return MMSYSERR_NOERROR;
        }
    }
    return MIXERR_INVALLINE;
}

MMRESULT VirtualMixer::GetLineControls(HMIXER handle, DWORD lineId, std::vector<MixerControlInfo>& controls) {
    std::lock_guard lock(mutex_);
    MMRESULT result = MMSYSERR_NOERROR;
    const VirtualMixerDevice* device = DeviceOf(handle, result);
    if (device == nullptr) {
        return result;
    }
    for (const auto& line : device->lines) {
        if (line.info.lineId == lineId) {
            controls.clear();
            for (const auto& control : line.controls) {
                controls.push_back(control.info);
            }
            return MMSYSERR_NOERROR;
        }
    }
    return MIXERR_INVALLINE;
}

MMRESULT VirtualMixer::GetControlByID(HMIXER handle, DWORD controlId, MixerControlInfo& control) {
    std::lock_guard lock(mutex_);
    MMRESULT result = MMSYSERR_NOERROR;
    if (DeviceOf(handle, result) == nullptr) {
        return result;
    }
    const VirtualMixerControl* found = FindControl(static_cast<int>(open_[handle].deviceId), controlId);
    if (found == nullptr) {
        return MIXERR_INVALCONTROL;
    }
    control = found->info;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMixer::GetControlValues(HMIXER handle, DWORD controlId, std::vector<std::int64_t>& values) {
    std::lock_guard lock(mutex_);
    MMRESULT result = MMSYSERR_NOERROR;
    if (DeviceOf(handle, result) == nullptr) {
        return result;
    }
    if (faults_.getValues != MMSYSERR_NOERROR) {
        return faults_.getValues;
    }
    const VirtualMixerControl* found = FindControl(static_cast<int>(open_[handle].deviceId), controlId);
    if (found == nullptr) {
        return MIXERR_INVALCONTROL;
    }
    values = found->values;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMixer::SetControlValues(HMIXER handle, DWORD controlId,
                                        const std::vector<std::int64_t>& values) {
    std::lock_guard lock(mutex_);
    MMRESULT result = MMSYSERR_NOERROR;
    if (DeviceOf(handle, result) == nullptr) {
        return result;
    }
    if (faults_.setValues != MMSYSERR_NOERROR) {
        return faults_.setValues;
    }
    const int deviceId = static_cast<int>(open_[handle].deviceId);
    VirtualMixerControl* found = FindControl(deviceId, controlId);
    if (found == nullptr) {
        return MIXERR_INVALCONTROL;
    }
    if (values.size() != found->values.size()) {
        return MMSYSERR_INVALPARAM;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] < found->info.minimum || values[i] > found->info.maximum) {
            return MIXERR_INVALVALUE;
        }
        const std::int64_t g = granularity_;
        found->values[i] = std::min(found->info.maximum, (values[i] + g / 2) / g * g);
    }
    ++writes_;
    // The writer hears of its own change too, as every program that has the mixer open does.
    NotifyLocked(deviceId, MM_MIXM_CONTROL_CHANGE, controlId);
    return MMSYSERR_NOERROR;
}

} // namespace tunefold::platform
