// What the wave output tests share: a source of known bytes that can seek and loop, a sink that
// sees every played buffer, and a fixture that drives the virtual card and the GUI thread.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/devices/wave_out.h"
#include "platform/message_loop.h"
#include "platform/virtual/virtual_sound_card.h"

namespace tunefold::test {

inline WAVEFORMATEX Stereo16(DWORD rate = 44100) {
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 2, rate);
    return f;
}

// The byte at offset i of every test stream.
inline std::uint8_t PatternByte(std::size_t i) {
    return static_cast<std::uint8_t>((i * 7 + i / 251 + 3) & 0xFF);
}

// A source of `total` pattern bytes. It follows the loop protocol of the file sources: at its end,
// with looping on, it counts a pass down and starts again, marking the buffer that wrapped.
class PatternSource : public TMMDSPComponent {
public:
    explicit PatternSource(std::size_t total, const WAVEFORMATEX* format) : total_(total) {
        if (format != nullptr) {
            SetPWaveFormat(format);
        }
    }
    bool PublishesInput() const override { return false; }

    void BufferLoad(PWaveHdr h, bool& more) override {
        TMMDSPComponent::BufferLoad(h, more); // fires OnBufferLoad
        loads.fetch_add(1);
        if (lieAfter >= 0 && loads.load() > lieAfter) {
            h->dwBytesRecorded = 0; // announced more, delivers nothing
            more = true;
            return;
        }
        const std::size_t pos = position.load();
        const std::size_t n = std::min<std::size_t>(h->dwBufferLength, total_ - pos);
        for (std::size_t i = 0; i < n; ++i) {
            h->lpData[i] = static_cast<char>(PatternByte(pos + i));
        }
        h->dwBytesRecorded = static_cast<DWORD>(n);
        position.store(pos + n);
        more = pos + n < total_;
        auto* b = AsBufferHeader(h);
        if (!more && b->LoopEnabled != 0) {
            if (b->LoopCount > 0) {
                --b->LoopsLeft;
            }
            if (b->LoopCount == 0 || b->LoopsLeft >= 0) {
                position.store(0);
                wraps.fetch_add(1);
                b->LoopRestart = -1;
                more = true;
            }
        }
    }
    void Reset() override { resets.fetch_add(1); }
    void Seek(std::size_t pos) { position.store(pos); }

    std::atomic<std::size_t> position{0};
    std::atomic<int> loads{0};
    std::atomic<int> wraps{0};
    std::atomic<int> resets{0};
    int lieAfter = -1; // from this many loads on, announce more but deliver nothing

private:
    std::size_t total_;
};

// The downstream stage: counts the buffers it was handed and checks they hold what was played.
class CountingSink : public TMMDSPComponent {
public:
    bool PublishesOutput() const override { return false; }
    void BufferReady(PWaveHdr h) override {
        std::lock_guard lock(mutex);
        bytes += h->dwBytesRecorded;
        ++buffers;
    }
    std::mutex mutex;
    std::uint64_t bytes = 0;
    int buffers = 0;
};

inline platform::VirtualSoundCard& Card() {
    return platform::VirtualSoundCard::Instance();
}

// Waits, processing the GUI thread's messages, until `done` holds (false after `timeoutMs`).
inline bool PumpUntil(const std::function<bool()>& done, long timeoutMs = 10000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        platform::MessageLoop::Gui().ProcessMessages();
        if (done()) {
            return true;
        }
        std::this_thread::yield();
    }
    platform::MessageLoop::Gui().ProcessMessages();
    return done();
}

// Lets every completion the card has sent be handled, on whatever route the mode uses.
inline void Settle(TMMWaveOut& wo) {
    for (int round = 0; round < 3; ++round) {
        PumpUntil([&] { return wo.CompletionsIdle(); });
    }
}

inline const char* ModeName(TMMCBMode mode) {
    switch (mode) {
    case cmWindow:
        return "Window";
    case cmCallback:
        return "Callback";
    case cmThread:
        return "Thread";
    }
    return "?";
}

} // namespace tunefold::test
