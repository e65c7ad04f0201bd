// A mixer for tests and headless use: devices with the lines and controls a test configures,
// changes "by another program", rounding like a real backend, and every failure injectable.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mixer.h"

namespace tunefold::platform {

struct VirtualMixerControl {
    MixerControlInfo info;
    std::vector<std::int64_t> values; // channels x items
};

struct VirtualMixerLine {
    MixerLineInfo info;
    std::vector<VirtualMixerControl> controls;
};

struct VirtualMixerDevice {
    std::string name = "Virtual Mixer";
    std::vector<VirtualMixerLine> lines; // destinations first, in order; then sources
};

struct VirtualMixerFaults {
    MMRESULT open = MMSYSERR_NOERROR;
    MMRESULT lineInfo = MMSYSERR_NOERROR;
    MMRESULT getValues = MMSYSERR_NOERROR;
    MMRESULT setValues = MMSYSERR_NOERROR;
    bool noNotifications = false;
};

class VirtualMixer : public MixerDevices {
public:
    VirtualMixer() : devices_{StandardDevice()} {}
    static VirtualMixer& Instance();
    // One device whose speaker destination (line 0) has a stereo volume 0..65535 in 65535 steps
    // (control 1, at 49151) and a mute switch (control 2, off), and a wave-out source (line 1).
    static VirtualMixerDevice StandardDevice();

    void SetDevices(std::vector<VirtualMixerDevice> devices);
    void SetFaults(const VirtualMixerFaults& faults);
    // A written value is stored as the nearest multiple of `granularity`, as hardware with fewer
    // steps does (1: exact).
    void SetGranularity(std::int64_t granularity);
    // Back to one standard device, no faults, nothing open.
    void ResetAll();

    // Another program changed a control or a line: every open handle of the device is told.
    void ExternalChange(int deviceId, DWORD controlId, const std::vector<std::int64_t>& values);
    void ExternalLineChange(int deviceId, DWORD lineId);
    // The device behind an open handle becomes another one (as when devices are renumbered).
    void Renumber(HMIXER handle, UINT deviceId);

    std::vector<std::int64_t> Values(int deviceId, DWORD controlId) const;
    int WriteCount() const;
    int OpenCount() const;

    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(int deviceId, MixerCaps& caps) override;
    MMRESULT Open(HMIXER* handle, int deviceId, MessageWindow* notify) override;
    MMRESULT Close(HMIXER handle) override;
    MMRESULT GetID(HMIXER handle, UINT& deviceId) override;
    MMRESULT GetLineInfo(HMIXER handle, MixerLineQuery query, MixerLineInfo& line) override;
    MMRESULT GetLineControls(HMIXER handle, DWORD lineId, std::vector<MixerControlInfo>& controls) override;
    MMRESULT GetControlByID(HMIXER handle, DWORD controlId, MixerControlInfo& control) override;
    MMRESULT GetControlValues(HMIXER handle, DWORD controlId, std::vector<std::int64_t>& values) override;
    MMRESULT SetControlValues(HMIXER handle, DWORD controlId,
                              const std::vector<std::int64_t>& values) override;

private:
    struct Opened {
        UINT deviceId;
        MessageWindow* notify;
    };
    const VirtualMixerDevice* DeviceOf(HMIXER handle, MMRESULT& result) const;
    VirtualMixerControl* FindControl(int deviceId, DWORD controlId);
    void NotifyLocked(int deviceId, UINT msg, DWORD id);

    mutable std::mutex mutex_;
    std::vector<VirtualMixerDevice> devices_;
    VirtualMixerFaults faults_;
    std::int64_t granularity_ = 1;
    std::map<HMIXER, Opened> open_;
    HMIXER nextHandle_ = 0x4D00;
    int writes_ = 0;
};

} // namespace tunefold::platform
