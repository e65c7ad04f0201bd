// A file the user opens, as the player decides what it plays: audio, a playlist of entries, or
// "not a valid Audiofile". Whatever the bytes and whatever the name says, this ends cleanly, plays
// only existing regular files, and reports a file or plays from it, never both.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "app/logic/play_entries.h"
#include "engine/sources/mpeg_file.h"
#include "platform/input_file.h"

namespace {

// A folder of this process with a few files that entries can name.
const std::string& Folder() {
    static const std::string folder = [] {
        const std::string f = "/tmp/tunefold-play-items-fuzz-" + std::to_string(::getpid());
        std::filesystem::create_directories(f + "/sub");
        for (const char* name : {"/a.wav", "/sub/b.mp3", "/c.lst"}) {
            if (std::FILE* file = std::fopen((f + name).c_str(), "wb")) {
                std::fputs("a.wav\r\n", file);
                std::fclose(file);
            }
        }
        return f;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunefold;
    if (size == 0) {
        return 0;
    }
    static const bool decoder = LoadMpegDecoder();
    (void)decoder;
    // The first byte picks the name: what it says must not change what is safe.
    static const char* const kNames[] = {"/list.lst", "/list.m3u", "/x.mp3",
                                         "/x.wav",    "/noext",    "/sub/in.LST"};
    const std::string name = Folder() + kNames[data[0] % 6];
    if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    } else {
        return 0;
    }
    const TPlayItems items = PlayItemsFor(name);
    if (items.notValid && !items.files.empty()) {
        std::abort();
    }
    for (const auto& file : items.files) {
        if (!platform::IsRegularFile(file)) {
            std::abort();
        }
    }
    std::remove(name.c_str());
    return 0;
}
