// The RIFF WAVE parser over a memory file: parse, then seek and read the whole data as a player
// would. Nothing may crash, hang or read outside the image.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/sources/wave_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunefold;
    TMMWaveMemory mem{data, static_cast<long>(size)};
    PWaveIORecord rec = nullptr;
    if (WaveIOOpenInfo(rec, "", platform::mmioFOURCC('W', 'A', 'V', 'E'), wioMemory, &mem) != 0) {
        return 0;
    }
    auto copy = DuplicateWaveFormat(rec->Format.get());
    (void)FormatDescription(copy.get());
    if (WaveIOReopen(*rec) == 0) {
        std::vector<std::uint8_t> buffer(4096);
        int guard = 0;
        while (WaveIORead(rec, buffer.data(), static_cast<std::int32_t>(buffer.size())) > 0 &&
               ++guard < 100000) {
        }
        WaveIOSeek(*rec, rec->TotalSamples / 2);
        WaveIORead(rec, buffer.data(), 16);
    }
    WaveIOClose(rec);
    return 0;
}
