// Files for a test to work on: a fresh folder in the sandbox, whole files written and read back.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

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

} // namespace tunefold::test
