// Stages of the audio chain. A stage has an upstream `Input` and a downstream `Output`; the format
// travels downstream, buffers are pulled (BufferLoad, from the input) or pushed (BufferReady, to the
// output), and a device stage drives the life cycle of its whole segment of the chain.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/framework/component.h"
#include "engine/framework/mm_types.h"
#include "engine/framework/pcm.h"
#include "platform/wave_types.h"

namespace tunefold {

// The buffer record that travels the chain: the platform's header first (the very same memory goes
// to the wave device), then the extension, then the data in the same zero-filled allocation.
struct TMMBufferHeader {
    WAVEHDR wh;
    DWORD SavedBytes;            // dwBytesRecorded kept by the output device across platform calls
    TMMBufferHeader* NextBuffer; // set before a push: the buffer being played now
    BOOL32 LoopEnabled;          // set before each pull: looping was requested
    std::int32_t LoopCount;      // requested loop passes, 0 = endless
    std::int32_t LoopsLeft;      // passes remaining; a source decrements it when it wraps
    BOOL32 LoopRestart;          // set by a source that wrapped to the loop start in this buffer
    BOOL32 LastOfStream;         // set by the output device after a pull: no buffer follows
};
using PMMBufferHeader = TMMBufferHeader*;

inline TMMBufferHeader* AsBufferHeader(PWaveHdr header) {
    return reinterpret_cast<TMMBufferHeader*>(header);
}
inline PWaveHdr AsWaveHdr(TMMBufferHeader* header) {
    return &header->wh;
}
// Bytes of one buffer allocation holding `dataBytes` of data; lpData points at header + this offset.
constexpr std::size_t BufferHeaderBytes = (sizeof(TMMBufferHeader) + 15) & ~std::size_t{15};
// Sets lpData and dwBufferLength of a freshly allocated (zero-filled) block of
// BufferHeaderBytes + dataBytes.
TMMBufferHeader* InitBufferHeader(void* block, std::uint32_t dataBytes);

using TMMBufferEvent = std::function<void(TObject* sender, PWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent = std::function<void(TObject* sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;
using TMMErrorEvent = std::function<void(TObject* sender, bool& Handled)>;

class TMMComponent : public TComponent {
public:
    using TComponent::TComponent;
};

class TMMNonVisualComponent : public TMMComponent {
public:
    using TMMComponent::TMMComponent;
};

class TMMCustomDSPComponent : public TMMNonVisualComponent {
public:
    using TMMNonVisualComponent::TMMNonVisualComponent;
};

class TMMDSPComponent : public TMMCustomDSPComponent {
public:
    explicit TMMDSPComponent(TComponent* owner = nullptr);
    ~TMMDSPComponent() override;

    // ---- published properties ----
    TMMDSPComponent* Input() const { return GetInput(); }
    void Input(TMMDSPComponent* value) { SetInput(value); }
    TMMDSPComponent* Output() const { return GetOutput(); }
    void Output(TMMDSPComponent* value) { SetOutput(value); }
    int BufferSize() const { return GetBufferSize(); }
    TMMBufferEvent OnBufferReady;
    TMMBufferLoadEvent OnBufferLoad;

    WAVEFORMATEX* PWaveFormat() const { return GetPWaveFormat(); }
    bool IsOpened() const { return FOpened; }
    bool IsStarted() const { return FStarted; }
    const std::string& InputProp() const { return FInputProp; }
    const std::string& OutputProp() const { return FOutputProp; }

    // ---- the virtual operations, in slot order ----
    virtual void LinkChanged();
    virtual void UnlinkNotify(TMMDSPComponent* sender, bool isInput, const std::string& propName);
    virtual void SetInput(TMMDSPComponent* value);
    virtual TMMDSPComponent* GetInput() const { return FInput; }
    virtual void SetOutput(TMMDSPComponent* value);
    virtual TMMDSPComponent* GetOutput() const { return FOutput; }
    virtual void InputFormatChanged(const WAVEFORMATEX* format);
    virtual void SetPWaveFormat(const WAVEFORMATEX* format);
    virtual WAVEFORMATEX* GetPWaveFormat() const { return FPWaveFormat.get(); }
    virtual int GetBufferSize() const;
    virtual void SetBufferSize(int value);
    virtual void Opened();
    virtual void Closed();
    virtual void Started();
    virtual void Paused();
    virtual void Restarted();
    virtual void Stopped();
    virtual void Reset();
    virtual void Looped();
    virtual void BufferReady(PWaveHdr lpWaveHdr);
    virtual void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers);
    virtual void SetInputLink(TMMDSPComponent* component, std::string_view propName);
    virtual void SetOutputLink(TMMDSPComponent* component, std::string_view propName);
    virtual bool CanConnectInput(TComponent* component);
    virtual bool CanConnectOutput(TComponent* component);

    // A device stage (wave output, wave input) drives its segment of the chain.
    virtual bool IsSoundComponent() const { return false; }

    // Late work: a stage that changes the sound in place (volume, equalizer) can do so just before
    // a buffer goes to the sound card instead of when the buffer is filled, which may be a second
    // and more ahead of what is heard. The output device in front of it asks for that while it
    // plays; the stage then passes pulled buffers on untouched and does its work in ProcessLate,
    // buffer by buffer in the order pulled, on whatever thread feeds the card.
    virtual bool CanWorkLate() const { return false; }
    void SetWorkingLate(bool on) { FWorkingLate.store(on); }
    bool WorkingLate() const { return FWorkingLate.load(); }
    // `last`: the end of the stream, as a pull that returned MoreBuffers false.
    virtual void ProcessLate(char* data, DWORD bytes, bool last) {
        (void)data;
        (void)bytes;
        (void)last;
    }

    // Which link properties this class publishes: a pure source publishes only "Output", a pure sink
    // only "Input". These stand in for the run-time type information the links consult.
    virtual bool PublishesInput() const { return true; }
    virtual bool PublishesOutput() const { return true; }
    bool PublishesProperty(std::string_view name) const override;
    TComponent* ComponentProperty(std::string_view name) const override;

    void Loaded() override;

protected:
    void Notification(TComponent* component, TOperation operation) override;

    TMMDSPComponent* FInput = nullptr;
    TMMDSPComponent* FOutput = nullptr;
    WaveFormatPtr FPWaveFormat;
    int FBufferSize = 2048;
    int FRealBufferSize = 2048;
    bool FOpened = false;
    bool FStarted = false;
    std::atomic<bool> FWorkingLate{false};
    std::string FInputProp;
    std::string FOutputProp;
};

// A device stage: one call on it reaches its whole segment of the chain. Opened, Started, Paused,
// Restarted, Reset and Looped walk forward from the segment's start; Stopped and Closed reach a
// downstream device first, then walk the segment.
class TMMCustomSoundComponent : public TMMDSPComponent {
public:
    using TMMDSPComponent::TMMDSPComponent;

    bool IsSoundComponent() const override { return true; }
    bool DeviceUpstream() const { return FDeviceUpstream; }

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void Reset() override;
    void Looped() override;

    // Device properties, implemented by each device.
    virtual void SetNumBuffers(int value) = 0;
    virtual int GetNumBuffers() const = 0;
    virtual void SetDeviceID(TMMDeviceId value) = 0;
    virtual TMMDeviceId GetDeviceID() const = 0;
    virtual void SetProductName(const std::string& value) = 0;
    virtual std::string GetProductName() const = 0;
    virtual void SetCallBackMode(TMMCBMode value) = 0;
    virtual TMMCBMode GetCallBackMode() const = 0;

protected:
    bool FDeviceUpstream = false;

private:
    enum class Walk { Opened, Started, Paused, Restarted, Reset, Looped, Closed, Stopped };
    TMMDSPComponent* SegmentStart(bool markUpstream);
    void WalkForward(Walk op);
    void WalkBackward(Walk op);
    static void Apply(TMMDSPComponent* stage, Walk op);
    void ApplyBase(Walk op);
};

} // namespace tunefold
