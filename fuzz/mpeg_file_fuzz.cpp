// MPEG audio files through the decoder library: recognition, the stream information with its tag,
// and decoding to the end. Whatever the bytes, this ends cleanly: no crash, no hang.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/framework/errors.h"
#include "engine/sources/mpeg_file.h"

namespace {
std::string ScratchFile() {
    static const std::string name = "/tmp/tunefold-mpeg-fuzz-" + std::to_string(::getpid()) + ".mp3";
    return name;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunefold;
    const std::string name = ScratchFile();
    if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    if (!LoadMpegDecoder()) {
        return 0;
    }
    const bool recognised = IsMpegFile(name);
    TMMMpegInfo info{};
    if (!GetMpegFileInfo(name, info) || !recognised) {
        return 0;
    }
    try {
        TMMMpeg mpeg;
        mpeg.SetFileName(name);
        if (mpeg.IsEmpty()) {
            return 0;
        }
        mpeg.OpenFile();
        std::vector<std::uint8_t> buffer(4608);
        for (int guard = 0; guard < 20000 && !mpeg.IsDone(); ++guard) {
            if (mpeg.ReadData(buffer.data(), static_cast<std::int32_t>(buffer.size())) <= 0) {
                break;
            }
        }
        mpeg.SetPosition(mpeg.Position() / 2);
        mpeg.ReadData(buffer.data(), 1024);
        mpeg.CloseFile();
    } catch (const EMMError&) {
        // A damaged stream is reported as an error; that is a clean end too.
    }
    return 0;
}
