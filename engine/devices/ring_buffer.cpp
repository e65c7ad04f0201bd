#include "engine/devices/ring_buffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/message_loop.h"

namespace tunefold {

namespace {
constexpr const char* kLfCr = "\n\r";
constexpr DWORD kChunkLimit = 65536;

DWORD ChunkSize(int bufferSize) {
    const auto size = static_cast<DWORD>(std::max(bufferSize, 1));
    return std::max<DWORD>(kChunkLimit / size * size, size);
}
} // namespace

// ---- the queue thread ----

TMMQueueThread::TMMQueueThread(TMMRingBuffer* owner, std::shared_ptr<Link> link)
    : TMMDSPThread(owner), ring_(owner), link_(std::move(link)) {}

void TMMQueueThread::Execute() {
    std::shared_ptr<Link> link = link_;
    link->ready.Set();
    for (;;) {
        {
            std::unique_lock lock(link->mutex);
            link->wake.wait(lock, [&link] { return link->work || link->stop; });
            if (link->stop) {
                break;
            }
            link->work = false;
        }
        try {
            if (ring_->FQueueMode == qmRead) {
                ring_->FillQueue();
            } else {
                ring_->FlushQueue();
            }
        } catch (...) {
            HandleThreadException(std::current_exception());
        }
        link->busy.store(false);
        link->done.Set();
    }
    link->ready.Set();
}

// ---- creation ----

TMMRingBuffer::TMMRingBuffer(TComponent* owner) : TMMDSPComponent(owner) {}

TMMRingBuffer::~TMMRingBuffer() {
    Destroying();
    if (IsOpenRing()) {
        Closed();
    }
}

void TMMRingBuffer::Fire(const TNotifyEvent& event) {
    if (event) {
        event(this);
    }
}

void TMMRingBuffer::CheckChangeWhileOpen() {
    if (IsOpenRing()) {
        throw EMMBufferError("Change to property while device was open");
    }
}

// ---- properties ----

void TMMRingBuffer::SetBufferSize(int value) {
    value = std::max(value, 32);
    if (value == FBufferSize) {
        return;
    }
    CheckChangeWhileOpen();
    TMMDSPComponent::SetBufferSize(value);
}

int TMMRingBuffer::GetBufferSize() const {
    return TMMDSPComponent::GetBufferSize();
}

void TMMRingBuffer::SetNumBuffers(int value) {
    if (value <= 1 || value == FNumBuffers) {
        return;
    }
    CheckChangeWhileOpen();
    FNumBuffers = value;
}

void TMMRingBuffer::SetQueueMode(TMMQueueMode value) {
    if (value == FQueueMode) {
        return;
    }
    CheckChangeWhileOpen();
    FQueueMode = value;
}

std::uint8_t TMMRingBuffer::SilenceByte() const {
    const WAVEFORMATEX* format = PWaveFormat();
    return format != nullptr && format->wFormatTag == WAVE_FORMAT_PCM && format->wBitsPerSample == 8 ? 0x80
                                                                                                     : 0;
}

// ---- the queue ----

bool TMMRingBuffer::StoreLocked(const char* data, DWORD bytes, DWORD flags, DWORD_PTR user) {
    if (!IsOpenRing() || FEntries.empty() || FRingCount >= FNumBuffers) {
        return false;
    }
    bytes = std::min<DWORD>(bytes, static_cast<DWORD>(FEntrySize));
    Entry& entry = FEntries[static_cast<std::size_t>(FWriteIndex)];
    std::memcpy(entry.data.get(), data, bytes);
    entry.bytes = bytes;
    entry.flags = flags;
    entry.user = user;
    FWriteIndex = (FWriteIndex + 1) % FNumBuffers;
    ++FRingCount;
    FRingBytes += bytes;
    return true;
}

void TMMRingBuffer::PutBuffer(const char* data, DWORD bytes, DWORD flags, DWORD_PTR user) {
    if (!IsOpenRing() || !FEnabled.load()) {
        return;
    }
    // Only a writer the queue thread drains may wait for room; anywhere else nobody would make
    // room for it, so a full ring drops the new buffer.
    const bool mayWait = FWaitIfFull.load() && FQueueMode == qmWrite;
    if (IsFull() && !mayWait) {
        Fire(OnOverlow);
        return;
    }
    if (data == nullptr || bytes == 0) {
        return;
    }
    bool overflow = false;
    {
        std::unique_lock lock(FLock);
        if (FQueueMode == qmWrite && FRingCount + 1 >= FNumBuffers / 2) {
            WakeQueueThread();
        }
        if (mayWait && FRingCount >= FNumBuffers) {
            // The wait ends when the queue thread made room, or the ring stops or closes.
            FWaitingWriters.fetch_add(1);
            FChanged.wait(lock,
                          [this] { return FRingCount < FNumBuffers || FStopping.load() || !IsOpenRing(); });
            FWaitingWriters.fetch_sub(1);
        }
        if (FStopping.load() && mayWait) {
            return; // stopped or closed while waiting: nothing is to be stored any more
        }
        overflow = !StoreLocked(data, bytes, flags, user);
    }
    if (overflow) {
        Fire(OnOverlow);
    }
}

void TMMRingBuffer::GetData(char* data, DWORD& bytes, DWORD& flags, DWORD_PTR& user) {
    flags = 0;
    user = 0;
    if (!IsOpenRing() || data == nullptr || bytes == 0) {
        bytes = 0;
        return;
    }
    if (FQueueMode == qmRead && FEnabled.load()) {
        bool wait = false;
        {
            std::lock_guard lock(FLock);
            if (FRingCount < FNumBuffers / 2 && FLink != nullptr && !FLink->busy.load()) {
                WakeQueueThread();
            }
            wait = !FPrimed;
        }
        if (wait) {
            const bool reported = WaitQueueThread(FTimeOut);
            std::lock_guard lock(FLock);
            if (!reported || FRingCount == 0) {
                bytes = 0;
                return;
            }
            FPrimed = true;
        }
    }
    bool empty = false;
    {
        std::lock_guard lock(FLock);
        if (FQueueMode == qmDuplex && !FPrimed) {
            // Silence of the whole length asked for, however long that is.
            std::memset(data, SilenceByte(), bytes);
            if (FRingCount > FNumBuffers / 2) {
                FPrimed = true;
            }
            return;
        }
        empty = FRingCount == 0;
        if (!empty) {
            // Read under the lock: a reset between the copy and the bookkeeping would otherwise
            // count an entry off a queue that no longer holds it.
            Entry& entry = FEntries[static_cast<std::size_t>(FReadIndex)];
            const DWORD n = std::min(bytes, entry.bytes);
            std::memcpy(data, entry.data.get(), n);
            flags = entry.flags;
            user = entry.user;
            bytes = n;
            if (n < entry.bytes) {
                std::memmove(entry.data.get(), entry.data.get() + n, entry.bytes - n);
                entry.bytes -= n;
            } else {
                FLastReadIndex = FReadIndex;
                FHasLastRead = true;
                FReadIndex = (FReadIndex + 1) % FNumBuffers;
                --FRingCount;
            }
            FRingBytes -= n;
        }
    }
    if (!empty) {
        if (FWaitingWriters.load() > 0) {
            FChanged.notify_all();
        }
        return;
    }
    Fire(OnEmpty);
    std::lock_guard lock(FLock);
    const WAVEFORMATEX* format = PWaveFormat();
    const bool repeat = FLoopIfEmpty.load() || (format != nullptr && format->wFormatTag != WAVE_FORMAT_PCM);
    if (repeat && FHasLastRead && !FEntries.empty() &&
        FEntries[static_cast<std::size_t>(FLastReadIndex)].bytes > 0) {
        const Entry& last = FEntries[static_cast<std::size_t>(FLastReadIndex)];
        bytes = std::min(bytes, last.bytes);
        std::memcpy(data, last.data.get(), bytes);
        flags = last.flags;
        user = last.user;
        return;
    }
    // Nothing to repeat yet: silence keeps the stream going rather than an empty buffer that the
    // device would take for a failed refill.
    std::memset(data, SilenceByte(), bytes);
}

DWORD TMMRingBuffer::WriteData(const char* data, DWORD bytes, DWORD flags) {
    DWORD stored = 0;
    std::lock_guard lock(FLock);
    const auto size = static_cast<DWORD>(std::max(FEntrySize, 1));
    while (stored < bytes) {
        const DWORD part = std::min(bytes - stored, size);
        const bool last = stored + part >= bytes;
        if (!StoreLocked(data + stored, part, last ? flags : 0, 0)) {
            break;
        }
        stored += part;
    }
    return stored;
}

DWORD TMMRingBuffer::ReadData(char* data, DWORD bytes) {
    DWORD read = 0;
    while (read < bytes && !IsEmpty()) {
        DWORD n = bytes - read;
        DWORD flags = 0;
        DWORD_PTR user = 0;
        GetData(data + read, n, flags, user);
        if (n == 0) {
            break;
        }
        read += n;
    }
    return read;
}

void TMMRingBuffer::ResetQueue() {
    {
        std::lock_guard lock(FLock);
        FRingCount = 0;
        FRingBytes = 0;
        FWriteIndex = 0;
        FReadIndex = 0;
        FLastReadIndex = 0;
        FHasLastRead = false;
        FPrimed = false;
    }
    FChanged.notify_all();
}

bool TMMRingBuffer::IsEmpty() {
    std::lock_guard lock(FLock);
    return FRingCount == 0;
}

bool TMMRingBuffer::IsFull() {
    std::lock_guard lock(FLock);
    return FRingCount >= FNumBuffers;
}

int TMMRingBuffer::RingCount() {
    std::lock_guard lock(FLock);
    return FRingCount;
}

std::int64_t TMMRingBuffer::RingBytes() {
    std::lock_guard lock(FLock);
    return FRingBytes;
}

std::int64_t TMMRingBuffer::BytesFree() {
    std::lock_guard lock(FLock);
    return std::int64_t{GetBufferSize()} * (FNumBuffers - FRingCount);
}

bool TMMRingBuffer::Primed() {
    std::lock_guard lock(FLock);
    return FPrimed;
}

// ---- the chain's buffers ----

void TMMRingBuffer::BufferReady(PWaveHdr lpWaveHdr) {
    if (FQueueMode == qmDuplex || FQueueMode == qmWrite) {
        PutBuffer(lpWaveHdr->lpData, lpWaveHdr->dwBytesRecorded, 0, lpWaveHdr->dwUser);
        return;
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMRingBuffer::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    const bool served = (FQueueMode == qmRead || FQueueMode == qmDuplex) && IsOpenRing() &&
                        (FEnabled.load() || !IsEmpty() || FQueueMode == qmDuplex);
    if (!served) {
        TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
        return;
    }
    TMMBufferHeader* request = AsBufferHeader(lpWaveHdr);
    {
        std::lock_guard lock(FLock);
        const bool looping = request->LoopEnabled != 0;
        if (looping != FLooping) {
            FLooping = looping;
            if (looping) {
                FLoopCount = request->LoopCount;
                FLoopsLeft = request->LoopsLeft;
            }
        }
    }
    DWORD bytes = lpWaveHdr->dwBufferLength;
    DWORD flags = 0;
    DWORD_PTR user = 0;
    GetData(lpWaveHdr->lpData, bytes, flags, user);
    lpWaveHdr->dwBytesRecorded = bytes;
    lpWaveHdr->dwUser = user;
    request->LoopRestart = (flags & RingLoopRestart) != 0 ? -1 : 0;
    MoreBuffers = FQueueMode == qmDuplex || (flags & RingLastBuffer) == 0;
}

// ---- the queue thread's work ----

void TMMRingBuffer::WakeQueueThread() {
    if (FLink == nullptr) {
        return;
    }
    FLink->busy.store(true);
    FLink->done.ResetEvent();
    {
        std::lock_guard lock(FLink->mutex);
        FLink->work = true;
    }
    FLink->wake.notify_all();
}

bool TMMRingBuffer::WaitQueueThread(int timeoutMs) {
    if (FLink == nullptr) {
        return false;
    }
    const long bound = std::max(timeoutMs, 0);
    auto& gui = platform::MessageLoop::Gui();
    if (gui.IsGUIThread()) {
        // The queue thread may be waiting for the GUI thread (a stage that runs an event there).
        return gui.ProcessUntil([this] { return FLink->done.IsSet(); }, bound);
    }
    return FLink->done.Wait(bound);
}

void TMMRingBuffer::FillQueue() {
    Fire(OnFillQueue);
    TMMBufferHeader* request = FScratchHeader;
    std::int64_t free = BytesFree();
    while (free > 0 && !FStopping.load()) {
        const DWORD want = static_cast<DWORD>(std::min<std::int64_t>(FReadChunk, free));
        request->wh.dwBufferLength = want;
        request->wh.dwBytesRecorded = 0;
        {
            std::lock_guard lock(FLock);
            request->LoopEnabled = FLooping ? -1 : 0;
            request->LoopCount = FLoopCount;
            request->LoopsLeft = FLoopsLeft;
        }
        request->LoopRestart = 0;
        bool more = true;
        TMMDSPComponent::BufferLoad(AsWaveHdr(request), more);
        const DWORD got = std::min(request->wh.dwBytesRecorded, want);
        if (got == 0) {
            // The source is dry: the last stored entry ends the stream.
            std::lock_guard lock(FLock);
            if (FRingCount > 0) {
                const int last = (FWriteIndex + FNumBuffers - 1) % FNumBuffers;
                FEntries[static_cast<std::size_t>(last)].flags |= RingLastBuffer;
            }
            break;
        }
        {
            std::lock_guard lock(FLock);
            FLoopsLeft = request->LoopsLeft;
        }
        const DWORD flags = (more ? 0 : RingLastBuffer) | (request->LoopRestart != 0 ? RingLoopRestart : 0);
        WriteData(request->wh.lpData, got, flags);
        if (!more) {
            break;
        }
        free = BytesFree();
    }
    Fire(OnFillQueueEnd);
}

void TMMRingBuffer::FlushQueue() {
    Fire(OnFlushQueue);
    TMMBufferHeader* chunk = FScratchHeader;
    while (!IsEmpty()) {
        const DWORD n = ReadData(chunk->wh.lpData, FWriteChunk);
        if (n == 0) {
            break;
        }
        chunk->wh.dwBufferLength = n;
        chunk->wh.dwBytesRecorded = n;
        TMMDSPComponent::BufferReady(AsWaveHdr(chunk));
    }
    Fire(OnFlushQueueEnd);
}

void TMMRingBuffer::StartQueueThread() {
    FLink = std::make_shared<TMMQueueThread::Link>();
    FThread = new TMMQueueThread(this, FLink);
    FThread->SetFreeOnTerminate(true);
    FThread->Resume();
    if (!FLink->ready.Wait(5000)) {
        FLink.reset();
        FThread = nullptr;
        throw EMMBufferError(std::string("RingBuffer:") + kLfCr + "Could not create thread");
    }
}

void TMMRingBuffer::EndQueueThread() {
    if (FLink == nullptr) {
        return;
    }
    {
        std::lock_guard lock(FLink->mutex);
        FLink->stop = true;
    }
    FLink->wake.notify_all();
    FLink->ready.Wait(5000);
    FThread = nullptr; // it frees itself
    FLink.reset();
}

// ---- life cycle ----

void TMMRingBuffer::Opened() {
    TMMDSPComponent::Opened();
    if (IsOpenRing()) {
        return;
    }
    const int size = GetBufferSize();
    {
        std::lock_guard lock(FLock);
        FEntrySize = size;
        FReadChunk = ChunkSize(size);
        FWriteChunk = ChunkSize(size);
        FEntries.clear();
        FEntries.resize(static_cast<std::size_t>(FNumBuffers));
        for (Entry& entry : FEntries) {
            entry.data = std::make_unique<char[]>(static_cast<std::size_t>(size));
        }
        if (FQueueMode != qmNone) {
            const std::size_t bytes =
                BufferHeaderBytes + std::max<std::size_t>(kChunkLimit, static_cast<std::size_t>(size));
            FScratch = std::make_unique<char[]>(bytes);
            FScratchHeader =
                InitBufferHeader(FScratch.get(), static_cast<std::uint32_t>(bytes - BufferHeaderBytes));
        }
    }
    if (FQueueMode == qmRead || FQueueMode == qmWrite) {
        StartQueueThread();
    }
    ResetQueue();
    FRingOpen.store(true);
    FStopping.store(false);
}

void TMMRingBuffer::Started() {
    FStopping.store(false);
    TMMDSPComponent::Started();
}

void TMMRingBuffer::StopQueueWork() {
    {
        std::lock_guard lock(FLock);
        FPrimed = false;
        FLooping = false;
        FLoopCount = 0;
        FLoopsLeft = 0;
        FLoopRestart = false;
    }
    FStopping.store(true);
    FChanged.notify_all(); // a writer waiting for room gives up
    if (FLink != nullptr && FLink->busy.load()) {
        WaitQueueThread(5000);
    }
    if (FQueueMode == qmWrite && IsOpenRing()) {
        FlushQueue(); // what was queued still goes out
    }
    ResetQueue();
}

void TMMRingBuffer::Stopped() {
    StopQueueWork();
    TMMDSPComponent::Stopped();
}

void TMMRingBuffer::Reset() {
    StopQueueWork();
    FStopping.store(false);
    TMMDSPComponent::Reset();
}

void TMMRingBuffer::Closed() {
    if (IsOpenRing()) {
        FStopping.store(true);
        StopQueueWork();
        FRingOpen.store(false);
        FChanged.notify_all();
        EndQueueThread();
        std::lock_guard lock(FLock);
        FEntries.clear();
        FScratch.reset();
        FScratchHeader = nullptr;
    }
    TMMDSPComponent::Closed();
}

} // namespace tunefold
