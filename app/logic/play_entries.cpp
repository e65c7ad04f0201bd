#include "app/logic/play_entries.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>

#include "app/logic/playlist_file.h"
#include "engine/sources/mpeg_file.h"
#include "engine/sources/wave_io.h"
#include "platform/dynamic_library.h"
#include "platform/input_file.h"
#include "platform/paths.h"

namespace tunefold {

namespace {

std::string Folder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

std::string LowerExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return {};
    }
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// A file whose name says it is audio is never read as a list: a damaged "x.mp3" that happens to
// hold a path must not play some other file.
bool NamedAsAudio(const std::string& path) {
    static const std::array<std::string_view, 9> kAudio = {"wav", "mp1", "mp2", "mp3", "mpa",
                                                           "l1",  "l2",  "l3",  "atx"};
    const std::string ext = LowerExtension(path);
    return std::find(kAudio.begin(), kAudio.end(), ext) != kAudio.end();
}

// Length in bytes of the UTF-8 sequence at `s` that shows as printable text, 0 when there is none.
std::size_t PrintableSequence(std::string_view s) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) {
        return (b0 >= 0x20 && b0 != 0x7f) ? 1 : 0;
    }
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if ((b0 & 0xe0) == 0xc0) {
        n = 2;
        cp = b0 & 0x1f;
    } else if ((b0 & 0xf0) == 0xe0) {
        n = 3;
        cp = b0 & 0x0f;
    } else if ((b0 & 0xf8) == 0xf0) {
        n = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n) {
        return 0;
    }
    for (std::size_t i = 1; i < n; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xc0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3f);
    }
    static constexpr std::array<std::uint32_t, 5> kMin = {0, 0, 0x80, 0x800, 0x10000};
    // Overlong forms, surrogates, and the C1 controls (a terminal may take 0x9b as an escape).
    if (cp < kMin[n] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff) || (cp >= 0x80 && cp < 0xa0)) {
        return 0;
    }
    return n;
}

} // namespace

std::string ResolvePlaylistEntry(std::string entry, const std::string& listFile) {
    return ResolvePlaylistEntry(std::move(entry), listFile, platform::ProgramFolder());
}

std::string ResolvePlaylistEntry(std::string entry, const std::string& listFile,
                                 const std::string& programFolder) {
    std::replace(entry.begin(), entry.end(), '\\', '/');
    if (!entry.empty() && entry[0] == '/' && !platform::IsRegularFile(entry)) {
        entry.erase(0, 1);
    }
    if (!entry.empty() && entry[0] != '/') {
        const std::string a = Folder(listFile) + "/" + entry;
        const std::string b = platform::JoinPath(programFolder, entry);
        if (platform::IsRegularFile(a)) {
            entry = a;
        }
        if (platform::IsRegularFile(b)) {
            entry = b;
        }
    }
    return entry;
}

bool ReadPlayerList(const std::string& fileName, std::vector<std::string>& list) {
    if (NamedAsAudio(fileName)) {
        return false;
    }
    try {
        return ReadPlaylistFile(fileName, list) == TPlaylistRead::Ok;
    } catch (const std::exception&) {
        return false;
    }
}

TPlayItems PlayItemsFor(const std::string& fileName) {
    TPlayItems items;
    if (!platform::IsRegularFile(fileName)) {
        items.notValid = true;
        return items;
    }
    if (IsMpegFile(fileName) || IsWaveFile(fileName, wioFile)) {
        items.files.push_back(fileName);
        return items;
    }
    std::vector<std::string> list;
    if (!ReadPlayerList(fileName, list)) {
        items.notValid = true;
        return items;
    }
    for (const auto& entry : list) {
        if (entry[0] == '#') {
            continue;
        }
        std::string path = ResolvePlaylistEntry(entry, fileName);
        if (platform::IsRegularFile(path)) {
            items.files.push_back(std::move(path));
        }
    }
    return items;
}

std::string PrintableText(std::string_view text, std::size_t limit) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (out.size() >= limit) {
            out += "...";
            break;
        }
        const std::size_t n = PrintableSequence(text.substr(i));
        if (n > 0) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        const auto b = static_cast<unsigned char>(text[i]);
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
        ++i;
    }
    return out;
}

} // namespace tunefold
