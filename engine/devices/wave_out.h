// The wave output device: the last stage of the playback chain and the clock that drives it. It
// keeps a ring of buffers queued on the sound device, refills each from its Input as soon as it
// has been played, pushes every played buffer on to its Output, and reports the played position.
//
// Device notifications reach the component in one of three ways (CallBackMode): as messages to a
// hidden window on the GUI thread, directly inside the device's notification, or on a worker
// thread of its own (TMMWaveOutThread). In every mode one completion is handled at a time, and a
// Stop that meets a running completion is finished later on the GUI thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/devices/wave_device_core.h"
#include "engine/framework/allocator.h"
#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"
#include "engine/framework/threads.h"
#include "platform/message_loop.h"
#include "platform/sync_event.h"
#include "platform/wave_device.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMWaveOutError, EMMError);

// The device's state: a set of these flags in one byte.
enum TMMWaveOutStates : std::uint8_t { wosClosed = 1, wosOpened = 2, wosPlaying = 4, wosPaused = 8 };

class TMMWaveOutState {
public:
    constexpr TMMWaveOutState(std::uint8_t bits = wosClosed) : bits_(bits) {}
    constexpr bool Contains(TMMWaveOutStates flag) const { return (bits_ & flag) != 0; }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const TMMWaveOutState& other) const = default;

private:
    std::uint8_t bits_;
};

// Seams for what the window system does for this component: the hourglass cursor of a large
// prefill, and the application's display of an exception that nothing caught (the worker thread
// and the notification routes end there). Message boxes go through platform::Dialogs().
struct WaveOutUi {
    std::function<void(bool busy)> hourGlass;
    std::function<void(const std::exception& error)> showException;
};
WaveOutUi& WaveOutUserInterface();

// The product name of a device; empty when `deviceId` is not in -1 .. count-1 or the query fails.
std::string WaveOutDeviceName(TMMDeviceId deviceId);

class TMMWaveOut;

// The thread that handles buffer completions in cmThread: its queue receives the done messages.
class TMMWaveOutThread : public TMMDSPThread {
public:
    struct Link {
        platform::SyncEvent ready{platform::SyncEvent::Reset::Auto};
        platform::SyncEvent stop{platform::SyncEvent::Reset::Auto};
        platform::SyncEvent flush{platform::SyncEvent::Reset::Manual};
        platform::SyncEvent flushed{platform::SyncEvent::Reset::Auto}; // the flush has been done
        platform::ThreadMessageQueue queue;
        std::atomic<int> pending{0}; // done messages posted and not yet taken
        std::atomic<bool> dead{false};
        std::atomic<std::thread::id> id{};
    };
    TMMWaveOutThread(TMMWaveOut* owner, std::shared_ptr<Link> link);

protected:
    void Execute() override;

private:
    TMMWaveOut* waveOut_;
    std::shared_ptr<Link> link_;
};

class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
public:
    using TMMCustomSoundComponent::TMMCustomSoundComponent;

    virtual std::int64_t Position() = 0;
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual void Flush() = 0;
    virtual void Start() = 0;
    virtual void Pause() = 0;
    virtual void Restart() = 0;
    virtual void Stop() = 0;
};

class TMMWaveOut : public TMMWaveDeviceCore<TMMCustomWaveOutComponent, platform::WaveOutDevices,
                                            platform::WAVEOUTCAPS, TMMWaveOutThread> {
public:
    explicit TMMWaveOut(TComponent* owner = nullptr);
    // On a given wave output service rather than the process's (tools, and tests of a backend).
    TMMWaveOut(TComponent* owner, platform::WaveOutDevices& devices);
    ~TMMWaveOut() override;

    // ---- published properties (the device's own in TMMWaveDeviceCore) ----
    bool Looping() const { return FLooping; }
    void SetLooping(bool value) { FLooping = value; }
    std::uint16_t LoopCount() const { return FLoopCount; }
    void SetLoopCount(std::uint16_t value) { FLoopCount = value; }
    bool ShowHourGlass() const { return FShowHourGlass; }
    void SetShowHourGlass(bool value) { FShowHourGlass = value; }
    bool Mapped() const { return FMapped; }
    void SetMapped(bool value) { FMapped = value; }

    TNotifyEvent OnError;
    TNotifyEvent OnOpen;
    TNotifyEvent OnStart;
    TNotifyEvent OnPause;
    TNotifyEvent OnRestart;
    TNotifyEvent OnStop;
    TNotifyEvent OnClose;
    TNotifyEvent OnLooping;
    TMMBufferEvent OnBufferFilled;

    // ---- public, unpublished ----
    TMMWaveOutState State() const { return TMMWaveOutState(FState.load()); }

    // ---- the device operations ----
    std::int64_t Position() override;
    void Open() override;
    void Close() override;
    void Flush() override;
    void Start() override;
    void Pause() override;
    void Restart() override;
    void Stop() override;
    void Error(const std::string& message) override;

    // ---- stage virtuals ----
    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override { Open(); }
    void Closed() override { Close(); }
    void Started() override { Start(); }
    void Paused() override { Pause(); }
    void Restarted() override { Restart(); }
    void Stopped() override { Stop(); }
    void BufferReady(PWaveHdr lpWaveHdr) override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

    // ---- inspection (tests, diagnostics) ----
    int BuffersInUse() const { return FBuffersInUse.load(); }
    bool StopPending() const { return FStopPending.load(); }
    bool CloseDeferred() const { return FCloseDeferred.load(); }

protected:
    TMMWaveOutThread* CreateWorkerThread(std::shared_ptr<TMMWaveOutThread::Link> link) override;
    platform::WaveOutDevices* DeviceService() override { return &FDevices; }

private:
    friend class TMMWaveOutThread;
    static void WaveOutProc(std::uintptr_t handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                            DWORD_PTR param2);
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);

    bool IsPlaying() const { return State().Contains(wosPlaying); }
    bool IsPaused() const { return State().Contains(wosPaused); }
    void MarkOnDevice(TMMBufferHeader* buffer, bool on) {
        for (std::size_t i = 0; i < FBuffers.size(); ++i) {
            if (FBuffers[i].load() == buffer) {
                FOnDevice[i].store(on);
                return;
            }
        }
    }

    void BufferDone(PWaveHdr lpWaveHdr);
    void FinishCompletion();
    // Drops the done messages still waiting on the window's or the thread's queue.
    void DiscardRoutedCompletions();
    std::int32_t LoadBuffer(TMMBufferHeader* buffer);
    void QueueBuffer(TMMBufferHeader* buffer);
    TMMBufferHeader* EnsureBuffer(int index);
    void ReleaseBuffers();
    DWORD DevicePosition();
    void ThreadFailed(const std::exception& error);

    // Late work: the stages right in front of this one that can work late do so while it plays
    // (from the start to the stop), as each buffer goes to the card (WOM_LATE), innermost first.
    bool InputCanWorkLate() const;
    void BeginLateWork();
    void EndLateWork();
    void WorkLate(PWaveHdr lpWaveHdr);

    platform::WaveOutDevices& FDevices;
    bool FLooping = false;
    std::uint16_t FLoopCount = 0;
    bool FShowHourGlass = true;
    bool FMapped = false;

    std::atomic<platform::HWAVEOUT> FHandle{0};
    std::unique_ptr<platform::MessageWindow> FWindow;
    // The buffer was written to the device since the last stop (its done flag is to come).
    std::array<std::atomic<bool>, MaxBuffers> FOnDevice{};
    std::atomic<int> FRingIndex{0};
    std::atomic<int> FBuffersInUse{0};
    std::atomic<bool> FMoreBuffers{false};
    std::atomic<bool> FStopping{false};
    std::atomic<bool> FResetting{false};
    // Set for the whole of a flush, until the rebuilt ring may play: a done message that reaches
    // a handler meanwhile belongs to the ring being dropped.
    std::atomic<bool> FFlushing{false};
    std::atomic<bool> FStopPending{false};
    std::atomic<bool> FCloseDeferred{false};
    std::atomic<bool> FClosing{false};
    std::atomic<bool> FEnded{false};
    std::atomic<std::int32_t> FLoopsLeft{0};
    std::atomic<std::int64_t> FLoopStart{0};
    std::atomic<std::int64_t> FSamplesBefore{0};
    std::atomic<DWORD> FLastDevicePos{0};
    std::atomic<std::int64_t> FWrapCount{0};
    std::atomic<std::int64_t> FWrapSize{0};

    bool FOpenedLate = false; // the device was opened with WAVE_LATE_WORK
    // The stages working late, outermost first; read where the card is fed, under the lock.
    std::mutex FLateLock;
    std::vector<TMMDSPComponent*> FLateRun;
};

} // namespace tunefold
