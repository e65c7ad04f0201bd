// The scheme file reader on arbitrary bytes: it must never fault, a rejected file leaves the slots
// as they were, and what the writer makes of accepted slots reads back to the same slots. The same
// bytes as a name typed into "Save as...": a name that is taken names a file directly in the
// program's folder, never one elsewhere or a hidden one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/logic/colour_scheme.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (tunefold::SchemeNameAcceptable(text)) {
        const std::string folder = "/program";
        const std::string path = tunefold::SchemeFilePath(folder, text);
        const std::string file = path.substr(folder.size() + 1);
        if (path.compare(0, folder.size() + 1, folder + "/") != 0 || file.find('/') != std::string::npos ||
            file.front() == '.' || file.find('\0') != std::string::npos || file.size() > 254) {
            std::abort(); // the name escapes the folder or hides the file
        }
    }
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
