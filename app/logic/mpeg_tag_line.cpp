#include "app/logic/mpeg_tag_line.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tunefold {

namespace {

constexpr std::size_t kFieldCharacters = 30;

// A tag may hold anything, and none of it may reach a terminal or a display as a command: a control
// character (C0, DEL or C1) shows as a blank.
bool IsControl(std::uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendShown(std::string& out, std::uint32_t c) {
    if (IsControl(c)) {
        out += ' ';
    } else {
        AppendUtf8(out, c);
    }
}

// An ID3v1 field: fixed width, Latin-1, ending early at the first NUL.
std::string Id3v1Field(const TMMMpegInfo& info, std::size_t offset) {
    std::string out;
    for (std::size_t i = 0; i < kFieldCharacters; ++i) {
        const auto c = static_cast<unsigned char>(info.ID3Tag[offset + i]);
        if (c == 0) {
            break;
        }
        AppendShown(out, c);
    }
    return out;
}

// One character of UTF-8 text at `i` (advanced past it); a malformed sequence, an overlong form or
// a surrogate is one U+FFFD for its first byte, so a damaged tag still shows the rest.
std::uint32_t NextCharacter(const std::string& text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    int extra = 0;
    std::uint32_t c = 0;
    std::uint32_t least = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        c = b0 & 0x1F;
        least = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        c = b0 & 0x0F;
        least = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        c = b0 & 0x07;
        least = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + static_cast<std::size_t>(extra) >= text.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        c = (c << 6) | (b & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += static_cast<std::size_t>(extra) + 1;
    return c;
}

// An ID3v2 text field (UTF-8 from the decoder library): up to 30 characters, ending early at a NUL.
std::string Id3v2Field(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    for (std::size_t n = 0; n < kFieldCharacters && i < text.size() && text[i] != '\0'; ++n) {
        AppendShown(out, NextCharacter(text, i));
    }
    return out;
}

} // namespace

TMpegTagFields MpegTagFields(const TMMMpegInfo& info, const TMMMpegTextTags& tags) {
    TMpegTagFields f;
    if (std::memcmp(info.ID3Tag, "TAG", 3) == 0) {
        f.title = Id3v1Field(info, 3);
        f.artist = Id3v1Field(info, 33);
        f.album = Id3v1Field(info, 63);
    } else {
        f.title = Id3v2Field(tags.Title);
        f.artist = Id3v2Field(tags.Artist);
        f.album = Id3v2Field(tags.Album);
    }
    return f;
}

std::string MpegTagLine(const TMMMpegInfo& info, const TMMMpegTextTags& tags) {
    const TMpegTagFields f = MpegTagFields(info, tags);
    return "TITLE: " + f.title + " ARTIST: " + f.artist + " ALBUM: " + f.album;
}

} // namespace tunefold
