// The mount table reader over any bytes: every point it reports lies below one of the media
// folders, and none is reported twice.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "platform/folders.h"

namespace {

bool Below(const std::string& path, std::string_view folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::set<std::string> seen;
    for (const std::string& point : tunefold::platform::MediaMountPoints(text)) {
        if (!(Below(point, "/media") || Below(point, "/run/media") || Below(point, "/mnt"))) {
            std::abort();
        }
        if (!seen.insert(point).second) {
            std::abort();
        }
    }
    return 0;
}
