// The audio mixer service, in the shape of the platform's mixer* calls: devices with destination
// lines (the speakers, ...), each line with controls (volume, mute, ...) whose values are read and
// written for all channels and items at once, and notifications of a changed line or control posted
// to a message window. The ALSA backend maps the simple mixer of the "default" control device onto
// one speaker destination; the virtual mixer holds whatever lines a test configures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wave_types.h"

namespace tunefold::platform {

class MessageWindow;

using HMIXER = std::uintptr_t;

// Posted to the window given at open: wParam the mixer handle, lParam the line or control id.
constexpr UINT MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;

constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;

// Line component types, numbered as the platform numbers them.
namespace mixer_line {
constexpr DWORD DstUndefined = 0x0000, DstDigital = 0x0001, DstLine = 0x0002, DstMonitor = 0x0003,
                DstSpeakers = 0x0004, DstHeadphones = 0x0005, DstTelephone = 0x0006, DstWaveIn = 0x0007,
                DstVoiceIn = 0x0008;
constexpr DWORD SrcUndefined = 0x1000, SrcDigital = 0x1001, SrcLine = 0x1002, SrcMicrophone = 0x1003,
                SrcSynthesizer = 0x1004, SrcCompactDisc = 0x1005, SrcTelephone = 0x1006,
                SrcPCSpeaker = 0x1007, SrcWaveOut = 0x1008, SrcAuxiliary = 0x1009, SrcAnalog = 0x100A;
constexpr DWORD FlagActive = 0x00000001, FlagDisconnected = 0x00008000, FlagSource = 0x80000000;
// Target device types of a line.
constexpr DWORD TargetUndefined = 0, TargetWaveOut = 1, TargetWaveIn = 2;
} // namespace mixer_line

// Control types: class in the top bits, units below, numbered as the platform numbers them.
namespace mixer_control {
constexpr DWORD ClassMask = 0xF0000000, ClassCustom = 0x00000000, ClassMeter = 0x10000000,
                ClassSwitch = 0x20000000, ClassNumber = 0x30000000, ClassSlider = 0x40000000,
                ClassFader = 0x50000000, ClassTime = 0x60000000, ClassList = 0x70000000;
constexpr DWORD UnitsMask = 0x00FF0000, UnitsCustom = 0, UnitsBoolean = 0x00010000, UnitsSigned = 0x00020000,
                UnitsUnsigned = 0x00030000, UnitsDecibels = 0x00040000, UnitsPercent = 0x00050000;
constexpr DWORD Custom = 0x00000000, BooleanMeter = 0x10010000, SignedMeter = 0x10020000,
                PeakMeter = 0x10020001, UnsignedMeter = 0x10030000, Boolean = 0x20010000, OnOff = 0x20010001,
                Mute = 0x20010002, Mono = 0x20010003, Loudness = 0x20010004, StereoEnh = 0x20010005,
                Button = 0x21010000, Decibels = 0x30040000, Signed = 0x30020000, Unsigned = 0x30030000,
                Percent = 0x30050000, Slider = 0x40020000, Pan = 0x40020001, QSoundPan = 0x40020002,
                Fader = 0x50030000, Volume = 0x50030001, Bass = 0x50030002, Treble = 0x50030003,
                Equalizer = 0x50030004, SingleSelect = 0x70010000, Mux = 0x70010001,
                MultipleSelect = 0x71010000, Mixer = 0x71010001, MicroTime = 0x60030000,
                MilliTime = 0x61030000;
constexpr DWORD FlagDisabled = 0x80000000u;
// The control's own flags, as the component library exposes them.
constexpr DWORD FlagUniform = 0x00000001, FlagMultiple = 0x00000002;
} // namespace mixer_control

struct MixerCaps {
    std::string name;
    DWORD destinations = 0;
};

struct MixerLineInfo {
    DWORD destination = 0; // index of the destination (queries by destination or source)
    DWORD source = 0;      // index of the source within the destination (query by source)
    DWORD lineId = 0;
    DWORD flags = 0;
    DWORD componentType = 0;
    DWORD channels = 0;
    DWORD connections = 0; // sources of a destination
    DWORD controls = 0;
    std::string shortName;
    std::string name;
    DWORD targetType = mixer_line::TargetUndefined;
    int targetDeviceId = -1;
};

enum class MixerLineQuery { ByLineId, ByComponentType, ByDestination, BySource, ByTargetType };

struct MixerControlInfo {
    DWORD controlId = 0;
    DWORD controlType = 0;
    DWORD flags = 0; // mixer_control::FlagUniform, FlagMultiple, FlagDisabled
    DWORD multipleItems = 0;
    std::string shortName;
    std::string name;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    DWORD steps = 0;
    DWORD lineId = 0; // the line the control belongs to
};

class MixerDevices {
public:
    virtual ~MixerDevices() = default;
    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(int deviceId, MixerCaps& caps) = 0;
    // Changes are posted to `notify` (may be null) until the handle is closed.
    virtual MMRESULT Open(HMIXER* handle, int deviceId, MessageWindow* notify) = 0;
    virtual MMRESULT Close(HMIXER handle) = 0;
    // The device number behind an open handle.
    virtual MMRESULT GetID(HMIXER handle, UINT& deviceId) = 0;
    // Fills `line` from the fields the query names (lineId; componentType; destination; destination
    // and source; targetType and targetDeviceId).
    virtual MMRESULT GetLineInfo(HMIXER handle, MixerLineQuery query, MixerLineInfo& line) = 0;
    virtual MMRESULT GetLineControls(HMIXER handle, DWORD lineId,
                                     std::vector<MixerControlInfo>& controls) = 0;
    virtual MMRESULT GetControlByID(HMIXER handle, DWORD controlId, MixerControlInfo& control) = 0;
    // All values of a control: channels x items, channel-major within an item.
    virtual MMRESULT GetControlValues(HMIXER handle, DWORD controlId, std::vector<std::int64_t>& values) = 0;
    virtual MMRESULT SetControlValues(HMIXER handle, DWORD controlId,
                                      const std::vector<std::int64_t>& values) = 0;
    virtual std::string ErrorText(MMRESULT code);
};

// The process's mixer service: the installed one, else the virtual mixer when the virtual platform
// is requested, else the ALSA mixer. Looked up at every call.
MixerDevices& Mixer();
MixerDevices* SetMixer(MixerDevices* mixer);

class ScopedMixer {
public:
    explicit ScopedMixer(MixerDevices& mixer) : previous_(SetMixer(&mixer)) {}
    ~ScopedMixer() { SetMixer(previous_); }
    ScopedMixer(const ScopedMixer&) = delete;
    ScopedMixer& operator=(const ScopedMixer&) = delete;

private:
    MixerDevices* previous_;
};

} // namespace tunefold::platform
