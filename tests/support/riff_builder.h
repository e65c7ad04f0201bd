// Builds RIFF images byte by byte for tests of the chunk rules.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/wave_types.h"

namespace tunefold::test {

class RiffBuilder {
public:
    RiffBuilder& Raw(const void* data, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + n);
        return *this;
    }
    RiffBuilder& Str(const char* s) { return Raw(s, std::strlen(s)); }
    RiffBuilder& U16(std::uint16_t v) {
        std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
        return Raw(b, 2);
    }
    RiffBuilder& U32(std::uint32_t v) {
        std::uint8_t b[4];
        for (int i = 0; i < 4; ++i) {
            b[i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
        return Raw(b, 4);
    }
    RiffBuilder& Bytes(std::size_t n, std::uint8_t value) {
        bytes.insert(bytes.end(), n, value);
        return *this;
    }
    // A chunk header followed by a body; the pad byte is added when `pad` is set and the size odd.
    RiffBuilder& Chunk(const char* id, const std::vector<std::uint8_t>& body, bool pad = true) {
        Str(id).U32(static_cast<std::uint32_t>(body.size()));
        Raw(body.data(), body.size());
        if (pad && body.size() % 2 != 0) {
            bytes.push_back(0);
        }
        return *this;
    }
    // The standard 16 or 18 byte fmt chunk.
    RiffBuilder& Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                     std::uint16_t blockAlign, std::uint32_t avg, std::uint32_t size = 16,
                     std::uint16_t cbSize = 0) {
        RiffBuilder b;
        b.U16(tag).U16(channels).U32(rate).U32(avg).U16(blockAlign).U16(bits);
        if (size >= 18) {
            b.U16(cbSize);
        }
        while (b.bytes.size() < size) {
            b.bytes.push_back(0);
        }
        b.bytes.resize(size);
        return Chunk("fmt ", b.bytes);
    }
    RiffBuilder& Pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
        std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
        return Fmt(1, channels, rate, bits, align, align * rate);
    }
    std::size_t Size() const { return bytes.size(); }

    // "RIFF" size "WAVE" + body; outerSize overrides the size field (for damaged files).
    static std::vector<std::uint8_t> Wave(const RiffBuilder& body, std::int64_t outerSize = -1) {
        RiffBuilder r;
        r.Str("RIFF").U32(outerSize >= 0 ? static_cast<std::uint32_t>(outerSize)
                                         : static_cast<std::uint32_t>(body.bytes.size() + 4));
        r.Str("WAVE");
        r.Raw(body.bytes.data(), body.bytes.size());
        return r.bytes;
    }

    std::vector<std::uint8_t> bytes;
};

inline std::vector<std::uint8_t> Ramp16(std::size_t frames, int channels) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            auto v = static_cast<std::uint16_t>(
                static_cast<std::int16_t>(i * 7 + static_cast<std::size_t>(c) * 1000));
            out.push_back(static_cast<std::uint8_t>(v));
            out.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    }
    return out;
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

} // namespace tunefold::test
