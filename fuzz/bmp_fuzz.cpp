// Feeds arbitrary bytes to the bitmap reader: it must return none or a picture whose size agrees with
// its pixels, and never read outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/framework/raster.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto picture = tunefold::ReadBMP(std::span<const std::uint8_t>(data, size));
    if (picture) {
        if (picture->Pixels().size() != static_cast<std::size_t>(picture->Width()) * picture->Height())
            __builtin_trap();
        // What we read we can write and read back unchanged.
        const auto again = tunefold::ReadBMP(tunefold::WriteBMP(*picture));
        if (!again || again->Pixels() != picture->Pixels())
            __builtin_trap();
    }
    return 0;
}
