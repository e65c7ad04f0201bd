#include "platform/acm/acm.h"

#include <atomic>
#include <cstring>
#include <new>

#include "platform/acm/acm_driver.h"

namespace tunefold::platform {

struct AcmStream {
    std::unique_ptr<acm::Codec> codec;
    WAVEFORMATEX source{};
    WAVEFORMATEX destination{};
};

namespace acm {

bool SupportedRate(DWORD rate) {
    return rate >= 1000 && rate <= 192000;
}

bool PlainPcm(const WAVEFORMATEX& f) {
    return f.wFormatTag == kTagPcm && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) &&
           (f.nChannels == 1 || f.nChannels == 2) && SupportedRate(f.nSamplesPerSec);
}

void MakePcm(WAVEFORMATEX& f, int bits, int channels, DWORD rate) {
    f.wFormatTag = kTagPcm;
    f.nChannels = static_cast<WORD>(channels);
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = static_cast<WORD>(bits);
    f.nBlockAlign = static_cast<WORD>(bits * channels / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    f.cbSize = 0;
}

namespace {

const Driver* const kDrivers[] = {&ImaAdpcmDriver(), &MsAdpcmDriver(), &MpegDriver(), &G711Driver(),
                                  &PcmDriver()};

const Driver* FindDriver(const WAVEFORMATEX& src, const WAVEFORMATEX& dst) {
    for (const Driver* d : kDrivers) {
        if (d->Supports(src, dst)) {
            return d;
        }
    }
    return nullptr;
}

} // namespace
} // namespace acm

namespace {
std::atomic<AcmAvailability> availability{AcmAvailability::Available};
constexpr DWORD kVersion = 0x02000000; // 2.00
} // namespace

void acmSetAvailability(AcmAvailability value) {
    availability.store(value);
}

AcmAvailability acmAvailability() {
    return availability.load();
}

DWORD acmGetVersion() {
    return availability.load() == AcmAvailability::TooOld ? 0x01000000 : kVersion;
}

MMRESULT acmMetrics(void* /*object*/, UINT metric, void* value) {
    if (value == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if (metric == ACM_METRIC_MAX_SIZE_FORMAT) {
        // The largest format record of our drivers: Microsoft ADPCM with its seven coefficient pairs.
        *static_cast<DWORD*>(value) = 18 + 32;
        return MMSYSERR_NOERROR;
    }
    return MMSYSERR_NOTSUPPORTED;
}

MMRESULT acmFormatSuggest(HACMDRIVER /*driver*/, const WAVEFORMATEX* source, WAVEFORMATEX* destination,
                          DWORD destinationBytes, DWORD flags) {
    if (source == nullptr || destination == nullptr || destinationBytes < sizeof(WAVEFORMATEX)) {
        return MMSYSERR_INVALPARAM;
    }
    const WAVEFORMATEX want = *destination;
    for (const acm::Driver* d : acm::kDrivers) {
        WAVEFORMATEX out{};
        if (d->Suggest(*source, want, flags, out)) {
            std::memset(destination, 0, destinationBytes);
            std::memcpy(destination, &out, sizeof out);
            return MMSYSERR_NOERROR;
        }
    }
    return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER /*driver*/, const WAVEFORMATEX* source,
                       const WAVEFORMATEX* destination, void* /*filter*/, DWORD_PTR /*callback*/,
                       DWORD_PTR /*instance*/, DWORD flags) {
    if (stream != nullptr) {
        *stream = nullptr;
    }
    if (source == nullptr || destination == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if ((flags & ACM_STREAMOPENF_ASYNC) != 0) {
        return MMSYSERR_NOTSUPPORTED;
    }
    const acm::Driver* d = acm::FindDriver(*source, *destination);
    if (d == nullptr) {
        return ACMERR_NOTPOSSIBLE;
    }
    if ((flags & ACM_STREAMOPENF_QUERY) != 0) {
        return MMSYSERR_NOERROR;
    }
    if (stream == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    auto* s = new (std::nothrow) AcmStream;
    if (s == nullptr) {
        return MMSYSERR_NOMEM;
    }
    s->codec = d->Open(*source, *destination, (flags & ACM_STREAMOPENF_NONREALTIME) != 0);
    if (!s->codec) {
        delete s;
        return ACMERR_NOTPOSSIBLE;
    }
    s->source = *source;
    s->destination = *destination;
    *stream = s;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM stream, DWORD /*flags*/) {
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    delete stream;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input, DWORD* output, DWORD flags) {
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (output == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *output = (flags & ACM_STREAMSIZEF_DESTINATION) != 0 ? stream->codec->SourceSize(input)
                                                         : stream->codec->DestinationSize(input);
    return *output == 0 && input != 0 ? ACMERR_NOTPOSSIBLE : MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD /*flags*/) {
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || header->cbStruct < sizeof(ACMSTREAMHEADER) || header->pbSrc == nullptr ||
        header->pbDst == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) != 0) {
        return MMSYSERR_NOERROR;
    }
    // The prepared lengths are the most a conversion through this header may use.
    header->dwReservedDriver[0] = header->cbSrcLength;
    header->dwReservedDriver[1] = header->cbDstLength;
    header->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD /*flags*/) {
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) {
        return ACMERR_UNPREPARED;
    }
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags) {
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) {
        return ACMERR_UNPREPARED;
    }
    if (header->cbSrcLength > header->dwReservedDriver[0] ||
        header->cbDstLength > header->dwReservedDriver[1]) {
        return MMSYSERR_INVALPARAM;
    }
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    header->cbSrcLengthUsed = 0;
    header->cbDstLengthUsed = 0;
    if ((flags & ACM_STREAMCONVERTF_START) != 0) {
        stream->codec->Reset();
    }
    DWORD used = 0, produced = 0;
    MMRESULT r = stream->codec->Convert(header->pbSrc, header->cbSrcLength, used, header->pbDst,
                                        header->cbDstLength, produced, flags);
    header->cbSrcLengthUsed = used;
    header->cbDstLengthUsed = produced;
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return r;
}

void* acmGetProcAddress(const char* name) {
    if (name == nullptr || availability.load() == AcmAvailability::Missing) {
        return nullptr;
    }
    struct Entry {
        const char* name;
        void* address;
    };
    static const Entry entries[] = {
        {"acmGetVersion", reinterpret_cast<void*>(&acmGetVersion)},
        {"acmMetrics", reinterpret_cast<void*>(&acmMetrics)},
        {"acmFormatSuggest", reinterpret_cast<void*>(&acmFormatSuggest)},
        {"acmStreamOpen", reinterpret_cast<void*>(&acmStreamOpen)},
        {"acmStreamClose", reinterpret_cast<void*>(&acmStreamClose)},
        {"acmStreamSize", reinterpret_cast<void*>(&acmStreamSize)},
        {"acmStreamPrepareHeader", reinterpret_cast<void*>(&acmStreamPrepareHeader)},
        {"acmStreamUnprepareHeader", reinterpret_cast<void*>(&acmStreamUnprepareHeader)},
        {"acmStreamConvert", reinterpret_cast<void*>(&acmStreamConvert)},
    };
    for (const auto& e : entries) {
        if (std::strcmp(e.name, name) == 0) {
            return e.address;
        }
    }
    return nullptr;
}

} // namespace tunefold::platform
