#include "app/windows/colour_slots.h"

namespace tunefold::windows {

TColourSlots StartColourSlots() {
    // Col1 .. Col30, 0x00BBGGRR.
    return {0x808000, 0xFFFF00, 0x008080, 0x00FFFF, 0x000080, 0x0000FF, 0x008000, 0x00FF00,
            0x008080, 0x00FFFF, 0x000080, 0x0000FF, 0x808000, 0xFFFF00, 0x000000, 0x808080,
            0x000000, 0x808080, 0x808000, 0xFFFF00, 0x808000, 0x000080, 0x008080, 0x008000,
            0x808000, 0x008080, 0x000080, 0x000000, 0x000000, 0x808000};
}

std::uint32_t ThroughGlass(std::uint32_t unlit, std::uint32_t glass, int percent) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const auto u = static_cast<int>((unlit >> shift) & 0xFF);
        const auto g = static_cast<int>((glass >> shift) & 0xFF);
        out |= static_cast<std::uint32_t>((u * percent + g * (100 - percent)) / 100) << shift;
    }
    return out;
}

} // namespace tunefold::windows
