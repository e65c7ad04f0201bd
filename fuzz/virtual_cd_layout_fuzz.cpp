// The virtual drive's disc layout reader on arbitrary bytes: it must never fault, and a layout it
// accepts is a disc a drive can hold (1 to 99 tracks in rising order, numbered from 1, the lead-out
// after the last start, all below 100 minutes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/virtual/virtual_cd_drive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace pf = tunefold::platform;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    pf::VirtualDiscLayout layout;
    std::string error;
    if (!pf::ParseVirtualDiscLayout(text, layout, error)) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    if (!layout.disc) {
        return 0;
    }
    const auto& tracks = layout.disc->tracks;
    if (tracks.empty() || tracks.size() > 99) {
        std::abort();
    }
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].number != static_cast<int>(i) + 1 ||
            (i > 0 && tracks[i].startFrame <= tracks[i - 1].startFrame)) {
            std::abort();
        }
    }
    if (layout.disc->leadOutFrame <= tracks.back().startFrame || layout.disc->leadOutFrame > 100 * 60 * 75) {
        std::abort();
    }
    return 0;
}
