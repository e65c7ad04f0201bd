// Files for a test to work on: a fresh folder in the sandbox, whole files written and read back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_env.h"

namespace tunefold::test {

// A new empty folder in the sandbox, named `prefix` and a serial number.
inline std::filesystem::path FreshFolder(const std::string& prefix) {
    static int serial = 0;
    std::filesystem::path folder = Sandbox() / (prefix + "-" + std::to_string(++serial));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The 16-bit samples of a RIFF WAVE file's data chunk (the chunks are walked: others may come
// before or after it); empty when there is none.
inline std::vector<std::int16_t> ReadWaveSamples(const std::filesystem::path& path) {
    const std::string bytes = ReadWhole(path);
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        std::uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (bytes.compare(at, 4, "data") == 0) {
            const std::size_t n = std::min<std::size_t>(size, bytes.size() - at - 8) / 2;
            std::vector<std::int16_t> s(n);
            std::memcpy(s.data(), bytes.data() + at + 8, n * 2);
            return s;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

} // namespace tunefold::test
