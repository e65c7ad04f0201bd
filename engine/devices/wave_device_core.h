// What the wave output and the wave input components keep alike: the device properties (number,
// name, buffers, callback mode, thread priority) and their checks, the state flags and the waits on
// them, the buffer ring's memory, error texts, and the worker thread of cmThread. Each component
// derives from it over its own stage base and adds its direction's operations.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/framework/allocator.h"
#include "engine/framework/dsp_component.h"
#include "engine/framework/threads.h"
#include "platform/dialogs.h"
#include "platform/message_loop.h"
#include "platform/wave_device.h"

namespace tunefold {

constexpr int MaxBuffers = 500;

// Whether the system runs device notifications where the chain may be driven from them. Nothing
// here calls them at interrupt time, but the mode is refused by default as it always was outside
// the one system that offered it; tests and tools that want the direct route switch it on.
void SetDirectCallbacksAllowed(bool allowed);
bool DirectCallbacksAllowed();

// The texts that differ between the two directions.
struct TMMWaveDeviceNames {
    const char* component;    // the caption of the callback-mode message box
    const char* threadPrefix; // the first line of "Could not create thread"
    const char* noDevice;     // the product name when there is no device
};

// `Base` is the stage base of the direction, `Devices` its device service, `Caps` its device
// capabilities and `Thread` its cmThread worker (with a `Link` the component shares with it).
template <class Base, class Devices, class Caps, class Thread>
class TMMWaveDeviceCore : public Base {
public:
    TMMWaveDeviceCore(TComponent* owner, const TMMWaveDeviceNames& names) : Base(owner), FNames(names) {
        for (auto& b : FBuffers) {
            b.store(nullptr);
        }
        FProductName = names.noDevice;
    }

    // ---- published properties ----
    int NumBuffers() const { return GetNumBuffers(); }
    void SetNumBuffers(int value) override {
        if (value <= 1) {
            return;
        }
        value = std::min(value, MaxBuffers);
        if (value == FNumBuffers) {
            return;
        }
        CheckChangeWhileOpen();
        FNumBuffers = value;
    }
    int GetNumBuffers() const override { return FNumBuffers; }
    void SetBufferSize(int value) override {
        value = std::max(value, 32);
        if (value == this->FBufferSize) {
            return;
        }
        CheckChangeWhileOpen();
        // Blocks of the old size would only be handed out for smaller requests: give them back.
        FAllocator.FreeAllBlocks();
        Base::SetBufferSize(value);
    }
    int GetBufferSize() const override { return Base::GetBufferSize(); }
    TMMDeviceId DeviceID() const { return GetDeviceID(); }
    void SetDeviceID(TMMDeviceId value) override {
        CheckChangeWhileOpen();
        ChooseDevice(value);
    }
    TMMDeviceId GetDeviceID() const override { return FDeviceID; }
    std::string ProductName() const { return GetProductName(); }
    // The name follows the device; it cannot be set.
    void SetProductName(const std::string&) override {}
    std::string GetProductName() const override { return FProductName; }
    TMMCBMode CallBackMode() const { return GetCallBackMode(); }
    void SetCallBackMode(TMMCBMode value) override {
        CheckChangeWhileOpen();
        if (value == cmCallback && !DirectCallbacksAllowed()) {
            platform::Dialogs().MessageBox(std::string("\"CallBacks\" are called at interrupt time !") +
                                               "\n\r" + "This is currently only supported under Windows 95",
                                           FNames.component, platform::MB_OK);
            return;
        }
        FCallBackMode = value;
    }
    TMMCBMode GetCallBackMode() const override { return FCallBackMode; }
    TMMTimeFormats TimeFormat() const { return FTimeFormat; }
    void SetTimeFormat(TMMTimeFormats value) { FTimeFormat = value; }
    TThreadPriority Priority() const { return FPriority; }
    void SetPriority(TThreadPriority value) {
        FPriority = value;
        std::lock_guard lock(FLock);
        if (FThreadAlive.load() && FThread != nullptr) {
            FThread->SetPriority(value);
        }
    }

    // ---- public, unpublished ----
    int NumDevs() const { return FNumDevs; }
    DWORD DriverVersion() const { return FDriverVersion; }
    MMRESULT LastResult() const { return FLastResult.load(); }

    virtual void Error(const std::string& message) = 0;

    // ---- inspection (tests, diagnostics) ----
    int QueuedBuffers() const { return FQueued.load(); }
    int InDoneCount() const { return FInDone.load(); }
    // No completion is being handled and none is waiting for the window or the worker thread.
    bool CompletionsIdle() const { return FInDone.load() == 0 && RoutedPending() <= 0; }

protected:
    using Link = typename Thread::Link;
    static constexpr std::uint8_t kStateOpened = 2; // the "opened" flag of both directions

    // Seams for failures the system rarely gives: a refused buffer allocation, a thread that
    // cannot be made.
    virtual void* AllocateBuffer(std::size_t bytes) { return FAllocator.AllocateFit(GHND, bytes); }
    virtual Thread* CreateWorkerThread(std::shared_ptr<Link> link) = 0;
    // The device service calls go to; none for an input whose driver is not bound yet.
    virtual Devices* DeviceService() = 0;

    bool IsOpen() const { return (FState.load() & kStateOpened) != 0; }
    void AddState(std::uint8_t flags) {
        FState.fetch_or(flags);
        Changed();
    }
    void RemoveState(std::uint8_t flags) {
        FState.fetch_and(static_cast<std::uint8_t>(~flags));
        Changed();
    }
    void SetState(std::uint8_t bits) {
        FState.store(bits);
        Changed();
    }
    // Wakes a WaitWhile after a change to what it may be waiting for (the state, the queued and
    // in-completion counts, the reset flag). Sequentially consistent with the waiter's count:
    // either the waiter sees the change when it looks at its condition, or this side sees the
    // waiter and wakes it.
    void Changed() {
        if (FWaiters.load() > 0) {
            { std::lock_guard lock(FWaitMutex); }
            FWaitChanged.notify_all();
        }
    }
    // Waits while `condition` holds: the bound is the one of `steps` checks `stepMs` apart; the
    // wait ends as soon as the condition turns false.
    void WaitWhile(const std::function<bool()>& condition, int steps, int stepMs) {
        std::unique_lock lock(FWaitMutex);
        FWaiters.fetch_add(1);
        FWaitChanged.wait_for(lock, std::chrono::milliseconds(std::int64_t{steps} * stepMs),
                              [&condition] { return !condition(); });
        FWaiters.fetch_sub(1);
    }
    void Fire(const TNotifyEvent& event) {
        if (event) {
            event(this);
        }
    }
    // Raises "<prefix>" LF CR "<device text>" when `result` is a failure.
    void Check(MMRESULT result, const char* prefix) {
        FLastResult.store(result);
        if (result != MMSYSERR_NOERROR) {
            Error(std::string(prefix) + "\n\r" + ErrorText(result));
        }
    }
    std::string ErrorText(MMRESULT result) {
        std::string text;
        Devices* devices = DeviceService();
        if (devices == nullptr || devices->GetErrorText(result, text) != MMSYSERR_NOERROR || text.empty()) {
            text = "Specified error number is out of range (unknown error)";
        }
        if (text.size() > 255) {
            text.resize(255);
        }
        return text;
    }
    void CheckChangeWhileOpen() {
        if (IsOpen()) {
            Error("Change to property while device was open");
        }
    }
    void ChooseDevice(TMMDeviceId value) {
        FProductName = FNames.noDevice;
        FDriverVersion = 0;
        Devices* devices = DeviceService();
        if (devices != nullptr && FNumDevs > 0 && value >= -1 && value < FNumDevs) {
            Caps caps;
            const MMRESULT result = devices->GetDevCaps(value, caps);
            FLastResult.store(result);
            if (result == MMSYSERR_NOERROR) {
                FProductName = caps.szPname;
                FDriverVersion = caps.vDriverVersion;
            }
        }
        FDeviceID = (value < -1 || value >= FNumDevs) ? -2 : value;
    }
    // Notifications routed to the window or the worker thread and not yet taken from there.
    int RoutedPending() const {
        // A thread that died takes nothing from its queue any more.
        const int posted = (FLink != nullptr && !FLink->dead.load()) ? FLink->pending.load() : 0;
        return posted + FWindowPending.load();
    }
    void StartThread() {
        {
            std::lock_guard lock(FLock);
            FThreadAlive.store(true);
        }
        FLink = std::make_shared<Link>();
        FThread = CreateWorkerThread(FLink);
        if (FThread == nullptr) {
            FThreadAlive.store(false);
            Error(std::string(FNames.threadPrefix) + "\n\r" + "Could not create thread");
        }
        FThread->SetFreeOnTerminate(true);
        FThread->SetPriority(FPriority);
        FThread->Resume();
        if (!FLink->ready.Wait(5000)) {
            Error(std::string(FNames.threadPrefix) + "\n\r" + "Could not create thread");
        }
    }
    void StopThread() {
        if (FThreadAlive.load() && FLink != nullptr && !FLink->dead.load()) {
            FLink->stop.Set();
            FLink->queue.Post(platform::WM_NULL);
            FLink->ready.Wait(5000);
        }
        FThreadAlive.store(false);
        FThread = nullptr; // it frees itself
        if (FLink != nullptr) {
            FLink->pending.store(0); // what was left in its queue is gone with it
        }
    }
    // Gives every buffer of the ring back to the allocator.
    void ReleaseRing() {
        for (auto& slot : FBuffers) {
            TMMBufferHeader* buffer = slot.load();
            if (buffer == nullptr) {
                continue;
            }
            void* block = buffer;
            FAllocator.ReleaseBlock(block);
            slot.store(nullptr);
        }
    }

    const TMMWaveDeviceNames FNames;
    int FNumDevs = 0;
    int FNumBuffers = 10;
    TMMDeviceId FDeviceID = 0;
    std::string FProductName;
    DWORD FDriverVersion = 0;
    TMMCBMode FCallBackMode = cmWindow;
    TMMTimeFormats FTimeFormat = tfByte;
    TThreadPriority FPriority = tpHigher;

    std::atomic<std::uint8_t> FState{1}; // closed
    std::atomic<MMRESULT> FLastResult{MMSYSERR_NOERROR};
    TMMAllocator FAllocator;
    std::array<std::atomic<TMMBufferHeader*>, MaxBuffers> FBuffers{};
    std::atomic<int> FQueued{0};
    std::atomic<int> FInDone{0};
    std::atomic<int> FWindowPending{0}; // notifications posted to the hidden window, not yet taken

    std::shared_ptr<Link> FLink;
    Thread* FThread = nullptr;
    std::atomic<bool> FThreadAlive{false};
    std::recursive_mutex FLock;

private:
    std::mutex FWaitMutex;
    std::condition_variable FWaitChanged;
    std::atomic<int> FWaiters{0};
};

} // namespace tunefold
