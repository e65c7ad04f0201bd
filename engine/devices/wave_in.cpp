#include "engine/devices/wave_in.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "platform/dialogs.h"
#include "platform/wave_header.h"

namespace tunefold {

namespace {

constexpr const char* kLfCr = "\n\r";
// The private message that completes a stop: the first application message number plus two.
constexpr UINT MM_WIM_STOP = platform::WM_USER + 2;
constexpr const char* kNoDevice = "No wave audio recording device found";
// How long a close waits, for the whole ring, for done flags a device sets after returning buffers.
constexpr std::chrono::milliseconds kDoneFlagGrace{65};

DWORD BytesToSamplesRounded(const WAVEFORMATEX& format, DWORD bytes) {
    if (format.nAvgBytesPerSec == 0) {
        return 0;
    }
    const std::uint64_t num = std::uint64_t{bytes} * format.nSamplesPerSec * 2 + format.nAvgBytesPerSec;
    return static_cast<DWORD>(num / (std::uint64_t{format.nAvgBytesPerSec} * 2));
}

} // namespace

bool DuplexCapable(TMMDeviceId deviceId, const WAVEFORMATEX* format) {
    auto& out = platform::WaveOut();
    auto& in = platform::WaveIn();
    if (deviceId < -1 || deviceId >= static_cast<int>(out.GetNumDevs())) {
        return false;
    }
    WAVEFORMATEX standard{};
    if (format == nullptr) {
        MakePCMFormat(standard, 16, 2, 22050);
        format = &standard;
    }
    platform::HWAVEIN input = 0;
    platform::HWAVEOUT output = 0;
    const bool inOpened =
        in.Open(&input, deviceId, format, nullptr, 0, platform::CALLBACK_NULL) == MMSYSERR_NOERROR;
    const bool outOpened = inOpened && out.Open(&output, deviceId, format, nullptr, 0,
                                                platform::CALLBACK_NULL) == MMSYSERR_NOERROR;
    if (outOpened) {
        out.Close(output);
    }
    if (inOpened) {
        in.Close(input);
    }
    return inOpened && outOpened;
}

// ---- the worker thread ----

TMMWaveInThread::TMMWaveInThread(TMMCustomWaveIn* owner, std::shared_ptr<Link> link)
    : TMMDSPThread(owner), waveIn_(owner), link_(std::move(link)) {}

void TMMWaveInThread::Execute() {
    std::shared_ptr<Link> link = link_;
    link->id.store(std::this_thread::get_id());
    ApplyPriority();
    link->ready.Set();
    while (!Terminated()) {
        if (link->stop.Wait(0)) {
            break;
        }
        platform::ThreadMessageQueue::Message m{};
        if (!link->queue.Wait(m, -1)) {
            continue;
        }
        if (m.msg != platform::WIM_DATA) {
            continue; // a wake-up for the stop event
        }
        link->pending.fetch_sub(1);
        try {
            if (m.wParam == waveIn_->FHandle.load()) {
                waveIn_->BufferDone(reinterpret_cast<PWaveHdr>(m.lParam));
            }
        } catch (const std::exception& error) {
            link->dead.store(true);
            waveIn_->ThreadFailed(error);
            return;
        }
    }
    link->ready.Set();
}

// ---- creation ----

TMMCustomWaveIn::TMMCustomWaveIn(TComponent* owner)
    : TMMWaveDeviceCore(owner, {"TMMWaveIn", "WaveIn:", kNoDevice}) {
    BuildFormat();
}

TMMCustomWaveIn::~TMMCustomWaveIn() {
    Destroying();
    if (IsOpen()) {
        Close();
    }
    if (IsOpen() && FCloseDeferred.load()) {
        // A handler running on another thread holds the stop back; the device must not outlive
        // this object.
        WaitWhile([this] { return FInDone.load() > 0; }, 500, 10);
        FStopPending.store(false);
        Close();
    }
    if (FThreadAlive.load()) {
        StopThread();
    }
    FWindow.reset();
    ReleaseBuffers();
}

void TMMCustomWaveIn::InitDevices() {
    FNumDevs = FDriver != nullptr ? static_cast<int>(FDriver->GetNumDevs()) : 0;
    ChooseDevice(0);
}

TMMWaveIn::TMMWaveIn(TComponent* owner) : TMMWaveIn(owner, platform::WaveIn()) {}

TMMWaveIn::TMMWaveIn(TComponent* owner, platform::WaveInDevices& devices)
    : TMMCustomWaveIn(owner), FBound(&devices) {
    BindDriverFunctions();
    InitDevices();
}

void TMMWaveIn::BindDriverFunctions() {
    FDriver = FBound;
}

// ---- helpers ----

void TMMCustomWaveIn::Error(const std::string& message) {
    Fire(OnError);
    throw EMMWaveInError(message);
}

// ---- properties ----

void TMMCustomWaveIn::SetMode(TMMMode value) {
    if (value == FMode || (value != mMono && value != mStereo)) {
        return;
    }
    CheckChangeWhileOpen();
    FMode = value;
    BuildFormat();
}

void TMMCustomWaveIn::SetBitLength(TMMBits value) {
    if (value == FBitLength) {
        return;
    }
    CheckChangeWhileOpen();
    FBitLength = value;
    BuildFormat();
}

void TMMCustomWaveIn::SetSampleRate(int value) {
    value = std::clamp(value, 8000, 100000);
    if (value == FSampleRate) {
        return;
    }
    CheckChangeWhileOpen();
    FSampleRate = value;
    BuildFormat();
}

void TMMCustomWaveIn::BuildFormat() {
    WAVEFORMATEX format{};
    MakePCMFormat(format, (static_cast<int>(FBitLength) + 1) * 8, static_cast<int>(FMode) + 1,
                  static_cast<DWORD>(FSampleRate));
    TMMCustomSoundComponent::SetPWaveFormat(&format);
}

void TMMCustomWaveIn::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (IsOpen()) {
        Close();
    }
    if (format != nullptr && IsValidPCMFormat(format)) {
        if (format->nChannels == 1 || format->nChannels == 2) {
            FMode = format->nChannels == 2 ? mStereo : mMono;
        }
        if (format->wBitsPerSample == 8 || format->wBitsPerSample == 16) {
            FBitLength = format->wBitsPerSample == 16 ? b16Bit : b8Bit;
        }
        FSampleRate = static_cast<int>(std::clamp<DWORD>(format->nSamplesPerSec, 8000, 100000));
    }
    TMMCustomSoundComponent::SetPWaveFormat(format);
}

bool TMMCustomWaveIn::CanRecordFormat(TMMDeviceId device, const WAVEFORMATEX* format) {
    const MMRESULT query = FDriver->Open(nullptr, device, format, nullptr, 0, platform::WAVE_FORMAT_QUERY);
    FLastResult.store(query);
    if (query != MMSYSERR_NOERROR) {
        return false;
    }
    if (format->wFormatTag != WAVE_FORMAT_PCM) {
        return true;
    }
    const DWORD rate = format->nSamplesPerSec;
    const DWORD standardRate = (rate >= 8000 && rate <= 11025)   ? 11025
                               : (rate > 11025 && rate <= 22050) ? 22050
                               : (rate > 22050 && rate <= 48000) ? 44100
                                                                 : 0;
    const DWORD flag = platform::StandardFormatFlag(standardRate, format->nChannels, format->wBitsPerSample);
    if (flag == 0) {
        return true; // no standard format to look for: the query decides
    }
    platform::WAVEINCAPS caps;
    if (FDriver->GetDevCaps(device, caps) != MMSYSERR_NOERROR) {
        return false;
    }
    return (caps.dwFormats & flag) != 0;
}

// ---- buffers ----

void TMMCustomWaveIn::ReleaseBuffers() {
    ReleaseRing();
    ForgetLate();
}

void TMMCustomWaveIn::QueueBuffer(TMMBufferHeader* buffer) {
    MMRESULT result = MMSYSERR_NOERROR;
    {
        // Stopping is looked at and the buffer added under the lock Stop sets it under: a buffer
        // is either on the device before Stop resets it, or not added at all.
        std::lock_guard lock(FLock);
        if (FStopping.load()) {
            return;
        }
        platform::ChangeHeaderFlags(buffer->wh, WHDR_DONE, WHDR_PREPARED);
        buffer->wh.dwBytesRecorded = 0;
        FQueued.fetch_add(1); // before the call: the device may return it before AddBuffer comes back
        result = FDriver->AddBuffer(FHandle.load(), AsWaveHdr(buffer));
        if (result != MMSYSERR_NOERROR) {
            FQueued.fetch_sub(1);
            Changed();
        }
    }
    Check(result, "WaveInAddBuffer:");
}

// ---- position ----

DWORD TMMCustomWaveIn::DevicePosition() {
    const platform::HWAVEIN handle = FHandle.load();
    const WAVEFORMATEX* format = PWaveFormat();
    if (handle == 0 || format == nullptr) {
        return 0;
    }
    platform::MMTIME time;
    time.wType = platform::TIME_SAMPLES;
    const MMRESULT result = FDriver->GetPosition(handle, time);
    if (result == MMSYSERR_NOERROR && time.wType == platform::TIME_SAMPLES) {
        return time.value;
    }
    time.wType = platform::TIME_BYTES;
    Check(FDriver->GetPosition(handle, time), "WaveInGetPosition:");
    return BytesToSamplesRounded(*format, time.value);
}

void TMMCustomWaveIn::TrackPosition() {
    const DWORD position = DevicePosition();
    const DWORD last = FLastDevicePos.load();
    if (last >= position && last - position > 65534) {
        FWrapSize.store(static_cast<std::int64_t>(last | 0x000FFFFFu));
        FWrapCount.fetch_add(1);
    }
    FLastDevicePos.store(position);
}

// ---- notifications ----

void TMMCustomWaveIn::WaveInProc(std::uintptr_t handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                                 DWORD_PTR param2) {
    auto* self = reinterpret_cast<TMMCustomWaveIn*>(instance);
    if (self == nullptr) {
        return;
    }
    switch (msg) {
    case platform::WIM_OPEN:
        self->SetState(wisOpened);
        return;
    case platform::WIM_CLOSE:
        self->SetState(wisClosed);
        return;
    case platform::WIM_DATA:
        break;
    default:
        return;
    }
    const bool batchEnds = param2 == 0;
    struct WakeAtBatchEnd {
        TMMCustomWaveIn* self;
        bool ends;
        ~WakeAtBatchEnd() {
            if (ends && self->FCallBackMode == cmThread && self->FLink != nullptr) {
                self->FLink->queue.Wake();
            }
        }
    } wakeAtEnd{self, batchEnds};
    auto* buffer = AsBufferHeader(reinterpret_cast<PWaveHdr>(param1));
    // Every returned buffer is counted here, once, whatever route handles it: a stop waits for the
    // count and must not depend on a route that runs on its own thread.
    const bool resetting = self->FResetting.load();
    const bool stopping = self->FStopping.load();
    if (resetting || stopping) {
        // Returned while the stop runs, with what was recorded up to it: handed on once, by
        // whoever completes the stop. A reset returns buffers that hold nothing to keep.
        if (!resetting && buffer != nullptr && buffer->wh.dwBytesRecorded > 0) {
            std::lock_guard lock(self->FLateMutex);
            self->FLate.push_back(buffer);
        }
    }
    // Not under the device lock: a Stop holds no lock while the device returns its buffers.
    const int left = self->FQueued.fetch_sub(1) - 1;
    if (resetting && left <= 0) {
        self->FResetting.store(false);
    }
    self->Changed();
    if (resetting || stopping) {
        return;
    }
    switch (self->FCallBackMode) {
    case cmWindow:
        if (self->FWindow != nullptr) {
            self->FWindowPending.fetch_add(1);
            if (!self->FWindow->Post(platform::WIM_DATA, handle, static_cast<LPARAM>(param1))) {
                self->FWindowPending.fetch_sub(1);
            }
        }
        break;
    case cmThread:
        if (self->FLink != nullptr) {
            self->FLink->pending.fetch_add(1);
            self->FLink->queue.PostQuiet(platform::WIM_DATA, handle, static_cast<LPARAM>(param1));
        }
        break;
    case cmCallback:
        try {
            self->BufferDone(reinterpret_cast<PWaveHdr>(param1));
        } catch (const std::exception& error) {
            self->Close();
            if (WaveOutUserInterface().showException) {
                WaveOutUserInterface().showException(error);
            }
        }
        break;
    }
}

LRESULT TMMCustomWaveIn::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == platform::WIM_DATA) {
        FWindowPending.fetch_sub(1);
    }
    if (wParam == 0 || wParam != FHandle.load()) {
        return 0;
    }
    try {
        switch (msg) {
        case platform::WIM_OPEN:
            SetState(wisOpened);
            break;
        case platform::WIM_CLOSE:
            SetState(wisClosed);
            break;
        case platform::WIM_DATA:
            BufferDone(reinterpret_cast<PWaveHdr>(lParam));
            break;
        case MM_WIM_STOP:
            Stop();
            break;
        default:
            break;
        }
    } catch (const std::exception& error) {
        Close();
        if (WaveOutUserInterface().showException) {
            WaveOutUserInterface().showException(error);
        }
    }
    return 0;
}

// ---- a buffer has been recorded ----

void TMMCustomWaveIn::BufferDone(PWaveHdr lpWaveHdr) {
    // Counted before the flags are read: Stop sets its flags before it looks at the count, so one
    // of the two sides always sees the other.
    FInDone.fetch_add(1);
    if (!IsStartedState() || FStopping.load() || FResetting.load()) {
        FinishCompletion();
        return;
    }
    try {
        TMMBufferHeader* buffer = AsBufferHeader(lpWaveHdr);
        BufferReady(lpWaveHdr);
        if (!FStopPending.load()) {
            TrackPosition();
            QueueBuffer(buffer);
        }
    } catch (const std::exception&) {
        Fire(OnError);
        FinishCompletion();
        throw;
    }
    FinishCompletion();
}

void TMMCustomWaveIn::FinishCompletion() {
    const int left = FInDone.fetch_sub(1) - 1;
    Changed();
    if (left != 0 || !FStopPending.load() || FEnded.exchange(true)) {
        return;
    }
    FStopping.store(true);
    if (FWindow != nullptr) {
        FWindow->Post(MM_WIM_STOP, FHandle.load(), 0);
    }
}

void TMMCustomWaveIn::BufferReady(PWaveHdr lpWaveHdr) {
    if (Deliver(lpWaveHdr)) {
        Stop();
    }
}

bool TMMCustomWaveIn::Deliver(PWaveHdr lpWaveHdr) {
    const std::int64_t bytes = lpWaveHdr->dwBytesRecorded;
    const std::int64_t before = FRecordedBytes.fetch_add(bytes);
    bool reached = false;
    if (FMaxRecordTime > 0 && before + bytes >= FMaxRecordBytes.load()) {
        // Exactly the limit is delivered, however many buffers come back before the stop is done.
        const std::int64_t room = std::max<std::int64_t>(FMaxRecordBytes.load() - before, 0);
        lpWaveHdr->dwBytesRecorded = static_cast<DWORD>(std::min(room, bytes));
        reached = !FLimitReached.exchange(true);
    }
    FRingIndex.store((FRingIndex.load() + 1) % std::max(FNumBuffers, 1));
    if (lpWaveHdr->dwBytesRecorded > 0 || !(FMaxRecordTime > 0 && FLimitReached.load())) {
        TMMCustomSoundComponent::BufferReady(lpWaveHdr);
    }
    return reached;
}

void TMMCustomWaveIn::PassOnLate() {
    std::vector<TMMBufferHeader*> late;
    {
        std::lock_guard lock(FLateMutex);
        late.swap(FLate);
    }
    for (TMMBufferHeader* buffer : late) {
        Deliver(AsWaveHdr(buffer)); // the stop that hands them on is under way already
    }
}

void TMMCustomWaveIn::ForgetLate() {
    std::lock_guard lock(FLateMutex);
    FLate.clear();
}

// ---- the worker thread ----

TMMWaveInThread* TMMCustomWaveIn::CreateWorkerThread(std::shared_ptr<TMMWaveInThread::Link> link) {
    return new TMMWaveInThread(this, std::move(link));
}

void TMMCustomWaveIn::ThreadFailed(const std::exception& error) {
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
        const platform::HWAVEIN handle = FHandle.exchange(0);
        if (handle != 0) {
            FDriver->Reset(handle);
            for (auto& slot : FBuffers) {
                if (TMMBufferHeader* buffer = slot.load()) {
                    FDriver->UnprepareHeader(handle, AsWaveHdr(buffer));
                }
            }
            FDriver->Close(handle);
        }
        SetState(wisClosed);
        try {
            TMMCustomSoundComponent::Closed();
        } catch (const std::exception&) {
            // the chain's own failure changes nothing here
        }
        ClosedStep();
    }
    if (WaveOutUserInterface().showException) {
        WaveOutUserInterface().showException(error);
    }
}

// ---- operations ----

void TMMCustomWaveIn::OpenChain() {
    // The chain is opened with the device marked closed, so that a stage that asks sees no
    // half-open device.
    const std::uint8_t state = FState.load();
    SetState(wisClosed);
    try {
        TMMCustomSoundComponent::Opened();
    } catch (...) {
        SetState(state);
        throw;
    }
    SetState(state);
}

void TMMCustomWaveIn::Open() {
    if (FNumDevs == 0) {
        Error(kNoDevice);
    }
    if (FDeviceID == -2) {
        Error("Invalid DeviceID");
    }
    const WAVEFORMATEX* format = PWaveFormat();
    if (format == nullptr) {
        Error("Invalid wave format");
    }
    if (IsOpen()) {
        Close();
    }
    if (IsOpen() || FClosing.load()) {
        return;
    }
    try {
        FClosing.store(false);
        FEnded.store(false);
        FStopping.store(false);
        FResetting.store(false);
        if (!CanRecordFormat(FDeviceID, format)) {
            const MMRESULT query = FLastResult.load();
            if (query != MMSYSERR_NOERROR && query != WAVERR_BADFORMAT) {
                // The device itself could not be reached (no card, no sound server): that is no
                // format question, so say what is missing and why.
                Error(std::string("WaveInOpen:") + kLfCr + "No sound device: " + ErrorText(query));
            }
            Error(std::string("WaveInOpen:") + kLfCr + "The actual device can't record this format");
        }
        if (FWindow == nullptr) {
            FWindow = std::make_unique<platform::MessageWindow>(
                [this](UINT msg, WPARAM wParam, LPARAM lParam) { return WndProc(msg, wParam, lParam); });
        }
        FHandle.store(0);
        FCloseDeferred.store(false);
        if (FCallBackMode == cmThread) {
            StartThread();
        }
        platform::HWAVEIN handle = 0;
        Check(FDriver->Open(&handle, FDeviceID, format, &WaveInProc, reinterpret_cast<DWORD_PTR>(this),
                            platform::CALLBACK_FUNCTION),
              "WaveInOpen:");
        FHandle.store(handle);
        OpenChain();
        WaitWhile([this] { return !IsOpen(); }, 100, 10);
        if (!IsOpen()) {
            Error(std::string("WaveInOpen:") + kLfCr + "Unable to open device");
        }
        const auto size = static_cast<std::uint32_t>(GetBufferSize());
        for (int i = 0; i < FNumBuffers; ++i) {
            TMMBufferHeader* buffer = FBuffers[static_cast<std::size_t>(i)].load();
            if (buffer == nullptr) {
                void* block = AllocateBuffer(BufferHeaderBytes + size);
                if (block == nullptr) {
                    Error("Unable to allocate memory for wave header");
                }
                buffer = InitBufferHeader(block, size);
                FBuffers[static_cast<std::size_t>(i)].store(buffer);
            }
            Check(FDriver->PrepareHeader(handle, AsWaveHdr(buffer)), "WaveInPrepareHeader:");
        }
        Fire(OnOpen);
    } catch (...) {
        Fire(OnError);
        SetState(wisOpened);
        Close();
        SetState(wisClosed);
        throw;
    }
}

void TMMCustomWaveIn::Start() {
    if (!IsOpen()) {
        Open();
    }
    if (!IsOpen() || IsStartedState()) {
        return;
    }
    try {
        FRecordedBytes.store(0);
        FRingIndex.store(0);
        FInDone.store(0);
        FQueued.store(0);
        FLastDevicePos.store(0);
        FWrapCount.store(0);
        FWrapSize.store(0);
        FStopPending.store(false);
        FStopping.store(false);
        FResetting.store(false);
        FEnded.store(false);
        FLimitReached.store(false);
        ForgetLate();

        std::int64_t limit = std::numeric_limits<std::int32_t>::max();
        const WAVEFORMATEX* format = PWaveFormat();
        if (FMaxRecordTime >= 0 && format != nullptr) {
            switch (FTimeFormat) {
            case tfMillisecond:
                limit =
                    SamplesToBytes64(*format, std::int64_t{FMaxRecordTime} * format->nSamplesPerSec / 1000);
                break;
            case tfSample:
                limit = SamplesToBytes64(*format, FMaxRecordTime);
                break;
            case tfByte:
                limit = FMaxRecordTime;
                break;
            }
            if (limit < 0) {
                limit = std::numeric_limits<std::int32_t>::max();
            }
        }
        if (format != nullptr && format->nBlockAlign > 0) {
            limit -= limit % format->nBlockAlign;
        }
        FMaxRecordBytes.store(limit);

        for (int i = 0; i < FNumBuffers; ++i) {
            if (TMMBufferHeader* buffer = FBuffers[static_cast<std::size_t>(i)].load()) {
                QueueBuffer(buffer);
            }
        }
        StartedStep();
    } catch (...) {
        Fire(OnError);
        AddState(wisStarted);
        Close();
        SetState(wisClosed);
        throw;
    }
}

void TMMCustomWaveIn::StartedStep() {
    AddState(wisStarted);
    if (!IsPaused()) {
        Check(FDriver->Start(FHandle.load()), "WaveInStart:");
    }
    TMMCustomSoundComponent::Started();
    Fire(OnStart);
}

void TMMCustomWaveIn::Pause() {
    if (!IsOpen()) {
        Open();
    }
    if (!IsOpen() || IsPaused()) {
        return;
    }
    try {
        if (IsStartedState()) {
            Check(FDriver->Stop(FHandle.load()), "WaveInPause:");
        }
        PausedStep();
    } catch (...) {
        Fire(OnError);
        Close();
        throw;
    }
}

void TMMCustomWaveIn::PausedStep() {
    AddState(wisPaused);
    TMMCustomSoundComponent::Paused();
    Fire(OnPause);
}

void TMMCustomWaveIn::Restart() {
    if (!IsStartedState() || !IsPaused()) {
        return;
    }
    try {
        Check(FDriver->Start(FHandle.load()), "WaveInRestart:");
        RestartedStep();
    } catch (...) {
        Fire(OnError);
        Close();
        throw;
    }
}

void TMMCustomWaveIn::RestartedStep() {
    RemoveState(wisPaused);
    TMMCustomSoundComponent::Restarted();
    Fire(OnRestart);
}

void TMMCustomWaveIn::Stop() {
    if (!(IsStartedState() || IsPaused())) {
        return;
    }
    try {
        const platform::HWAVEIN handle = FHandle.load();
        {
            // A buffer is re-queued under this lock only while stopping is clear.
            std::lock_guard lock(FLock);
            FStopping.store(true);
        }
        // The device calls run without the lock: they return buffers through the notification,
        // from whatever thread the device delivers on.
        if (handle != 0) {
            Check(FDriver->Stop(handle), "WaveInStop:");
        }
        FWrapCount.store(0);
        FWrapSize.store(0);
        FResetting.store(true);
        if (handle != 0) {
            Check(FDriver->Reset(handle), "WaveInReset:");
        }
        if (FInDone.load() == 0) {
            WaitWhile([this] { return FQueued.load() > 0; }, 100, 10);
        }
        if (FInDone.load() > 0) {
            // The running handler posts the stop message when it finishes; Stop then runs again
            // on the GUI thread. A handler that finished just now, before it could see the pending
            // stop, has left the message to this side.
            FStopPending.store(true);
            if (FInDone.load() == 0 && !FEnded.exchange(true) && FWindow != nullptr) {
                FWindow->Post(MM_WIM_STOP, handle, 0);
            }
            return;
        }
        // What the device recorded up to the stop is handed on before the chain stops.
        PassOnLate();
        RemoveState(wisStarted | wisPaused);
        FRingIndex.store(0);
        FQueued.store(0);
        FStopPending.store(false);
        FResetting.store(false);
        TMMCustomSoundComponent::Stopped();
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

void TMMCustomWaveIn::ClosedStep() {
    FHandle.store(0);
    ReleaseBuffers();
    FClosing.store(false);
    if (!IsDestroying()) {
        Fire(OnClose);
    }
}

void TMMCustomWaveIn::Close() {
    if (!IsOpen() || (FClosing.load() && !FCloseDeferred.load())) {
        return;
    }
    try {
        FClosing.store(true);
        FCloseDeferred.store(false);
        if (IsStartedState() || IsPaused()) {
            try {
                Stop();
            } catch (const std::exception&) {
                // Already reported; a device that cannot stop is still closed below.
                RemoveState(wisStarted | wisPaused);
                FStopPending.store(false);
            }
        }
        if (FStopPending.load()) {
            FCloseDeferred.store(true);
            return;
        }
        bool notified = true;
        const platform::HWAVEIN handle = FHandle.load();
        if (handle != 0) {
            FStopping.store(true);
            FResetting.store(true);
            FDriver->Stop(handle);
            // A device that cannot be reset keeps its buffers: it cannot be closed until it can.
            Check(FDriver->Reset(handle), "WaveInReset:");
            FResetting.store(false);
            ForgetLate();
            const auto flagsDue = std::chrono::steady_clock::now() + kDoneFlagGrace;
            for (auto& slot : FBuffers) {
                TMMBufferHeader* buffer = slot.load();
                if (buffer == nullptr) {
                    continue;
                }
                if (platform::HeaderHas(buffer->wh, WHDR_INQUEUE) &&
                    !platform::WaitHeaderDone(buffer->wh, flagsDue)) {
                    platform::SetHeaderFlags(buffer->wh, WHDR_DONE | WHDR_PREPARED);
                }
                Check(FDriver->UnprepareHeader(handle, AsWaveHdr(buffer)), "WaveInUnprepareHeader:");
            }
            Check(FDriver->Close(handle), "WaveInClose:");
            WaitWhile([this] { return FState.load() != wisClosed; }, 100, 10);
            notified = FState.load() == wisClosed;
            SetState(wisClosed);
            FWrapCount.store(0);
            FWrapSize.store(0);
        } else {
            SetState(wisClosed);
        }
        TMMCustomSoundComponent::Closed();
        if (FCallBackMode == cmThread) {
            StopThread();
        }
        ClosedStep();
        if (!notified) {
            Error(std::string("WaveInClose:") + kLfCr + "Unable to close device");
        }
    } catch (const std::exception&) {
        FClosing.store(false);
    }
}

} // namespace tunefold
