#include "engine/framework/resources.h"

#include <cctype>

// Filled by the build: one entry per file of resources/, generated into the build folder.
namespace tunefold::embedded {
extern const TResourceEntry kResources[];
extern const std::size_t kResourceCount;
} // namespace tunefold::embedded

namespace tunefold {

namespace {
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
} // namespace

std::optional<std::span<const std::uint8_t>> FindResource(std::string_view name) {
    for (std::size_t i = 0; i < embedded::kResourceCount; ++i) {
        const TResourceEntry& e = embedded::kResources[i];
        if (SameName(e.name, name))
            return std::span<const std::uint8_t>(e.data, e.size);
    }
    return std::nullopt;
}

std::optional<TRaster> LoadBitmapResource(std::string_view name) {
    const auto data = FindResource(name);
    if (!data)
        return std::nullopt;
    return ReadBMP(*data);
}

std::vector<std::string_view> ResourceNames() {
    std::vector<std::string_view> names;
    for (std::size_t i = 0; i < embedded::kResourceCount; ++i)
        names.emplace_back(embedded::kResources[i].name);
    return names;
}

} // namespace tunefold
