// The wave output front over a scripted sink that takes only as much as it has room for and hears
// only what the test says: the front's own thread must feed it as room comes, return the headers in
// order once heard (flag first), and survive a device closed from inside its own notifications.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/wave_header.h"
#include "platform/wave_out_front.h"

namespace tunefold::platform {
namespace {

struct Script {
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t room = 0;  // frames the sink still takes
    std::uint64_t heard = 0; // frames the sink has played (of those written)
    std::vector<char> bytes; // everything taken, in order
    int closes = 0;
    int pauses = 0; // the sink was asked to hold its audio
    int drops = 0;

    void Set(std::uint64_t newRoom, std::uint64_t newHeard) {
        {
            std::lock_guard lock(mutex);
            room = newRoom;
            heard = newHeard;
        }
        changed.notify_all();
    }
};

// Drops a trailing partial frame, as ALSA does.
class ScriptedSink : public PcmSink {
public:
    explicit ScriptedSink(Script& script) : script_(script) {}
    Taken Write(const char* data, std::uint64_t bytes) override {
        std::lock_guard lock(script_.mutex);
        const std::uint64_t frames = std::min(bytes / 4, script_.room);
        if (bytes < 4) {
            return {bytes, 0};
        }
        script_.room -= frames;
        script_.bytes.insert(script_.bytes.end(), data, data + frames * 4);
        written_ += frames;
        return {frames * 4, frames};
    }
    std::uint64_t Delay() override {
        std::lock_guard lock(script_.mutex);
        return written_ - std::min(written_, script_.heard);
    }
    bool Pause(bool on) override {
        std::lock_guard lock(script_.mutex);
        script_.pauses += on ? 1 : 0;
        return true;
    }
    void Drop() override {
        std::lock_guard lock(script_.mutex);
        ++script_.drops;
        written_ = 0;
        script_.heard = 0;
    }
    void WaitForRoom(std::chrono::milliseconds bound) override {
        std::unique_lock lock(script_.mutex);
        script_.changed.wait_for(lock, bound, [this] { return script_.room > 0; });
    }
    std::chrono::microseconds UntilHeard(std::uint64_t, std::uint64_t) override {
        return std::chrono::milliseconds(1);
    }
    void Close() override {
        std::lock_guard lock(script_.mutex);
        ++script_.closes;
    }

private:
    Script& script_;
    std::uint64_t written_ = 0;
};

class ScriptedPlayback : public PcmPlayback {
public:
    Script script;
    UINT Count() override { return 1; }
    MMRESULT Caps(int, WAVEOUTCAPS& caps) override {
        caps = WAVEOUTCAPS{};
        caps.szPname = "Scripted";
        return MMSYSERR_NOERROR;
    }
    MMRESULT Open(int deviceId, const WAVEFORMATEX&, PcmOpenMode mode,
                  std::unique_ptr<PcmSink>& sink) override {
        if (deviceId > 0) {
            return MMSYSERR_BADDEVICEID;
        }
        if (!mode.queryOnly) {
            sink = std::make_unique<ScriptedSink>(script);
        }
        return MMSYSERR_NOERROR;
    }
};

struct Log {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<WAVEHDR*> done;
    int flaglessDone = 0; // done notifications that came before the header's done flag
    std::vector<UINT> messages;
    WaveOutFront* front = nullptr;
    bool closeInDone = false;
    MMRESULT closeResult = MMSYSERR_ERROR;

    bool WaitForDone(std::size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return done.size() >= n; });
    }
    bool WaitForClose() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10),
                                [&] { return closeResult != MMSYSERR_ERROR; });
    }
};

void Record(std::uintptr_t handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    auto* log = reinterpret_cast<Log*>(instance);
    bool close = false;
    {
        std::lock_guard lock(log->mutex);
        log->messages.push_back(msg);
        if (msg == WOM_DONE) {
            auto* header = reinterpret_cast<WAVEHDR*>(param1);
            if (!HeaderHas(*header, WHDR_DONE) || HeaderHas(*header, WHDR_INQUEUE)) {
                ++log->flaglessDone;
            }
            log->done.push_back(header);
            close = log->closeInDone;
        }
    }
    if (close) {
        // The last header has come back: the handler closes its device from inside the notification.
        const MMRESULT result = log->front->Close(handle);
        std::lock_guard lock(log->mutex);
        log->closeResult = result;
    }
    log->changed.notify_all();
}

WAVEFORMATEX Stereo16() {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = 8000;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = 32000;
    return f;
}

struct Buffer {
    std::vector<char> data;
    WAVEHDR header{};
    Buffer(std::size_t bytes, char fill) : data(bytes, fill) {
        header.lpData = data.data();
        header.dwBufferLength = static_cast<DWORD>(bytes);
    }
};

TEST(WaveOutFront, FeedsAsRoomComesAndReturnsInOrderOnceHeard) {
    ScriptedPlayback backend;
    WaveOutFront front(backend, 0x10);
    Log log;
    const WAVEFORMATEX f = Stereo16();
    EXPECT_EQ(front.Open(nullptr, 1, &f, nullptr, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(front.Open(nullptr, 0, &f, nullptr, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    HWAVEOUT h = 0;
    ASSERT_EQ(front.Open(&h, 0, &f, &Record, reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer a(40, 'a'), b(40, 'b'), c(40, 'c'), d(6, 'd'); // d: one frame and half a frame
    for (Buffer* x : {&a, &b, &c, &d}) {
        ASSERT_EQ(front.PrepareHeader(h, &x->header), MMSYSERR_NOERROR);
    }
    backend.script.Set(15, 0);
    for (Buffer* x : {&a, &b, &c, &d}) {
        ASSERT_EQ(front.Write(h, &x->header), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(front.Write(h, &a.header), WAVERR_STILLPLAYING);
    EXPECT_EQ(front.UnprepareHeader(h, &c.header), WAVERR_STILLPLAYING);
    EXPECT_EQ(front.Close(h), WAVERR_STILLPLAYING);
    {
        std::lock_guard lock(backend.script.mutex);
        EXPECT_EQ(backend.script.bytes.size(), 60u) << "the write took what there was room for";
    }
    // Room for the rest: the device thread writes it; then 25 frames are heard.
    backend.script.Set(100, 25);
    ASSERT_TRUE(log.WaitForDone(2));
    {
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.done, (std::vector<WAVEHDR*>{&a.header, &b.header}));
    }
    MMTIME t;
    t.wType = TIME_BYTES;
    ASSERT_EQ(front.GetPosition(h, t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, TIME_BYTES);
    EXPECT_EQ(t.value, 100u);
    backend.script.Set(100, 31);
    ASSERT_TRUE(log.WaitForDone(4));
    {
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.done, (std::vector<WAVEHDR*>{&a.header, &b.header, &c.header, &d.header}));
        EXPECT_EQ(log.flaglessDone, 0);
        std::lock_guard script(backend.script.mutex);
        ASSERT_EQ(backend.script.bytes.size(), 124u) << "the half frame is dropped";
        EXPECT_EQ(backend.script.bytes[120], 'd');
    }
    t.wType = TIME_SAMPLES;
    front.GetPosition(h, t);
    EXPECT_EQ(t.value, 31u);

    // A paused device keeps what is written; a reset returns it at once and the position is 0.
    front.Pause(h);
    ASSERT_EQ(front.Write(h, &a.header), MMSYSERR_NOERROR);
    EXPECT_EQ(front.QueuedCount(), 1);
    EXPECT_TRUE(front.FirstIsPaused());
    ASSERT_EQ(front.Reset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(front.QueuedCount(), 0);
    EXPECT_TRUE(HeaderHas(a.header, WHDR_DONE));
    front.GetPosition(h, t);
    EXPECT_EQ(t.value, 0u);
    EXPECT_EQ(front.UnprepareHeader(h, &a.header), MMSYSERR_NOERROR);
    EXPECT_FALSE(HeaderHas(a.header, WHDR_PREPARED));
    EXPECT_EQ(front.Write(h, &a.header), WAVERR_UNPREPARED);
    ASSERT_EQ(front.Close(h), MMSYSERR_NOERROR);
    EXPECT_EQ(front.Close(h), MMSYSERR_INVALHANDLE);
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.messages.front(), WOM_OPEN);
    EXPECT_EQ(log.messages.back(), WOM_CLOSE);
    EXPECT_EQ(backend.script.closes, 1);
}

// The end of a stream as the engine makes it: every header heard, then a pause, a reset and the
// close. A sound server's delay can be early, so the sink may still hold the last frames: it is
// neither held nor dropped. A stream stopped with frames unheard is held and dropped at once.
TEST(WaveOutFront, ASinkThatPlayedEverythingIsNeitherHeldNorDropped) {
    ScriptedPlayback backend;
    WaveOutFront front(backend, 0x10);
    Log log;
    const WAVEFORMATEX f = Stereo16();
    HWAVEOUT h = 0;
    ASSERT_EQ(front.Open(&h, 0, &f, &Record, reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer a(40, 'a'), b(40, 'b');
    for (Buffer* x : {&a, &b}) {
        ASSERT_EQ(front.PrepareHeader(h, &x->header), MMSYSERR_NOERROR);
    }
    backend.script.Set(100, 0);
    ASSERT_EQ(front.Write(h, &a.header), MMSYSERR_NOERROR);
    backend.script.Set(100, 10);
    ASSERT_TRUE(log.WaitForDone(1));
    ASSERT_EQ(front.Pause(h), MMSYSERR_NOERROR);
    ASSERT_EQ(front.Reset(h), MMSYSERR_NOERROR);
    {
        std::lock_guard lock(backend.script.mutex);
        EXPECT_EQ(backend.script.pauses, 0);
        EXPECT_EQ(backend.script.drops, 0);
    }

    // Stopped in the middle: 10 frames written, 5 heard.
    ASSERT_EQ(front.Restart(h), MMSYSERR_NOERROR);
    backend.script.Set(100, 15);
    ASSERT_EQ(front.Write(h, &b.header), MMSYSERR_NOERROR);
    ASSERT_EQ(front.Pause(h), MMSYSERR_NOERROR);
    ASSERT_EQ(front.Reset(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(log.WaitForDone(2));
    {
        std::lock_guard lock(backend.script.mutex);
        EXPECT_EQ(backend.script.pauses, 1);
        EXPECT_EQ(backend.script.drops, 1);
    }
    ASSERT_EQ(front.Close(h), MMSYSERR_NOERROR);
}

// A device opened for late work tells the caller of each header just before its first byte goes to
// the sink, once per write, from whichever thread feeds the sink; what the caller changes then is
// what the sink gets. Without the flag nothing is told.
struct LateLog {
    Script* script = nullptr;
    std::vector<std::pair<char, std::size_t>> told; // the header's first byte, sink bytes taken then
};

void ChangeLate(std::uintptr_t, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (msg != WOM_LATE) {
        return;
    }
    auto* log = reinterpret_cast<LateLog*>(instance);
    auto* header = reinterpret_cast<WAVEHDR*>(param1);
    std::size_t taken = 0;
    {
        std::lock_guard lock(log->script->mutex);
        taken = log->script->bytes.size();
    }
    log->told.emplace_back(header->lpData[0], taken);
    for (DWORD i = 0; i < header->dwBufferLength; ++i) {
        header->lpData[i] = static_cast<char>(header->lpData[i] - 'a' + 'A');
    }
}

TEST(WaveOutFront, LateWorkIsAskedForOncePerWriteJustBeforeTheFirstByte) {
    ScriptedPlayback backend;
    WaveOutFront front(backend, 0x10);
    LateLog late;
    late.script = &backend.script;
    const WAVEFORMATEX f = Stereo16();
    HWAVEOUT h = 0;
    ASSERT_EQ(front.Open(&h, 0, &f, &ChangeLate, reinterpret_cast<DWORD_PTR>(&late),
                         CALLBACK_FUNCTION | WAVE_LATE_WORK),
              MMSYSERR_NOERROR);
    Buffer a(40, 'a'), b(40, 'b'), c(40, 'c');
    for (Buffer* x : {&a, &b, &c}) {
        ASSERT_EQ(front.PrepareHeader(h, &x->header), MMSYSERR_NOERROR);
    }
    backend.script.Set(15, 0); // a whole, half of b
    for (Buffer* x : {&a, &b, &c}) {
        ASSERT_EQ(front.Write(h, &x->header), MMSYSERR_NOERROR);
    }
    backend.script.Set(100, 30); // the device thread writes the rest as it hears
    ASSERT_EQ(front.Pause(h), MMSYSERR_NOERROR);
    ASSERT_EQ(front.Restart(h), MMSYSERR_NOERROR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (front.QueuedCount() > 0 && std::chrono::steady_clock::now() < deadline) {
        backend.script.Set(100, 30);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(front.Reset(h), MMSYSERR_NOERROR);
    {
        std::lock_guard lock(backend.script.mutex);
        EXPECT_EQ(std::string(backend.script.bytes.begin(), backend.script.bytes.end()),
                  std::string(40, 'A') + std::string(40, 'B') + std::string(40, 'C'));
    }
    // b was told once though it went out in two writes; each was told before any byte of it.
    ASSERT_EQ(late.told.size(), 3u);
    EXPECT_EQ(late.told[0], std::make_pair('a', std::size_t{0}));
    EXPECT_EQ(late.told[1], std::make_pair('b', std::size_t{40}));
    EXPECT_EQ(late.told[2], std::make_pair('c', std::size_t{80}));

    // Written again after the reset, a header is told again.
    std::fill(a.data.begin(), a.data.end(), 'a');
    ASSERT_EQ(front.Write(h, &a.header), MMSYSERR_NOERROR);
    EXPECT_EQ(late.told.size(), 4u);
    ASSERT_EQ(front.Reset(h), MMSYSERR_NOERROR);
    ASSERT_EQ(front.Close(h), MMSYSERR_NOERROR);

    // Opened without the flag: the data goes out as written.
    LateLog none;
    none.script = &backend.script;
    ASSERT_EQ(front.Open(&h, 0, &f, &ChangeLate, reinterpret_cast<DWORD_PTR>(&none), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    std::fill(c.data.begin(), c.data.end(), 'c');
    ASSERT_EQ(front.Write(h, &c.header), MMSYSERR_NOERROR);
    ASSERT_EQ(front.Reset(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(none.told.empty());
    ASSERT_EQ(front.Close(h), MMSYSERR_NOERROR);
}

// Closed from inside a done notification, on the device's own thread and on a thread whose reset
// returns the headers while the device thread may be waiting to return others: neither waits for
// a thread that waits for it, and the sink is closed once.
TEST(WaveOutFront, ClosedFromInsideItsOwnNotifications) {
    ScriptedPlayback backend;
    for (int round = 0; round < 20; ++round) {
        auto front = std::make_unique<WaveOutFront>(backend, 0x10);
        Log log;
        log.front = front.get();
        log.closeInDone = true;
        const WAVEFORMATEX f = Stereo16();
        HWAVEOUT h = 0;
        ASSERT_EQ(front->Open(&h, 0, &f, &Record, reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION), 0u);
        Buffer a(40, 'a');
        front->PrepareHeader(h, &a.header);
        backend.script.Set(100, 0);
        front->Write(h, &a.header);
        if (round % 2 == 0) {
            backend.script.Set(100, 10); // heard: the device thread returns it and closes
        } else {
            backend.script.Set(100, 10);
            front->Reset(h); // whichever of the two returns it, the close happens inside
        }
        ASSERT_TRUE(log.WaitForClose());
        front.reset(); // joins what could not be joined inside
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.done.size(), 1u);
        EXPECT_EQ(log.closeResult, MMSYSERR_NOERROR);
        EXPECT_EQ(log.messages.back(), WOM_CLOSE);
    }
    EXPECT_EQ(backend.script.closes, 20);
}

} // namespace
} // namespace tunefold::platform
