// A FIFO of buffers between two clocks: a recording device pushes into it, a playing device pulls
// from it at its own pace. Before the first real data it hands out silence until it is half full
// (so the two clocks have room to drift), and silence again whenever it runs dry. In the read and
// write modes a queue thread of its own keeps it filled from its Input or drains it to its Output.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"
#include "engine/framework/threads.h"
#include "platform/sync_event.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMBufferError, EMMError);

enum TMMQueueMode { qmNone, qmRead, qmWrite, qmDuplex };

// Flags of an entry.
constexpr DWORD RingLastBuffer = 1;  // the last buffer of the stream
constexpr DWORD RingLoopRestart = 2; // the source restarted a loop in this buffer

class TMMRingBuffer;

// Fills the ring from the Input (qmRead) or drains it to the Output (qmWrite) when woken.
class TMMQueueThread : public TMMDSPThread {
public:
    struct Link {
        platform::SyncEvent ready{platform::SyncEvent::Reset::Auto};
        platform::SyncEvent done{platform::SyncEvent::Reset::Manual};
        std::mutex mutex;
        std::condition_variable wake;
        bool work = false;
        bool stop = false;
        std::atomic<bool> busy{false};
    };
    TMMQueueThread(TMMRingBuffer* owner, std::shared_ptr<Link> link);

protected:
    void Execute() override;

private:
    TMMRingBuffer* ring_;
    std::shared_ptr<Link> link_;
};

class TMMRingBuffer : public TMMDSPComponent {
public:
    explicit TMMRingBuffer(TComponent* owner = nullptr);
    ~TMMRingBuffer() override;

    // ---- published properties ----
    void SetBufferSize(int value) override;
    int GetBufferSize() const override;
    int NumBuffers() const { return FNumBuffers; }
    void SetNumBuffers(int value);
    TMMQueueMode QueueMode() const { return FQueueMode; }
    void SetQueueMode(TMMQueueMode value);
    bool Enabled() const { return FEnabled.load(); }
    void SetEnabled(bool value) { FEnabled.store(value); }
    bool WaitIfFull() const { return FWaitIfFull.load(); }
    void SetWaitIfFull(bool value) { FWaitIfFull.store(value); }
    bool LoopIfEmpty() const { return FLoopIfEmpty.load(); }
    void SetLoopIfEmpty(bool value) { FLoopIfEmpty.store(value); }
    int TimeOut() const { return FTimeOut; }
    void SetTimeOut(int value) { FTimeOut = value; }

    TNotifyEvent OnOverlow;
    TNotifyEvent OnEmpty;
    TNotifyEvent OnFillQueue;
    TNotifyEvent OnFillQueueEnd;
    TNotifyEvent OnFlushQueue;
    TNotifyEvent OnFlushQueueEnd;

    // ---- the queue ----
    void PutBuffer(const char* data, DWORD bytes, DWORD flags, DWORD_PTR user);
    void GetData(char* data, DWORD& bytes, DWORD& flags, DWORD_PTR& user);
    DWORD WriteData(const char* data, DWORD bytes, DWORD flags);
    DWORD ReadData(char* data, DWORD bytes);
    void ResetQueue();
    bool IsEmpty();
    bool IsFull();
    int RingCount();
    std::int64_t RingBytes();
    std::int64_t BytesFree();
    bool Primed();

    // ---- stage virtuals ----
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Reset() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

private:
    friend class TMMQueueThread;
    struct Entry {
        DWORD bytes = 0;
        DWORD_PTR user = 0;
        DWORD flags = 0;
        std::unique_ptr<char[]> data; // zero-filled, BufferSize bytes
    };
    bool IsOpenRing() const { return FRingOpen.load(); }
    void CheckChangeWhileOpen();
    // Stores one entry; false when the ring is full (or not open).
    bool StoreLocked(const char* data, DWORD bytes, DWORD flags, DWORD_PTR user);
    std::uint8_t SilenceByte() const;
    void StopQueueWork(); // the part of Stopped, Reset and Closed that ends the queue's work
    void WakeQueueThread();
    bool WaitQueueThread(int timeoutMs);
    void StartQueueThread();
    void EndQueueThread();
    void FillQueue();  // on the queue thread, qmRead
    void FlushQueue(); // on the queue thread, qmWrite and at a stop in qmWrite
    void Fire(const TNotifyEvent& event);

    int FNumBuffers = 20;
    TMMQueueMode FQueueMode = qmNone;
    std::atomic<bool> FEnabled{true};
    std::atomic<bool> FWaitIfFull{false};
    std::atomic<bool> FLoopIfEmpty{false};
    int FTimeOut = 10000;

    // Guards the entries, the indexes and counts; never held while an event fires or the queue
    // thread is waited for.
    std::recursive_mutex FLock;
    std::condition_variable_any FChanged; // room, a stop or a close, for a writer that waits
    std::vector<Entry> FEntries;
    int FEntrySize = 0;
    int FRingCount = 0;
    std::int64_t FRingBytes = 0;
    int FWriteIndex = 0;
    int FReadIndex = 0;
    int FLastReadIndex = 0;
    bool FHasLastRead = false; // an entry has been read since the queue was last emptied
    bool FPrimed = false;
    std::atomic<bool> FRingOpen{false};
    std::atomic<bool> FStopping{false};
    std::atomic<int> FWaitingWriters{0};

    // Loop state taken from the pulled requests.
    bool FLooping = false;
    std::int32_t FLoopCount = 0;
    std::int32_t FLoopsLeft = 0;
    bool FLoopRestart = false;

    std::unique_ptr<char[]> FScratch; // header, then max(65536, BufferSize) bytes, zero-filled
    TMMBufferHeader* FScratchHeader = nullptr;
    DWORD FReadChunk = 0;
    DWORD FWriteChunk = 0;

    std::shared_ptr<TMMQueueThread::Link> FLink;
    TMMQueueThread* FThread = nullptr;
};

} // namespace tunefold
