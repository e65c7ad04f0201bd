#include "engine/devices/wave_out.h"

#include <chrono>
#include <thread>

#include "platform/dialogs.h"
#include "platform/wave_header.h"

namespace tunefold {

namespace {

constexpr const char* kLfCr = "\n\r";
// The private message that ends a stream: the first application message number plus one.
constexpr UINT MM_WOM_STOP = platform::WM_USER + 1;
constexpr const char* kNoDevice = "No wave audio playing device found";
// How long a stop waits, for the whole ring, for done flags a device sets after returning buffers.
constexpr std::chrono::milliseconds kDoneFlagGrace{65};

std::atomic<bool> directCallbacksAllowed{false};

// Bytes to samples, rounded to nearest with halves up, without overflowing a 32-bit count.
DWORD BytesToSamples64(const WAVEFORMATEX& format, DWORD bytes) {
    if (format.nAvgBytesPerSec == 0) {
        return 0;
    }
    const std::uint64_t num = std::uint64_t{bytes} * format.nSamplesPerSec * 2 + format.nAvgBytesPerSec;
    return static_cast<DWORD>(num / (std::uint64_t{format.nAvgBytesPerSec} * 2));
}

} // namespace

WaveOutUi& WaveOutUserInterface() {
    static WaveOutUi ui{
        [](bool) {},
        [](const std::exception& error) { std::fprintf(stderr, "%s\n", error.what()); },
    };
    return ui;
}

void SetDirectCallbacksAllowed(bool allowed) {
    directCallbacksAllowed.store(allowed);
}

bool DirectCallbacksAllowed() {
    return directCallbacksAllowed.load();
}

std::string WaveOutDeviceName(TMMDeviceId deviceId) {
    auto& devices = platform::WaveOut();
    const int count = static_cast<int>(devices.GetNumDevs());
    if (deviceId < -1 || deviceId >= count) {
        return {};
    }
    platform::WAVEOUTCAPS caps;
    if (devices.GetDevCaps(deviceId, caps) != MMSYSERR_NOERROR) {
        return {};
    }
    return caps.szPname;
}

// ---- the worker thread ----

TMMWaveOutThread::TMMWaveOutThread(TMMWaveOut* owner, std::shared_ptr<Link> link)
    : TMMDSPThread(owner), waveOut_(owner), link_(std::move(link)) {}

void TMMWaveOutThread::Execute() {
    // The link outlives the component if need be: the last thing this thread touches is its ready
    // event, which the component may be waiting on while it is being destroyed.
    std::shared_ptr<Link> link = link_;
    link->id.store(std::this_thread::get_id());
    ApplyPriority();
    link->ready.Set();
    while (!Terminated()) {
        if (link->stop.Wait(0)) {
            break;
        }
        if (link->flush.IsSet()) {
            platform::ThreadMessageQueue::Message m{};
            while (link->queue.Peek(m)) {
                if (m.msg == platform::WOM_DONE) {
                    link->pending.fetch_sub(1);
                }
            }
            link->flush.ResetEvent();
            link->flushed.Set();
            continue;
        }
        platform::ThreadMessageQueue::Message m{};
        if (!link->queue.Wait(m, -1)) {
            continue;
        }
        if (m.msg != platform::WOM_DONE) {
            continue; // a wake-up for the events
        }
        // Taken off the count first: the completion decides whether the stream has ended.
        link->pending.fetch_sub(1);
        try {
            if (m.wParam == waveOut_->FHandle.load() && !waveOut_->FStopping.load()) {
                waveOut_->BufferDone(reinterpret_cast<PWaveHdr>(m.lParam));
            }
        } catch (const std::exception& error) {
            link->dead.store(true);
            waveOut_->ThreadFailed(error);
            return;
        }
    }
    link->ready.Set();
}

// ---- creation ----

TMMWaveOut::TMMWaveOut(TComponent* owner) : TMMWaveOut(owner, platform::WaveOut()) {}

TMMWaveOut::TMMWaveOut(TComponent* owner, platform::WaveOutDevices& devices)
    : TMMWaveDeviceCore(owner, {"TMMWaveOut", "WaveOut:", kNoDevice}), FDevices(devices) {
    FNumDevs = static_cast<int>(FDevices.GetNumDevs());
    ChooseDevice(0);
}

TMMWaveOut::~TMMWaveOut() {
    Destroying();
    if (IsOpen()) {
        Close();
    }
    if (IsOpen() && FCloseDeferred.load()) {
        // A completion running on another thread holds the stop back; the device must not
        // outlive this object, so wait for the completion and close again.
        WaitWhile([this] { return FInDone.load() > 0; }, 500, 10);
        Close();
    }
    if (FThreadAlive.load()) {
        StopThread();
    }
    FWindow.reset();
    ReleaseBuffers();
}

// ---- helpers ----

void TMMWaveOut::Error(const std::string& message) {
    Fire(OnError);
    throw EMMWaveOutError(message);
}

// ---- properties ----

void TMMWaveOut::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format != PWaveFormat() && IsOpen()) {
        Close();
    }
    TMMCustomWaveOutComponent::SetPWaveFormat(format);
}

// ---- the stage's buffers ----

void TMMWaveOut::BufferReady(PWaveHdr) {
    // This stage plays buffers; it never accepts pushed ones.
}

void TMMWaveOut::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    TMMBufferHeader* buffer = AsBufferHeader(lpWaveHdr);
    lpWaveHdr->dwBufferLength = static_cast<DWORD>(GetBufferSize());
    lpWaveHdr->dwBytesRecorded = 0;
    buffer->LoopEnabled = FLooping ? -1 : 0;
    if (FLooping) {
        buffer->LoopCount = FLoopCount;
        buffer->LoopsLeft = FLoopsLeft.load();
        buffer->LoopRestart = 0;
    }
    TMMCustomWaveOutComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    // The device plays exactly what was delivered.
    lpWaveHdr->dwBufferLength = lpWaveHdr->dwBytesRecorded;
    if (FLooping) {
        FLoopsLeft.store(buffer->LoopsLeft);
    }
}

std::int32_t TMMWaveOut::LoadBuffer(TMMBufferHeader* buffer) {
    bool more = false;
    BufferLoad(AsWaveHdr(buffer), more);
    buffer->LastOfStream = more ? 0 : 1;
    const auto bytes = static_cast<std::int32_t>(buffer->wh.dwBytesRecorded);
    FMoreBuffers.store(more && bytes > 0);
    return bytes;
}

void TMMWaveOut::QueueBuffer(TMMBufferHeader* buffer) {
    if (OnBufferFilled) {
        OnBufferFilled(this, AsWaveHdr(buffer));
    }
    MMRESULT result = MMSYSERR_NOERROR;
    {
        // Stopping is looked at and the buffer written under the lock Stop sets it under: a
        // buffer is either on the device before Stop resets it, or not written at all.
        std::lock_guard lock(FLock);
        if (FStopping.load()) {
            return;
        }
        platform::ChangeHeaderFlags(buffer->wh, WHDR_DONE, WHDR_PREPARED);
        buffer->SavedBytes = buffer->wh.dwBytesRecorded;
        // Counted before the write: a fast device may return the buffer before Write comes
        // back, and its notification must never see a count that is one short.
        FQueued.fetch_add(1);
        result = FDevices.Write(FHandle.load(), AsWaveHdr(buffer));
        if (result != MMSYSERR_NOERROR) {
            FQueued.fetch_sub(1);
            Changed();
        } else {
            MarkOnDevice(buffer, true);
        }
    }
    Check(result, "WaveOutWrite:");
    buffer->wh.dwBytesRecorded = buffer->SavedBytes;
}

TMMBufferHeader* TMMWaveOut::EnsureBuffer(int index) {
    TMMBufferHeader* buffer = FBuffers[static_cast<std::size_t>(index)].load();
    if (buffer == nullptr) {
        const auto size = static_cast<std::uint32_t>(FBufferSize);
        void* block = AllocateBuffer(BufferHeaderBytes + size);
        if (block == nullptr) {
            Error("Unable to allocate memory for wave header");
        }
        buffer = InitBufferHeader(block, size);
        FBuffers[static_cast<std::size_t>(index)].store(buffer);
    }
    if (!platform::HeaderHas(buffer->wh, WHDR_PREPARED)) {
        Check(FDevices.PrepareHeader(FHandle.load(), AsWaveHdr(buffer)), "WaveOutPrepareHeader:");
    }
    return buffer;
}

void TMMWaveOut::ReleaseBuffers() {
    for (auto& on : FOnDevice) {
        on.store(false);
    }
    ReleaseRing();
}

// ---- late work ----

bool TMMWaveOut::InputCanWorkLate() const {
    return Input() != nullptr && Input()->CanWorkLate();
}

void TMMWaveOut::BeginLateWork() {
    EndLateWork();
    if (!FOpenedLate) {
        return;
    }
    std::lock_guard lock(FLateLock);
    for (TMMDSPComponent* stage = Input(); stage != nullptr && stage->CanWorkLate() && FLateRun.size() < 8;
         stage = stage->Input()) {
        stage->SetWorkingLate(true);
        FLateRun.push_back(stage);
    }
}

void TMMWaveOut::EndLateWork() {
    std::lock_guard lock(FLateLock);
    for (TMMDSPComponent* stage : FLateRun) {
        stage->SetWorkingLate(false);
    }
    FLateRun.clear();
}

void TMMWaveOut::WorkLate(PWaveHdr lpWaveHdr) {
    if (lpWaveHdr == nullptr) {
        return;
    }
    const bool last = AsBufferHeader(lpWaveHdr)->LastOfStream != 0;
    std::lock_guard lock(FLateLock);
    // In the order a pull would have done the work: the stage farthest upstream first.
    for (auto stage = FLateRun.rbegin(); stage != FLateRun.rend(); ++stage) {
        (*stage)->ProcessLate(lpWaveHdr->lpData, lpWaveHdr->dwBufferLength, last);
    }
}

// ---- position ----

DWORD TMMWaveOut::DevicePosition() {
    const platform::HWAVEOUT handle = FHandle.load();
    const WAVEFORMATEX* format = PWaveFormat();
    if (handle == 0 || format == nullptr) {
        return 0;
    }
    platform::MMTIME time;
    time.wType = platform::TIME_SAMPLES;
    MMRESULT result = FDevices.GetPosition(handle, time);
    if (result == MMSYSERR_NOERROR && time.wType == platform::TIME_SAMPLES) {
        return time.value;
    }
    time.wType = platform::TIME_BYTES;
    Check(FDevices.GetPosition(handle, time), "WaveOutGetPosition:");
    return BytesToSamples64(*format, time.value);
}

std::int64_t TMMWaveOut::Position() {
    const WAVEFORMATEX* format = PWaveFormat();
    if (!IsOpen() || format == nullptr || FCloseDeferred.load()) {
        return 0;
    }
    const std::int64_t samples = static_cast<std::int64_t>(DevicePosition()) + FSamplesBefore.load() +
                                 FWrapCount.load() * FWrapSize.load() - FLoopStart.load();
    switch (FTimeFormat) {
    case tfMillisecond:
        return SamplesToMs64(*format, samples);
    case tfByte:
        return SamplesToBytes64(*format, samples);
    case tfSample:
        break;
    }
    return samples;
}

// ---- notifications ----

void TMMWaveOut::WaveOutProc(std::uintptr_t handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                             DWORD_PTR param2) {
    auto* self = reinterpret_cast<TMMWaveOut*>(instance);
    if (self == nullptr) {
        return;
    }
    switch (msg) {
    case platform::WOM_OPEN:
        self->SetState(wosOpened);
        return;
    case platform::WOM_CLOSE:
        self->SetState(wosClosed);
        return;
    case platform::WOM_DONE:
        break;
    case platform::WOM_LATE:
        self->WorkLate(reinterpret_cast<PWaveHdr>(param1));
        return;
    default:
        return;
    }
    // The device returns buffers in batches (a period's worth at once) and tells how many more
    // notifications follow this one right away. The worker thread is woken once per batch, at its
    // last notification, whatever route that one takes: woken per buffer it would run, and go back
    // to sleep, between two notifications of the same batch.
    const bool batchEnds = param2 == 0;
    struct WakeAtBatchEnd {
        TMMWaveOut* self;
        bool ends;
        ~WakeAtBatchEnd() {
            if (ends && self->FCallBackMode == cmThread && self->FLink != nullptr) {
                self->FLink->queue.Wake();
            }
        }
    } wakeAtEnd{self, batchEnds};
    const int left = self->FQueued.fetch_sub(1) - 1;
    if (self->FResetting.load()) {
        if (left <= 0) {
            self->FResetting.store(false);
        }
        self->Changed();
        return;
    }
    self->Changed();
    if (self->FStopping.load() || self->FFlushing.load()) {
        return;
    }
    switch (self->FCallBackMode) {
    case cmWindow:
        if (self->FWindow != nullptr) {
            self->FWindowPending.fetch_add(1);
            if (!self->FWindow->Post(platform::WOM_DONE, handle, static_cast<LPARAM>(param1))) {
                self->FWindowPending.fetch_sub(1);
            }
        }
        break;
    case cmThread:
        if (self->FLink != nullptr) {
            self->FLink->pending.fetch_add(1);
            self->FLink->queue.PostQuiet(platform::WOM_DONE, handle, static_cast<LPARAM>(param1));
        }
        break;
    case cmCallback:
        try {
            self->BufferDone(reinterpret_cast<PWaveHdr>(param1));
        } catch (const std::exception& error) {
            // Nothing above the device's notification can catch this: close and tell the user.
            self->Close();
            if (WaveOutUserInterface().showException) {
                WaveOutUserInterface().showException(error);
            }
        }
        break;
    }
}

LRESULT TMMWaveOut::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == platform::WOM_DONE) {
        // Counted on every route, so that a message for a closed device is not waited for.
        if (wParam == 0 || wParam != FHandle.load()) {
            FWindowPending.fetch_sub(1);
            return 0;
        }
    } else if (wParam == 0 || wParam != FHandle.load()) {
        return 0;
    }
    try {
        switch (msg) {
        case platform::WOM_OPEN:
            SetState(wosOpened);
            break;
        case platform::WOM_CLOSE:
            SetState(wosClosed);
            break;
        case platform::WOM_DONE:
            FWindowPending.fetch_sub(1);
            if (!FStopping.load()) {
                BufferDone(reinterpret_cast<PWaveHdr>(lParam));
            }
            break;
        case MM_WOM_STOP:
            Stop();
            break;
        default:
            break;
        }
    } catch (const std::exception& error) {
        Fire(OnError);
        Close();
        if (WaveOutUserInterface().showException) {
            WaveOutUserInterface().showException(error);
        }
    }
    return 0;
}

// ---- a buffer has been played ----

void TMMWaveOut::BufferDone(PWaveHdr) {
    // Counted before the flags are read: Stop and Flush set their flags before they look at the
    // count, so one of the two sides always sees the other.
    FInDone.fetch_add(1);
    if (!IsPlaying() || FResetting.load() || FStopping.load() || FFlushing.load()) {
        FinishCompletion();
        return;
    }
    try {
        const int inUse = FBuffersInUse.load();
        // Buffers come back in the order written: the finished one is the oldest queued. One
        // that is still queued has not come back: the message was left over from before a stop.
        const int index = FRingIndex.load();
        TMMBufferHeader* finished = inUse > 0 ? FBuffers[static_cast<std::size_t>(index)].load() : nullptr;
        if (finished == nullptr || platform::HeaderHas(finished->wh, WHDR_INQUEUE)) {
            FinishCompletion();
            return;
        }
        const int next = (index + 1) >= inUse ? 0 : index + 1;
        FRingIndex.store(next);
        TMMBufferHeader* playing = FBuffers[static_cast<std::size_t>(next)].load();
        finished->wh.dwBytesRecorded = finished->SavedBytes;
        finished->NextBuffer = playing;
        if (playing != nullptr) {
            playing->wh.dwBytesRecorded = playing->SavedBytes;
        }
        TMMCustomWaveOutComponent::BufferReady(AsWaveHdr(finished));

        const DWORD position = DevicePosition();
        const DWORD last = FLastDevicePos.load();
        if (last >= position && last - position >= 0xFFFF) {
            FWrapSize.store(static_cast<std::int64_t>((last & 0xFFF00000u) | 0x000FFFFFu));
            FWrapCount.fetch_add(1);
        }
        FLastDevicePos.store(position);

        // A flush in progress refills the ring itself from the new source position.
        if (FMoreBuffers.load() && !FStopPending.load() && !FResetting.load()) {
            if (FLooping && finished->LoopRestart != 0) {
                {
                    std::lock_guard lock(FLock);
                    FLoopStart.store(static_cast<std::int64_t>(position));
                    finished->LoopRestart = 0;
                }
                TMMCustomWaveOutComponent::Looped();
                Fire(OnLooping);
            }
            // A device may send the notification before it lets go of the buffer (sets its done
            // flag): the refill waits for the flag, at most 65000 x 2 ms.
            platform::WaitHeaderDone(finished->wh, std::chrono::milliseconds(65000 * 2));
            if (LoadBuffer(finished) <= 0 && !FStopPending.load()) {
                Error("Error filling wave buffer");
            }
            if (!FStopPending.load()) {
                QueueBuffer(finished);
            }
        }
    } catch (...) {
        Fire(OnError);
        FinishCompletion();
        throw;
    }
    FinishCompletion();
}

void TMMWaveOut::FinishCompletion() {
    const int left = FInDone.fetch_sub(1) - 1;
    Changed();
    if (left != 0 || FEnded.load()) {
        return;
    }
    // An empty ring with no refill under way is the end of the data. A reset in progress (Flush)
    // empties the ring too, but that is not an end; nor is a ring whose played buffers still wait
    // in the window's or the thread's queue to be handed on.
    if (FStopPending.load() ||
        (FQueued.load() == 0 && !FResetting.load() && !FFlushing.load() && RoutedPending() <= 0)) {
        FEnded.store(true);
        FStopping.store(true);
        const platform::HWAVEOUT handle = FHandle.load();
        const MMRESULT paused = FDevices.Pause(handle);
        // The end message goes out even when the pause failed, or the stream would never stop.
        if (FWindow != nullptr) {
            FWindow->Post(MM_WOM_STOP, handle, 0);
        }
        Check(paused, "WaveOutPause:");
    }
}

// ---- the worker thread ----

TMMWaveOutThread* TMMWaveOut::CreateWorkerThread(std::shared_ptr<TMMWaveOutThread::Link> link) {
    return new TMMWaveOutThread(this, std::move(link));
}

void TMMWaveOut::ThreadFailed(const std::exception& error) {
    {
        std::lock_guard lock(FLock);
        FThreadAlive.store(false);
    }
    if (IsOpen()) {
        FClosing.store(true);
        try {
            Stop();
        } catch (const std::exception&) {
            // already reported through OnError
        }
        const platform::HWAVEOUT handle = FHandle.exchange(0);
        if (handle != 0) {
            FDevices.Close(handle);
        }
        FClosing.store(false);
        Fire(OnClose);
    }
    if (WaveOutUserInterface().showException) {
        WaveOutUserInterface().showException(error);
    }
}

// ---- operations ----

void TMMWaveOut::Open() {
    if (FNumDevs == 0) {
        Error(kNoDevice);
    }
    if (FDeviceID == -2) {
        Error("Invalid DeviceID");
    }
    const WAVEFORMATEX* format = PWaveFormat();
    if (format == nullptr) {
        Error(std::string("WaveOutOpen:") + kLfCr + "Invalid wave format");
    }
    if (IsOpen()) {
        Close();
    }
    if (IsOpen() || FClosing.load()) {
        return;
    }
    try {
        FClosing.store(false);
        FResetting.store(false);
        FStopping.store(false);
        FEnded.store(false);
        const DWORD mapped = (FMapped && FDeviceID >= 0) ? platform::WAVE_MAPPED : 0;
        MMRESULT query =
            FDevices.Open(nullptr, FDeviceID, format, nullptr, 0, platform::WAVE_FORMAT_QUERY | mapped);
        FLastResult.store(query);
        if (query == WAVERR_BADFORMAT) {
            Error(std::string("WaveOutOpen:") + kLfCr + "The actual device can't play this format");
        }
        if (query != MMSYSERR_NOERROR) {
            // The device itself could not be reached (no card, no sound server): that is no format
            // question, so say what is missing and why.
            Error(std::string("WaveOutOpen:") + kLfCr + "No sound device: " + ErrorText(query));
        }
        if (FWindow == nullptr) {
            FWindow = std::make_unique<platform::MessageWindow>(
                [this](UINT msg, WPARAM wParam, LPARAM lParam) { return WndProc(msg, wParam, lParam); });
        }
        FHandle.store(0);
        FCloseDeferred.store(false);
        TMMCustomWaveOutComponent::Opened();
        if (FCallBackMode == cmThread) {
            StartThread();
        }
        platform::HWAVEOUT handle = 0;
        // Stages that can work late in front of this one: the card need not hold the whole queue's
        // worth ahead of what is heard, and a change of their settings is heard at once.
        FOpenedLate = InputCanWorkLate();
        const DWORD late = FOpenedLate ? platform::WAVE_LATE_WORK : 0;
        Check(FDevices.Open(&handle, FDeviceID, format, &WaveOutProc, reinterpret_cast<DWORD_PTR>(this),
                            platform::CALLBACK_FUNCTION | mapped | late),
              "WaveOutOpen:");
        FHandle.store(handle);
        WaitWhile([this] { return !IsOpen(); }, 500, 10);
        if (!IsOpen()) {
            Error(std::string("WaveOutOpen:") + kLfCr + "Unable to open device");
        }
        Fire(OnOpen);
    } catch (...) {
        Fire(OnError);
        SetState(wosOpened);
        Close();
        SetState(wosClosed);
        throw;
    }
}

void TMMWaveOut::Start() {
    if (!IsOpen()) {
        Open();
    }
    if (!IsOpen() || IsPlaying()) {
        return;
    }
    auto& ui = WaveOutUserInterface();
    bool busy = false;
    try {
        FSamplesBefore.store(0);
        FLastDevicePos.store(0);
        FWrapCount.store(0);
        FWrapSize.store(0);
        FLoopStart.store(0);
        FLoopsLeft.store(FLoopCount);
        FInDone.store(0);
        FQueued.store(0);
        FRingIndex.store(0);
        FStopPending.store(false);
        FResetting.store(false);
        FStopping.store(false);
        FEnded.store(false);
        if (FShowHourGlass && static_cast<std::int64_t>(FBufferSize) * FNumBuffers > 100000 && ui.hourGlass) {
            busy = true;
            ui.hourGlass(true);
        }
        // Nothing may play before the ring is full.
        Check(FDevices.Pause(FHandle.load()), "WaveOutPause:");
        BeginLateWork();
        TMMCustomWaveOutComponent::Started();
        FMoreBuffers.store(true);
        int queued = 0;
        for (int i = 0; i < FNumBuffers && FMoreBuffers.load(); ++i) {
            TMMBufferHeader* buffer = EnsureBuffer(i);
            if (LoadBuffer(buffer) < 1) {
                break;
            }
            QueueBuffer(buffer);
            FBuffersInUse.store(++queued);
        }
        FBuffersInUse.store(queued);
        if (busy) {
            busy = false;
            ui.hourGlass(false);
        }
        AddState(wosPlaying);
        if (queued == 0) {
            TMMCustomWaveOutComponent::Stopped();
            Close();
            Error(std::string("WaveOutStart:") + kLfCr + "Unable to start device");
        }
        if (!IsPaused()) {
            Check(FDevices.Restart(FHandle.load()), "WaveOutRestart:");
        }
        Fire(OnStart);
    } catch (...) {
        if (busy) {
            ui.hourGlass(false);
        }
        Fire(OnError);
        AddState(wosPlaying);
        Close();
        SetState(wosClosed);
        throw;
    }
}

void TMMWaveOut::Pause() {
    if (!IsOpen()) {
        Open();
    }
    if (!IsOpen() || IsPaused()) {
        return;
    }
    try {
        if (IsPlaying()) {
            {
                std::lock_guard lock(FLock);
                Check(FDevices.Pause(FHandle.load()), "WaveOutPause:");
                AddState(wosPaused);
            }
            // The reset runs without the lock: it returns buffers through the notification, whose
            // handler may need the lock to finish a completion.
            if (FDeviceUpstream) {
                // Fed by another device: the queued audio is dropped and the upstream device's
                // data is taken up again when playing resumes.
                FSamplesBefore.fetch_add(DevicePosition());
                FResetting.store(true);
                Check(FDevices.Reset(FHandle.load()), "WaveOutReset:");
                FRingIndex.store(0);
                FQueued.store(0);
            }
        }
        AddState(wosPaused);
        TMMCustomWaveOutComponent::Paused();
        Fire(OnPause);
    } catch (...) {
        Fire(OnError);
        Close();
        throw;
    }
}

void TMMWaveOut::Restart() {
    if (!IsPlaying() || !IsPaused()) {
        return;
    }
    try {
        FResetting.store(false);
        TMMCustomWaveOutComponent::Restarted();
        Check(FDevices.Restart(FHandle.load()), "WaveOutRestart:");
        RemoveState(wosPaused);
        Fire(OnRestart);
    } catch (...) {
        Fire(OnError);
        Close();
        throw;
    }
}

void TMMWaveOut::DiscardRoutedCompletions() {
    switch (FCallBackMode) {
    case cmWindow:
        if (FWindow != nullptr) {
            FWindow->RemovePending(platform::WOM_DONE, platform::WOM_DONE);
            FWindowPending.store(0);
        }
        break;
    case cmThread:
        // The worker empties its own queue; it cannot be asked to from inside itself.
        if (FLink != nullptr && FThreadAlive.load() && !FLink->dead.load() &&
            FLink->id.load() != std::this_thread::get_id()) {
            FLink->flushed.ResetEvent();
            FLink->flush.Set();
            FLink->queue.Post(platform::WM_NULL);
            FLink->flushed.Wait(5000);
        }
        break;
    case cmCallback:
        break;
    }
}

void TMMWaveOut::Flush() {
    // Only a playing ring (paused or not) has queued audio to drop. A device paused before it was
    // started has none, and a ring queued here would be queued again by Start.
    if (!IsPlaying() || FResetting.load()) {
        return;
    }
    try {
        const platform::HWAVEOUT handle = FHandle.load();
        {
            std::lock_guard lock(FLock);
            FResetting.store(true);
            FFlushing.store(true);
        }
        Check(FDevices.Pause(handle), "WaveOutPause:");
        // A completion already under way must finish before the ring is rebuilt under it.
        if (!(FCallBackMode == cmWindow && platform::MessageLoop::Gui().IsGUIThread())) {
            WaitWhile([this] { return FInDone.load() > 0; }, 500, 10);
        }
        DiscardRoutedCompletions();
        Check(FDevices.Reset(handle), "WaveOutReset:");
        // Only buffers still to come back are waited for.
        WaitWhile([this] { return FResetting.load() && FQueued.load() > 0; }, 100, 10);
        FResetting.store(false);
        // A notification the device was sending while the first discard ran has been routed
        // since; the reset has waited for it, so this second discard leaves nothing stale.
        DiscardRoutedCompletions();
        Check(FDevices.Restart(handle), "WaveOutRestart:");
        Check(FDevices.Pause(handle), "WaveOutPause:");
        FRingIndex.store(0);
        FQueued.store(0);
        FSamplesBefore.store(0);
        FLastDevicePos.store(0);
        FWrapCount.store(0);
        FWrapSize.store(0);
        FLoopStart.store(0);
        TMMCustomWaveOutComponent::Reset();
        FMoreBuffers.store(true);
        int queued = 0;
        for (int i = 0; i < FNumBuffers && FMoreBuffers.load(); ++i) {
            TMMBufferHeader* buffer = EnsureBuffer(i);
            if (LoadBuffer(buffer) <= 0) {
                break;
            }
            QueueBuffer(buffer);
            FBuffersInUse.store(++queued);
        }
        FBuffersInUse.store(queued);
        FFlushing.store(false);
        if (!IsPaused()) {
            Check(FDevices.Restart(handle), "WaveOutRestart:");
        }
        if (queued == 0) {
            Stop();
        }
    } catch (...) {
        FFlushing.store(false);
        Fire(OnError);
        Close();
        throw;
    }
}

void TMMWaveOut::Stop() {
    if (!(IsPlaying() || IsPaused())) {
        return;
    }
    try {
        {
            std::lock_guard lock(FLock);
            FStopping.store(true);
            FResetting.store(true);
        }
        FWrapCount.store(0);
        FWrapSize.store(0);
        const platform::HWAVEOUT handle = FHandle.load();
        if (handle != 0) {
            Check(FDevices.Reset(handle), "WaveOutReset:");
        }
        if (FInDone.load() > 0) {
            // The running completion posts the end message when it finishes; Stop then runs again
            // on the GUI thread.
            FStopPending.store(true);
            return;
        }
        RemoveState(wosPlaying | wosPaused);
        WaitWhile([this] { return FQueued.load() > 0; }, 500, 10);
        // Completions of this stream still waiting to be handled would be taken for the next one's.
        DiscardRoutedCompletions();
        EndLateWork();
        TMMCustomWaveOutComponent::Stopped();
        // The reset has returned every buffer; a device that sets the done flag a little after it
        // returned the buffer gets a short while for all of them together, then the flag is set
        // here. A buffer that never went to the device has no flag to wait for.
        const auto flagsDue = std::chrono::steady_clock::now() + kDoneFlagGrace;
        for (std::size_t i = 0; i < FBuffers.size(); ++i) {
            TMMBufferHeader* buffer = FBuffers[i].load();
            if (buffer == nullptr) {
                continue;
            }
            const bool onDevice = FOnDevice[i].exchange(false);
            if (!(onDevice && platform::WaitHeaderDone(buffer->wh, flagsDue)) &&
                !platform::HeaderHas(buffer->wh, WHDR_DONE)) {
                platform::SetHeaderFlags(buffer->wh, WHDR_DONE);
            }
            if (handle != 0) {
                FDevices.UnprepareHeader(handle, AsWaveHdr(buffer));
            }
        }
        ReleaseBuffers();
        FBuffersInUse.store(0);
        FQueued.store(0);
        FRingIndex.store(0);
        FStopPending.store(false);
        if (!IsDestroying()) {
            Fire(OnStop);
        }
        if (FCloseDeferred.load()) {
            Close();
        }
    } catch (...) {
        Fire(OnError);
        Close();
        throw;
    }
}

void TMMWaveOut::Close() {
    if (!IsOpen() || (FClosing.load() && !FCloseDeferred.load())) {
        return;
    }
    try {
        FClosing.store(true);
        // This call closes the device: a stop that ends below must not close it a second time.
        FCloseDeferred.store(false);
        if (IsPlaying() || IsPaused()) {
            Stop();
        }
        if (FStopPending.load()) {
            FCloseDeferred.store(true);
            return;
        }
        bool notified = true;
        const platform::HWAVEOUT handle = FHandle.load();
        if (handle != 0) {
            Check(FDevices.Close(handle), "WaveOutClose:");
            WaitWhile([this] { return State() != TMMWaveOutState(wosClosed); }, 500, 10);
            notified = State() == TMMWaveOutState(wosClosed);
            // The device is gone whether or not it said so.
            SetState(wosClosed);
            FWrapCount.store(0);
            FWrapSize.store(0);
        } else {
            SetState(wosClosed);
        }
        EndLateWork();
        TMMCustomWaveOutComponent::Closed();
        if (FCallBackMode == cmThread) {
            StopThread();
        }
        FHandle.store(0);
        FClosing.store(false);
        if (!IsDestroying()) {
            Fire(OnClose);
        }
        if (!notified) {
            Error(std::string("WaveOutClose:") + kLfCr + "Unable to close device");
        }
    } catch (const EMMWaveOutError&) {
        FClosing.store(false);
    } catch (const std::exception&) {
        Fire(OnError);
        FClosing.store(false);
    }
}

} // namespace tunefold
