// What the ring buffer and wave input tests share: requests as the devices make them, entries of
// known bytes, and a stage that keeps every buffer pushed to it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/devices/ring_buffer.h"
#include "engine/framework/pcm.h"

namespace tunefold::test {

// One buffer record with its data behind it, as a device allocates it.
class Request {
public:
    explicit Request(DWORD bytes) : block_(BufferHeaderBytes + bytes) {
        header_ = InitBufferHeader(block_.data(), bytes);
    }
    TMMBufferHeader& Header() { return *header_; }
    PWaveHdr Wave() { return &header_->wh; }
    const std::uint8_t* Data() const { return reinterpret_cast<const std::uint8_t*>(header_->wh.lpData); }
    std::vector<std::uint8_t> Bytes() const { return {Data(), Data() + header_->wh.dwBytesRecorded}; }
    // A pull of `length` bytes, as the output device asks for one.
    bool Pull(TMMDSPComponent& stage, DWORD length) {
        header_->wh.dwBufferLength = length;
        header_->wh.dwBytesRecorded = 0;
        bool more = false;
        stage.BufferLoad(Wave(), more);
        return more;
    }

private:
    std::vector<std::uint8_t> block_;
    TMMBufferHeader* header_;
};

// Bytes of entry `index`: none of them is 0 or 0x80, so silence is never mistaken for them.
inline std::vector<std::uint8_t> EntryBytes(int index, std::size_t bytes) {
    std::vector<std::uint8_t> out(bytes);
    for (std::size_t j = 0; j < bytes; ++j) {
        const auto v = static_cast<std::uint8_t>((index * 37 + static_cast<int>(j) * 11) % 120 + 1);
        out[j] = v;
    }
    return out;
}

inline void Push(TMMDSPComponent& stage, const std::vector<std::uint8_t>& bytes) {
    Request r(static_cast<DWORD>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), r.Wave()->lpData);
    r.Wave()->dwBytesRecorded = static_cast<DWORD>(bytes.size());
    stage.BufferReady(r.Wave());
}

// Keeps every buffer pushed to it, in order.
class CollectingSink : public TMMDSPComponent {
public:
    bool PublishesOutput() const override { return false; }
    void BufferReady(PWaveHdr h) override {
        std::lock_guard lock(mutex);
        const auto* p = reinterpret_cast<const std::uint8_t*>(h->lpData);
        data.insert(data.end(), p, p + h->dwBytesRecorded);
        sizes.push_back(h->dwBytesRecorded);
    }
    std::size_t Bytes() {
        std::lock_guard lock(mutex);
        return data.size();
    }
    std::mutex mutex;
    std::vector<std::uint8_t> data;
    std::vector<DWORD> sizes;
};

inline WAVEFORMATEX Pcm(int bits, int channels, DWORD rate) {
    WAVEFORMATEX f{};
    MakePCMFormat(f, bits, channels, rate);
    return f;
}

} // namespace tunefold::test
