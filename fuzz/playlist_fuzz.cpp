// The playlist reader over any bytes: the entries do not depend on how the bytes arrive, no entry is
// empty or holds a line end (CR or LF) or the end mark, and what the writer makes of the entries reads back
// as the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/logic/playlist_file.h"

using tunefold::PlaylistLineSplitter;

namespace {

std::vector<std::string> Split(std::string_view bytes, std::size_t piece) {
    std::vector<std::string> entries;
    PlaylistLineSplitter splitter(entries);
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (!splitter.Feed(bytes.substr(at, piece))) {
            break;
        }
    }
    splitter.Finish();
    return entries;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the piece size the reader is fed in.
    const std::size_t piece = 1 + data[0] % 17;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::vector<std::string> whole = Split(bytes, bytes.size() + 1);
    if (Split(bytes, piece) != whole) {
        std::abort();
    }
    std::string written;
    for (const auto& entry : whole) {
        if (entry.empty() || entry.find_first_of("\r\n") != std::string::npos ||
            entry.find('\x1a') != std::string::npos) {
            std::abort();
        }
        written += entry;
        written += "\r\n";
    }
    if (Split(written, piece) != whole) {
        std::abort();
    }
    return 0;
}
