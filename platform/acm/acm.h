// The audio compression manager: format suggestion and conversion streams in the shape of the
// platform's acm* calls, with drivers of our own for PCM (sample width, channels, and the rate
// through libsoxr), G.711 A-law and mu-law, IMA ADPCM, Microsoft ADPCM and MPEG audio held in WAVE
// files. A PCM stream changes the rate or the sample width, never both at once, so some requests
// take a chain of streams.
#pragma once

#include <cstdint>

#include "platform/wave_types.h"

namespace tunefold::platform {

struct AcmStream;
using HACMSTREAM = AcmStream*;
using HACMDRIVER = void*;

struct ACMSTREAMHEADER {
    DWORD cbStruct = sizeof(ACMSTREAMHEADER);
    DWORD fdwStatus = 0;
    DWORD_PTR dwUser = 0;
    BYTE* pbSrc = nullptr;
    DWORD cbSrcLength = 0;
    DWORD cbSrcLengthUsed = 0;
    DWORD_PTR dwSrcUser = 0;
    BYTE* pbDst = nullptr;
    DWORD cbDstLength = 0;
    DWORD cbDstLengthUsed = 0;
    DWORD_PTR dwDstUser = 0;
    DWORD dwReservedDriver[10] = {};
};

constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;
constexpr MMRESULT ACMERR_BUSY = ACMERR_BASE + 1;
constexpr MMRESULT ACMERR_UNPREPARED = ACMERR_BASE + 2;
constexpr MMRESULT ACMERR_CANCELED = ACMERR_BASE + 3;

constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;

constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;

constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;

constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;

constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

constexpr UINT ACM_METRIC_MAX_SIZE_FORMAT = 50;

// 0x02000000 and up: version 2.00.
DWORD acmGetVersion();
MMRESULT acmMetrics(void* object, UINT metric, void* value);
MMRESULT acmFormatSuggest(HACMDRIVER driver, const WAVEFORMATEX* source, WAVEFORMATEX* destination,
                          DWORD destinationBytes, DWORD flags);
MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, const WAVEFORMATEX* source,
                       const WAVEFORMATEX* destination, void* filter, DWORD_PTR callback, DWORD_PTR instance,
                       DWORD flags);
MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags);
MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input, DWORD* output, DWORD flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);

// The manager's entry points by name, as a program that loads it at run time finds them; null for
// a name it does not export (or for every name while the manager is switched off).
void* acmGetProcAddress(const char* name);

// Test switch: make the manager look absent (no entry points) or older than version 2.00.
enum class AcmAvailability { Available, Missing, TooOld };
void acmSetAvailability(AcmAvailability availability);
AcmAvailability acmAvailability();

} // namespace tunefold::platform
