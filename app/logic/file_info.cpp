#include "app/logic/file_info.h"

#include <cstdio>
#include <cstring>

#include "app/logic/mpeg_tag_line.h"
#include "engine/sources/mpeg_file.h"
#include "engine/sources/wave_file.h"
#include "engine/sources/wave_io.h"
#include "platform/wave_layout.h"

namespace tunefold {

namespace {

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

// Float and extensible records are named by what their samples are; every other tag by its name.
std::string WaveFormatName(const WAVEFORMATEX* f) {
    platform::WaveLayout layout;
    if (f != nullptr &&
        (f->wFormatTag == platform::WAVE_FORMAT_EXTENSIBLE ||
         f->wFormatTag == platform::WAVE_FORMAT_IEEE_FLOAT) &&
        platform::ReadWaveLayout(*f, layout)) {
        return layout.isFloat ? "IEEE Float" : "PCM";
    }
    return FormatTagName(f);
}

} // namespace

FileInfo DescribeFile(const std::string& path) {
    FileInfo result;
    if (IsMpegFile(path)) {
        TMMMpegInfo info{};
        TMMMpegTextTags tags;
        if (!GetMpegFileInfo(path, info, tags)) {
            return result;
        }
        result.kind = FileKind::Mpeg;
        result.infoLine = MpegInfoLine(info);
        result.lengthMs = info.Time;
        result.tagLine = MpegTagLine(info, tags);
        return result;
    }
    PWaveIORecord rec = nullptr;
    if (WaveIOOpenInfo(rec, path, platform::mmioFOURCC('W', 'A', 'V', 'E'), wioFile) != WIOERR_NOERROR) {
        return result;
    }
    result.kind = FileKind::Wave;
    // Two blanks after the dash, as the playlist editor writes it.
    result.infoLine = "WAVE - " + std::string(" ") + WaveFormatName(rec->Format.get()) + " " +
                      FormatDescription(rec->Format.get());
    result.lengthMs = WaveSamplesToMs(*rec->Format, rec->TotalSamples);
    WaveIOClose(rec);
    return result;
}

} // namespace tunefold
