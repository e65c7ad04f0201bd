// Pulls a stream out of a chain the way the output device does: one buffer at a time, until a
// buffer comes back without MoreBuffers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "engine/framework/dsp_component.h"

namespace tunefold::test {

class PullBuffer {
public:
    explicit PullBuffer(std::uint32_t bytes) : block_(BufferHeaderBytes + bytes + 16, 0), size_(bytes) {
        header_ = InitBufferHeader(block_.data(), bytes);
    }
    TMMBufferHeader* Header() { return header_; }
    PWaveHdr Wave() { return AsWaveHdr(header_); }
    // One pull as the device makes it; returns MoreBuffers.
    bool Load(TMMDSPComponent& stage) {
        header_->wh.dwBufferLength = size_;
        header_->wh.dwBytesRecorded = 0;
        bool more = false;
        stage.BufferLoad(Wave(), more);
        return more;
    }
    const std::uint8_t* Data() const { return reinterpret_cast<const std::uint8_t*>(header_->wh.lpData); }
    std::uint32_t Recorded() const { return header_->wh.dwBytesRecorded; }

private:
    std::vector<std::uint8_t> block_;
    std::uint32_t size_;
    TMMBufferHeader* header_;
};

struct PullResult {
    std::vector<std::uint8_t> data;
    int buffers = 0;
    int emptyBuffers = 0;    // buffers with 0 bytes (the device counts one after MoreBuffers as a failure)
    int shortBeforeLast = 0; // buffers not full that still said MoreBuffers
    bool ended = false;
};

// Pulls until the stream ends or `maxBuffers` is reached (a hang shows as ended == false).
inline PullResult PullAll(TMMDSPComponent& stage, std::uint32_t bufferBytes, int maxBuffers = 200000) {
    PullResult r;
    PullBuffer buffer(bufferBytes);
    for (int i = 0; i < maxBuffers; ++i) {
        bool more = buffer.Load(stage);
        ++r.buffers;
        if (buffer.Recorded() == 0) {
            ++r.emptyBuffers;
        }
        r.data.insert(r.data.end(), buffer.Data(), buffer.Data() + buffer.Recorded());
        if (!more || buffer.Recorded() == 0) {
            r.ended = true;
            break;
        }
        if (buffer.Recorded() < bufferBytes) {
            ++r.shortBeforeLast;
        }
    }
    return r;
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline std::string Fixture(const std::string& name) {
    return std::string(TUNEFOLD_FIXTURE_DIR) + "/" + name;
}

// The largest absolute difference between two streams of 16-bit samples, and where the first
// difference lies (-1 when equal); differing lengths count as a difference at the shorter end.
struct SampleDiff {
    int maxAbs = 0;
    long firstIndex = -1;
};
inline SampleDiff Compare16(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    SampleDiff d;
    std::size_t n = std::min(a.size(), b.size()) / 2;
    for (std::size_t i = 0; i < n; ++i) {
        auto sa = static_cast<std::int16_t>(a[2 * i] | (a[2 * i + 1] << 8));
        auto sb = static_cast<std::int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
        int diff = std::abs(sa - sb);
        if (diff > 0 && d.firstIndex < 0) {
            d.firstIndex = static_cast<long>(i);
        }
        d.maxAbs = std::max(d.maxAbs, diff);
    }
    if (a.size() != b.size() && d.firstIndex < 0) {
        d.firstIndex = static_cast<long>(n);
    }
    return d;
}

} // namespace tunefold::test
