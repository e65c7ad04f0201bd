// The RIFF WAVE parser over a memory file: parse, then seek and read the whole data as a player
// would. Nothing may crash, hang or read outside the image.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/sources/wave_io.h"
#include "platform/acm/acm.h"
#include "platform/wave_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunefold;
    TMMWaveMemory mem{data, static_cast<long>(size)};
    PWaveIORecord rec = nullptr;
    if (WaveIOOpenInfo(rec, "", platform::mmioFOURCC('W', 'A', 'V', 'E'), wioMemory, &mem) != 0) {
        return 0;
    }
    auto copy = DuplicateWaveFormat(rec->Format.get());
    (void)FormatDescription(copy.get());
    // Wide, float and extensible records: their layout, and a conversion of the first data to the
    // chain's 16-bit stereo as the compression manager's PCM driver makes it.
    platform::WaveLayout layout;
    if (copy && platform::ReadWaveLayout(*copy, layout)) {
        WAVEFORMATEX to{};
        MakePCMFormat(to, 16, 2, copy->nSamplesPerSec);
        platform::HACMSTREAM stream = nullptr;
        if (platform::acmStreamOpen(&stream, nullptr, copy.get(), &to, nullptr, 0, 0, 0) == 0) {
            const std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(rec->DataOffset), size);
            std::vector<std::uint8_t> src(data + at, data + std::min<std::size_t>(size, at + 4096));
            std::vector<std::uint8_t> dst(4 * 4096 + 16);
            platform::ACMSTREAMHEADER h;
            h.pbSrc = src.empty() ? dst.data() : src.data();
            h.cbSrcLength = static_cast<DWORD>(src.size());
            h.pbDst = dst.data();
            h.cbDstLength = static_cast<DWORD>(dst.size());
            if (platform::acmStreamPrepareHeader(stream, &h, 0) == 0) {
                platform::acmStreamConvert(stream, &h, platform::ACM_STREAMCONVERTF_END);
                platform::acmStreamUnprepareHeader(stream, &h, 0);
            }
            platform::acmStreamClose(stream, 0);
        }
    }
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
