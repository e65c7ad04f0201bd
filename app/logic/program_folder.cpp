#include "app/logic/program_folder.h"

#include <filesystem>
#include <span>
#include <string_view>
#include <system_error>

#include "engine/framework/resources.h"
#include "platform/atomic_file.h"
#include "platform/input_file.h"
#include "platform/paths.h"

namespace tunefold {

namespace {
constexpr const char* kSkin = "skin0.bmp";
// A 24-bit picture of the main window is about 300 KB; anything past this is no skin of ours.
constexpr std::size_t kSkinCap = 16u << 20;
} // namespace

bool SeedProgramFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec && !std::filesystem::is_directory(folder, ec)) {
        return false;
    }
    const std::string skin = platform::JoinPath(folder, kSkin);
    if (std::filesystem::exists(skin, ec)) {
        return true; // the user's own picture stays
    }
    const auto embedded = FindResource("skin0");
    if (!embedded) {
        return false;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(embedded->data()), embedded->size());
    return platform::ReplaceFileContents(skin, bytes);
}

std::optional<TRaster> ReadSkinFile(const std::string& folder) {
    std::string bytes;
    if (platform::ReadRegularFile(platform::JoinPath(folder, kSkin), kSkinCap, bytes) !=
        platform::InputFileError::None) {
        return std::nullopt;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return ReadBMP(std::span<const std::uint8_t>(data, bytes.size()));
}

std::optional<TRaster> LoadSkin(const std::string& folder) {
    if (std::optional<TRaster> skin = ReadSkinFile(folder)) {
        return skin;
    }
    return LoadBitmapResource("skin0");
}

} // namespace tunefold
