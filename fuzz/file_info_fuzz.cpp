// What `tunefold-render --info` and the player's displays tell about a file, over any bytes: it ends
// cleanly, and the tag text it shows holds no control character and is valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app/logic/file_info.h"
#include "app/logic/play_entries.h"
#include "engine/sources/mpeg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunefold;
    static const bool decoder = LoadMpegDecoder();
    (void)decoder;
    static const std::string name = "/tmp/tunefold-file-info-fuzz-" + std::to_string(::getpid());
    if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    const FileInfo info = DescribeFile(name);
    if (info.infoLine.empty() || info.lengthMs < 0 ||
        PrintableText(info.tagLine, info.tagLine.size()) != info.tagLine) {
        std::abort();
    }
    if (info.kind == FileKind::Unknown && (info.infoLine != "Unknown File" || !info.tagLine.empty())) {
        std::abort();
    }
    return 0;
}
