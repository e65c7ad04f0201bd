// The store's parser over any bytes: it never crashes, and whatever it accepts comes back unchanged
// through the writer, so a store the program wrote is always one it can read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry_file.h"

using namespace tunefold::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    RegistryTree tree;
    if (!ParseRegistryFile(bytes, tree)) {
        if (!tree.keys.empty()) {
            std::abort(); // a refused store must not hand out part of itself
        }
        return 0;
    }
    const std::string text = FormatRegistryFile(tree);
    RegistryTree again;
    if (!ParseRegistryFile(text, again) || !(again == tree) || FormatRegistryFile(again) != text) {
        std::abort();
    }
    return 0;
}
