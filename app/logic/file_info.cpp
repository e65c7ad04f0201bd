#include "app/logic/file_info.h"

#include <cstdio>
#include <cstring>

#include "engine/sources/mpeg_file.h"
#include "engine/sources/wave_file.h"
#include "engine/sources/wave_io.h"

namespace tunefold {

namespace {

// An ID3v1 text field: up to 30 Latin-1 characters, ending early at the first NUL, as UTF-8. A
// control character (C0 or C1) shows as a blank: a tag may hold anything, and none of it may reach
// a terminal or a display as a command.
std::string TagField(const TMMMpegInfo& info, int recordOffset) {
    const auto* p = reinterpret_cast<const unsigned char*>(&info) + recordOffset;
    std::string text;
    for (std::size_t n = 0; n < 30 && p[n] != 0; ++n) {
        const unsigned char c = p[n];
        if (c < 0x20 || (c >= 0x7f && c < 0xa0)) {
            text += ' ';
        } else if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xc0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return text;
}

std::string MpegInfoLine(const TMMMpegInfo& info) {
    static const char* const layers[] = {"Layer I; ", "Layer II; ", "Layer III; "};
    static const char* const modes[] = {"Stereo;", "Joint Stereo;", "Dual Channel;", "Mono;"};
    std::string line = "ISO MPEG ";
    line += info.Version == v1 ? "1 - " : "2 - ";
    if (info.Layer >= 1 && info.Layer <= 3) {
        line += layers[info.Layer - 1];
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%2.3f kHz; %d KBit/s; ", info.SampleRate / 1000.0, info.BitRate);
    line += buffer;
    if (info.Mode <= 3) {
        line += modes[info.Mode];
    }
    return line;
}

} // namespace

FileInfo DescribeFile(const std::string& path) {
    FileInfo result;
    if (IsMpegFile(path)) {
        TMMMpegInfo info{};
        if (!GetMpegFileInfo(path, info)) {
            return result;
        }
        result.kind = FileKind::Mpeg;
        result.infoLine = MpegInfoLine(info);
        result.lengthMs = info.Time;
        result.tagLine = "TITLE: " + TagField(info, 41) + " ARTIST: " + TagField(info, 71) +
                         " ALBUM: " + TagField(info, 101);
        return result;
    }
    PWaveIORecord rec = nullptr;
    if (WaveIOOpenInfo(rec, path, platform::mmioFOURCC('W', 'A', 'V', 'E'), wioFile) != WIOERR_NOERROR) {
        return result;
    }
    result.kind = FileKind::Wave;
    // Two blanks after the dash, as the playlist editor writes it.
    result.infoLine = "WAVE - " + std::string(" ") + FormatTagName(rec->Format.get()) + " " +
                      FormatDescription(rec->Format.get());
    result.lengthMs = WaveSamplesToMs(*rec->Format, rec->TotalSamples);
    WaveIOClose(rec);
    return result;
}

} // namespace tunefold
