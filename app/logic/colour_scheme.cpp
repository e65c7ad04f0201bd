#include "app/logic/colour_scheme.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/input_file.h"

namespace tunefold {

namespace {

// 30 lines of a few characters each; anything near this size is not a scheme.
constexpr std::size_t kMaxSchemeFile = 64 * 1024;
constexpr std::size_t kMaxToken = 32;

constexpr std::uint32_t Teal = 0x808000, Aqua = 0xFFFF00, Olive = 0x008080, Yellow = 0x00FFFF,
                        Maroon = 0x000080, Red = 0x0000FF, Green = 0x008000, Lime = 0x00FF00,
                        Black = 0x000000, Gray = 0x808080;

constexpr TColourSlots kStandard = {
    Teal,   Aqua,   Olive, Yellow, Maroon, Red,   Green,  Lime,  Olive, Yellow, // Col1..Col10
    Maroon, Red,    Teal,  Aqua,   Black,  Gray,  Black,  Gray,  Teal,  Aqua,   // Col11..Col20
    Teal,   Maroon, Olive, Green,  Teal,   Olive, Maroon, Black, Black, Teal,   // Col21..Col30
};

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

int DigitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    }
    return v;
}

// A 32-bit integer as the runtime's number reader takes it: an optional sign, then decimal digits
// or "$" and hexadecimal digits. Hexadecimal covers the whole 32 bits (so "$FFFFFFFF" is -1);
// decimal must fit a signed 32-bit number.
bool ConvertToken(std::string_view token, std::uint32_t& value) {
    bool negative = false;
    if (!token.empty() && (token.front() == '-' || token.front() == '+')) {
        negative = token.front() == '-';
        token.remove_prefix(1);
    }
    int base = 10;
    if (!token.empty() && token.front() == '$') {
        base = 16;
        token.remove_prefix(1);
    }
    if (token.empty()) {
        return false;
    }
    const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t magnitude = 0;
    for (char c : token) {
        int d = DigitValue(c, base);
        if (d < 0) {
            return false;
        }
        magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        if (magnitude > limit) {
            return false;
        }
    }
    std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
    value = negative ? static_cast<std::uint32_t>(0u - bits) : bits;
    return true;
}

// Past the end of the current line: its CR LF, CR or LF.
void SkipLine(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && text[pos] != '\r' && text[pos] != '\n') {
        ++pos;
    }
    if (pos < text.size() && text[pos] == '\r') {
        ++pos;
    }
    if (pos < text.size() && text[pos] == '\n') {
        ++pos;
    }
}

} // namespace

const TColourSlots& StandardColours() {
    return kStandard;
}

bool SchemeNameUsable(std::string_view name) {
    if (name == "." || name == "..") {
        return false;
    }
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool SchemeNameAcceptable(std::string_view name) {
    if (name.empty() || name == " " || name.size() > MaxSchemeNameBytes || name.front() == '.') {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == '/' || u < 32 || u == 127;
    });
}

std::vector<std::string> ListSchemes(const std::string& programFolder) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(programFolder.empty() ? fs::path(".") : fs::path(programFolder), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) {
            continue;
        }
        const std::string file = it->path().filename().string();
        if (file.size() <= 3 || file.compare(file.size() - 3, 3, ".sc") != 0) {
            continue;
        }
        std::string name = file.substr(0, file.size() - 3);
        if (SchemeNameAcceptable(name)) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool DeleteScheme(const std::string& programFolder, std::string_view name) {
    const std::string path = SchemeFilePath(programFolder, name);
    std::error_code ec;
    return !path.empty() && std::filesystem::remove(path, ec) && !ec;
}

std::string SchemeFilePath(const std::string& programFolder, std::string_view name) {
    if (!SchemeNameUsable(name)) {
        return {};
    }
    std::string path = programFolder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path.append(name);
    path += ".sc";
    return path;
}

bool ParseSchemeText(std::string_view text, TColourSlots& slots) {
    TColourSlots read{};
    std::size_t pos = 0;
    for (std::uint32_t& slot : read) {
        while (pos < text.size() && IsBlank(text[pos])) {
            ++pos;
        }
        if (pos >= text.size()) {
            slot = 0; // the end of the file reads as 0
            continue;
        }
        const std::size_t start = pos;
        while (pos < text.size() && !IsBlank(text[pos]) && pos - start < kMaxToken) {
            ++pos;
        }
        if (!ConvertToken(text.substr(start, pos - start), slot)) {
            return false;
        }
        SkipLine(text, pos);
    }
    slots = read;
    return true;
}

std::string FormatSchemeText(const TColourSlots& slots) {
    std::string text;
    for (std::uint32_t value : slots) {
        text += std::to_string(static_cast<std::int32_t>(value));
        text += "\r\n";
    }
    return text;
}

void LoadColors(const std::string& programFolder, std::string_view name, TColourSlots& slots) {
    const std::string path = SchemeFilePath(programFolder, name);
    std::string bytes;
    if (!path.empty() &&
        platform::ReadRegularFile(path, kMaxSchemeFile, bytes) == platform::InputFileError::None &&
        ParseSchemeText(bytes, slots)) {
        return;
    }
    slots = kStandard;
}

bool WriteScheme(const std::string& programFolder, std::string_view name, const TColourSlots& slots) {
    const std::string path = SchemeFilePath(programFolder, name);
    if (path.empty()) {
        return false;
    }
    return platform::ReplaceFileContents(path, FormatSchemeText(slots));
}

} // namespace tunefold
