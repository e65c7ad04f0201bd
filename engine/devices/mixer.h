// The sound card's mixer as components: the mixer device (opens the mixer and turns its change
// notifications into events), an audio line of it (the speakers, found by id, kind or target), a
// control of that line (the volume, read and written per channel and item) and the volume control
// with its balance. Everything runs on the GUI thread; the mixer's notifications arrive as messages.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"
#include "engine/framework/observer.h"
#include "engine/framework/pcm.h"
#include "platform/mixer.h"

namespace tunefold {

namespace platform {
class MessageWindow;
}

TUNEFOLD_ERROR_CLASS(EMMDeviceError, EMMError);
TUNEFOLD_ERROR_CLASS(EMMMixerDeviceError, EMMDeviceError);
TUNEFOLD_ERROR_CLASS(EMMMixerControlError, EMMError);
TUNEFOLD_ERROR_CLASS(EMMMixerControlsError, EMMError);

// A failed call of the platform's mixer: its code and text.
class EMMMCIError : public EMMError {
public:
    EMMMCIError(MMRESULT code, const std::string& message) : EMMError(message), code_(code) {}
    MMRESULT Code() const { return code_; }

private:
    MMRESULT code_;
};

enum TMMComponentType {
    ctDstDigital,
    ctDstHeadPhones,
    ctDstLine,
    ctDstMonitor,
    ctDstSpeakers,
    ctDstTelephone,
    ctDstUndefined,
    ctDstVoiceIn,
    ctDstWaveIn,
    ctSrcAnalog,
    ctSrcAux,
    ctSrcCD,
    ctSrcDigital,
    ctSrcLine,
    ctSrcMicrophone,
    ctSrcPCSpeaker,
    ctSrcSynthesizer,
    ctSrcTelephone,
    ctSrcUndefined,
    ctSrcWaveOut
};

enum TMMControlType {
    ctCustom,
    ctBass,
    ctEqualizer,
    ctFader,
    ctTreble,
    ctVolume,
    ctMixer,
    ctMultipleSelect,
    ctMux,
    ctSingleSelect,
    ctBooleanMeter,
    ctPeakMeter,
    ctSignerMeter,
    ctUnsignedMeter,
    ctDecibels,
    ctPercent,
    ctSigned,
    ctUnsigned,
    ctPan,
    ctQSoundPan,
    ctSlider,
    ctBoolean,
    ctButton,
    ctLoudness,
    ctMono,
    ctMute,
    ctOnOff,
    ctStereoEnh,
    ctMicroTime,
    ctMilliTime
};

enum TMMControlClass { ccCustom, ccFader, ccList, ccMeter, ccNumber, ccSlider, ccSwitch, ccTime };

DWORD PlatformComponentType(TMMComponentType type);
bool ComponentTypeOf(DWORD platformType, TMMComponentType& type);
DWORD PlatformControlType(TMMControlType type);
bool ControlTypeOf(DWORD platformType, TMMControlType& type);
TMMControlClass ControlClassOf(TMMControlType type);

struct TMMLineInfo {
    DWORD Flags = 0;
    int Channels = 0;
    int Connections = 0;
    int Controls = 0;
    std::string ShortName; // up to 16 characters
    std::string Name;      // up to 64
};

struct TMMControlInfo {
    // Bit 0 disabled, bit 1 multiple items, bit 2 uniform (one value for all channels).
    DWORD Flags = 0;
    int MultipleItems = 0;
    std::string ShortName;
    std::string Name;
    std::int64_t MinValue = 0;
    std::int64_t MaxValue = 0;
    DWORD Steps = 0;
};
constexpr DWORD cfDisabled = 1, cfMultiple = 2, cfUniform = 4;

using TMMLineChangeEvent = std::function<void(TObject* sender, int lineId)>;
using TMMControlChangeEvent = std::function<void(TObject* sender, int lineId, int controlId)>;
using TMMLineControlEvent = std::function<void(TObject* sender, int controlId)>;

// A device of the audio system with an id that can be switched while it is open.
class TMMCustomAudioDevice : public TMMNonVisualComponent {
public:
    explicit TMMCustomAudioDevice(TComponent* owner = nullptr);
    ~TMMCustomAudioDevice() override;

    int DeviceId() const { return FDeviceId; }
    void SetDeviceId(int value);
    bool Active() const { return FActive; }
    void SetActive(bool value);
    virtual int DeviceCount() = 0;
    bool Mapper() const { return FDeviceId == -1; }
    bool Valid();
    TNotifyEvent OnChange;

    void Loaded() override;

protected:
    virtual void OpenDevice() = 0;
    virtual void CloseDevice() = 0;
    bool FActive = false;

private:
    int FDeviceId = 0;
    bool FStreamedActive = false;
};

class TMMAudioLine;

class TMMMixerDevice : public TMMCustomAudioDevice {
public:
    explicit TMMMixerDevice(TComponent* owner = nullptr);
    ~TMMMixerDevice() override;

    int DeviceCount() override;
    TMMCustomAudioDevice* Device() const { return FDevice; }
    void SetDevice(TMMCustomAudioDevice* value);
    int Destinations();
    platform::HMIXER Handle() const { return FHandle; }
    bool IsOpen() const { return FHandle != 0; }

    TMMLineChangeEvent OnLineChange;
    TMMControlChangeEvent OnControlChange;

    // Where an exception inside a notification goes (the application's handler); by default it is
    // written to stderr.
    static void SetExceptionHandler(std::function<void(const std::exception&)> handler);

    // For the lines: attach to and detach from the notifications.
    void AddLine(TMMAudioLine* line);
    void RemoveLine(TMMAudioLine* line);
    // Raises EMMMCIError for a failed platform call.
    void Check(MMRESULT result) const;

protected:
    void OpenDevice() override;
    void CloseDevice() override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    void HandleNotification(UINT msg, LPARAM id);

    TMMCustomAudioDevice* FDevice = nullptr;
    platform::HMIXER FHandle = 0;
    UINT FOpenedId = 0;
    std::unique_ptr<platform::MessageWindow> FWindow;
    std::vector<TMMAudioLine*> FLines;
};

class TMMCustomMixerControl;

class TMMAudioLine : public TMMNonVisualComponent {
public:
    explicit TMMAudioLine(TComponent* owner = nullptr);
    ~TMMAudioLine() override;

    TMMMixerDevice* Mixer() const { return FMixer; }
    void SetMixer(TMMMixerDevice* value);
    int LineId() const { return FLineId; }
    void SetLineId(int value);
    TMMComponentType ComponentType() const { return FComponentType; }
    void SetComponentType(TMMComponentType value);
    TMMCustomAudioDevice* Target() const { return FTarget; }
    void SetTarget(TMMCustomAudioDevice* value);
    TComponent* DestLine() const { return FDestLine; }
    // Only another audio line: "DestLine should be TMMAudioLine" otherwise.
    void SetDestLine(TComponent* value);
    const TMMLineInfo& LineInfo() const { return FLineInfo; }
    bool Valid() const { return FLineId != -1; }

    TNotifyEvent OnChange;
    TMMLineControlEvent OnControlChange;

    void Loaded() override;
    // Looks the line up again (after a change of what selects it, or of the mixer's device).
    void FindLine();

    // From the mixer: the line changed, or one of its controls did.
    void LineChanged();
    void ControlChanged(int controlId);

    void AddControl(TMMCustomMixerControl* control);
    void RemoveControl(TMMCustomMixerControl* control);

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    enum class Selector { LineId, ComponentType, Target };
    void TellControls();

    TMMMixerDevice* FMixer = nullptr;
    int FWantedLineId = -1;
    int FLineId = -1;
    TMMComponentType FComponentType = ctDstSpeakers;
    TMMCustomAudioDevice* FTarget = nullptr;
    TMMAudioLine* FDestLine = nullptr;
    Selector FSelector = Selector::LineId;
    TMMLineInfo FLineInfo;
    std::vector<TMMCustomMixerControl*> FControls;
};

class TMMCustomMixerControl : public TMMNonVisualComponent {
public:
    explicit TMMCustomMixerControl(TComponent* owner = nullptr);
    ~TMMCustomMixerControl() override;

    TMMAudioLine* AudioLine() const { return FAudioLine; }
    void SetAudioLine(TMMAudioLine* value);
    int ControlId() const { return FControlId; }
    void SetControlId(int value);
    TMMControlType ControlType() const { return FControlType; }
    virtual void SetControlType(TMMControlType value);
    TMMControlClass ControlClass() const { return ControlClassOf(FControlType); }
    const TMMControlInfo& ControlInfo() const { return FControlInfo; }
    bool Valid() const { return FControlId != -1; }
    // Valid, and `item` is one of its items (-1 counts as the first).
    bool ValidFor(int item) const;
    TNotifyEvent OnChange;

    void Loaded() override;
    void FindControl();
    // From the line: this control's value changed elsewhere.
    void Changed();

    std::int64_t UnsignedValue(TMMChannel channel, int item);
    virtual void SetUnsignedValue(TMMChannel channel, int item, std::int64_t value);
    std::int64_t SignedValue(TMMChannel channel, int item) { return UnsignedValue(channel, item); }
    void SetSignedValue(TMMChannel channel, int item, std::int64_t value) {
        WriteValue(channel, item, value);
    }
    bool BooleanValue(TMMChannel channel, int item) { return UnsignedValue(channel, item) != 0; }
    void SetBooleanValue(TMMChannel channel, int item, bool value);

    // Links (the wheel) hear of every change of the control and of its lookup.
    TMMObservable& Links() { return FLinks; }

protected:
    // The control kinds this class takes; the volume control takes only the volume.
    virtual bool Accepts(DWORD platformType) const;
    void Notification(TComponent* component, TOperation operation) override;
    // All values of the control (channels x items).
    std::vector<std::int64_t> ReadAll();
    void WriteAll(const std::vector<std::int64_t>& values);
    std::size_t ValueIndex(TMMChannel channel, int item) const;
    void WriteValue(TMMChannel channel, int item, std::int64_t value);
    int ValuesPerItem() const;
    void CheckUsable(int item) const;

    TMMAudioLine* FAudioLine = nullptr;
    int FWantedControlId = -1;
    int FControlId = -1;
    TMMControlType FControlType = ctCustom;
    bool FByType = false;
    TMMControlInfo FControlInfo;
    TMMObservable FLinks;
};

class TMMMixerControl : public TMMCustomMixerControl {
public:
    using TMMCustomMixerControl::TMMCustomMixerControl;
};

class TMMVolumeControl : public TMMCustomMixerControl {
public:
    explicit TMMVolumeControl(TComponent* owner = nullptr);
    void SetControlType(TMMControlType value) override;
    int PanValue() const { return FPanValue; }
    // Clamped to -32767..32767: beyond that a channel's factor would turn negative.
    void SetPanValue(int value);
    // With chBoth each channel gets the value through the balance; every value is kept within the
    // control's range.
    void SetUnsignedValue(TMMChannel channel, int item, std::int64_t value) override;
    double LeftFactor() const;
    double RightFactor() const;

protected:
    bool Accepts(DWORD platformType) const override;

private:
    int FPanValue = 0;
};

} // namespace tunefold
