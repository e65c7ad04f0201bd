// The scheme file reader on arbitrary bytes: it must never fault, a rejected file leaves the slots
// as they were, and what the writer makes of accepted slots reads back to the same slots.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/logic/colour_scheme.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tunefold::TColourSlots slots;
    slots.fill(0x12345678);
    const tunefold::TColourSlots before = slots;
    if (!tunefold::ParseSchemeText(text, slots)) {
        if (slots != before) {
            std::abort(); // a rejected file changed the colours
        }
        return 0;
    }
    const std::string written = tunefold::FormatSchemeText(slots);
    tunefold::TColourSlots again{};
    if (!tunefold::ParseSchemeText(written, again) || again != slots) {
        std::abort();
    }
    return 0;
}
