// The wave input device: the head of a recording chain. It keeps a ring of buffers queued on the
// sound device's input and, each time the device returns a filled one, pushes it on to its Output
// and queues it again. The device notifications reach it as the output's do (CallBackMode): on the
// GUI thread through a hidden window, directly inside the notification, or on a worker thread of its
// own (TMMWaveInThread). One returned buffer is handled at a time; a Stop that meets a running
// handler is finished later on the GUI thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/devices/wave_device_core.h"
#include "engine/devices/wave_out.h"
#include "engine/framework/allocator.h"
#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"
#include "engine/framework/threads.h"
#include "platform/message_loop.h"
#include "platform/sync_event.h"
#include "platform/wave_device.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMWaveInError, EMMError);

// The input device's state: a set of these flags in one byte.
enum TMMWaveInStates : std::uint8_t { wisClosed = 1, wisOpened = 2, wisStarted = 4, wisPaused = 8 };

// True when a wave input and a wave output can be open at the same time on `deviceId` with
// `format` (none: 16-bit stereo PCM at 22050 Hz). Opens nothing for a device number outside
// -1 .. output devices - 1.
bool DuplexCapable(TMMDeviceId deviceId, const WAVEFORMATEX* format = nullptr);

class TMMCustomWaveIn;

// The thread that handles returned buffers in cmThread: its queue receives the data messages.
class TMMWaveInThread : public TMMDSPThread {
public:
    struct Link {
        platform::SyncEvent ready{platform::SyncEvent::Reset::Auto};
        platform::SyncEvent stop{platform::SyncEvent::Reset::Auto};
        platform::ThreadMessageQueue queue;
        std::atomic<int> pending{0}; // data messages posted and not yet taken
        std::atomic<bool> dead{false};
        std::atomic<std::thread::id> id{};
    };
    TMMWaveInThread(TMMCustomWaveIn* owner, std::shared_ptr<Link> link);

protected:
    void Execute() override;

private:
    TMMCustomWaveIn* waveIn_;
    std::shared_ptr<Link> link_;
};

class TMMCustomWaveIn : public TMMWaveDeviceCore<TMMCustomSoundComponent, platform::WaveInDevices,
                                                 platform::WAVEINCAPS, TMMWaveInThread> {
public:
    explicit TMMCustomWaveIn(TComponent* owner = nullptr);
    ~TMMCustomWaveIn() override;

    // ---- published properties (TMMWaveIn publishes them; the device's own in TMMWaveDeviceCore) ----
    TMMMode Mode() const { return FMode; }
    void SetMode(TMMMode value);
    TMMBits BitLength() const { return FBitLength; }
    void SetBitLength(TMMBits value);
    int SampleRate() const { return FSampleRate; }
    void SetSampleRate(int value);
    std::int32_t MaxRecordTime() const { return FMaxRecordTime; }
    void SetMaxRecordTime(std::int32_t value) { FMaxRecordTime = value; }

    TNotifyEvent OnError;
    TNotifyEvent OnOpen;
    TNotifyEvent OnStart;
    TNotifyEvent OnPause;
    TNotifyEvent OnRestart;
    TNotifyEvent OnStop;
    TNotifyEvent OnClose;

    // ---- public, unpublished ----
    std::uint8_t State() const { return FState.load(); }
    std::int64_t RecordedBytes() const { return FRecordedBytes.load(); }
    std::int64_t MaxRecordBytes() const { return FMaxRecordBytes.load(); }

    // ---- the device operations, in slot order ----
    virtual void BindDriverFunctions() = 0;
    void Error(const std::string& message) override;
    virtual void Open();
    virtual void Close();
    virtual void Start();
    virtual void Pause();
    virtual void Restart();
    virtual void Stop();

    // ---- stage virtuals: called by the chain, they run the device operation of that meaning ----
    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override { Open(); }
    void Closed() override { Close(); }
    void Started() override { Start(); }
    void Paused() override { Pause(); }
    void Restarted() override { Restart(); }
    void Stopped() override { Stop(); }
    void BufferReady(PWaveHdr lpWaveHdr) override;
    bool PublishesInput() const override { return false; }

    // ---- inspection (tests, diagnostics) ----
    bool StopPending() const { return FStopPending.load(); }
    bool CloseDeferred() const { return FCloseDeferred.load(); }
    std::int64_t WrapCount() const { return FWrapCount.load(); }
    std::int64_t WrapSize() const { return FWrapSize.load(); }

protected:
    // What BindDriverFunctions binds: every device call goes through it.
    platform::WaveInDevices* FDriver = nullptr;
    // Asks the bound driver for its devices and chooses device 0; a final class calls it once it
    // has bound its driver.
    void InitDevices();
    TMMWaveInThread* CreateWorkerThread(std::shared_ptr<TMMWaveInThread::Link> link) override;
    platform::WaveInDevices* DeviceService() override { return FDriver; }

private:
    friend class TMMWaveInThread;
    static void WaveInProc(std::uintptr_t handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                           DWORD_PTR param2);
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);

    bool IsStartedState() const { return (FState.load() & wisStarted) != 0; }
    bool IsPaused() const { return (FState.load() & wisPaused) != 0; }
    void BuildFormat();
    bool CanRecordFormat(TMMDeviceId device, const WAVEFORMATEX* format);

    // The steps the operations end in.
    void OpenChain();
    void StartedStep();
    void PausedStep();
    void RestartedStep();
    void ClosedStep();

    void BufferDone(PWaveHdr lpWaveHdr);
    void FinishCompletion();
    void QueueBuffer(TMMBufferHeader* buffer);
    // Pushes the buffers the device returned while it was being stopped, each once.
    void PassOnLate();
    void ForgetLate();
    // Counts, cuts to the recording limit and pushes a buffer; true when it reached the limit.
    bool Deliver(PWaveHdr lpWaveHdr);
    void TrackPosition();
    DWORD DevicePosition();
    void ReleaseBuffers();
    void ThreadFailed(const std::exception& error);

    TMMMode FMode = mMono;
    TMMBits FBitLength = b8Bit;
    int FSampleRate = 11025;
    std::int32_t FMaxRecordTime = -1;

    std::atomic<platform::HWAVEIN> FHandle{0};
    std::unique_ptr<platform::MessageWindow> FWindow;
    std::atomic<int> FRingIndex{0};
    std::atomic<bool> FStopping{false};
    std::atomic<bool> FResetting{false};
    std::atomic<bool> FStopPending{false};
    std::atomic<bool> FCloseDeferred{false};
    std::atomic<bool> FClosing{false};
    std::atomic<bool> FEnded{false};
    // Buffers the device returned with data while it was being stopped (not reset): they are
    // handed on once, in order, by whoever completes the stop.
    std::mutex FLateMutex;
    std::vector<TMMBufferHeader*> FLate;
    std::atomic<std::int64_t> FRecordedBytes{0};
    std::atomic<std::int64_t> FMaxRecordBytes{0};
    std::atomic<bool> FLimitReached{false};
    std::atomic<DWORD> FLastDevicePos{0};
    std::atomic<std::int64_t> FWrapCount{0};
    std::atomic<std::int64_t> FWrapSize{0};
};

class TMMWaveIn : public TMMCustomWaveIn {
public:
    explicit TMMWaveIn(TComponent* owner = nullptr);
    // On a given wave input service rather than the process's (tools, and tests of a backend).
    TMMWaveIn(TComponent* owner, platform::WaveInDevices& devices);

    void BindDriverFunctions() override;

private:
    platform::WaveInDevices* FBound;
};

} // namespace tunefold
