// Records shared by the wave device service and the audio engine: the wave format record, the
// buffer header handed to the devices, result codes. Laid out as the platform's wave functions
// and WAVE files lay them out.
#pragma once

#include <cstdint>

namespace tunefold {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using MMRESULT = std::uint32_t;
using BOOL32 = std::int32_t; // -1 true, 0 false, as the buffer header stores it

constexpr WORD WAVE_FORMAT_PCM = 1;

#pragma pack(push, 2)
// The format record, little-endian, 18 bytes; `cbSize` extra bytes follow it for compressed formats.
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "the format record is 18 bytes");

using PWaveFormatEx = WAVEFORMATEX*;

struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
using PWaveHdr = WAVEHDR*;

// dwFlags of a header
constexpr DWORD WHDR_DONE = 0x00000001;
constexpr DWORD WHDR_PREPARED = 0x00000002;
constexpr DWORD WHDR_BEGINLOOP = 0x00000004;
constexpr DWORD WHDR_ENDLOOP = 0x00000008;
constexpr DWORD WHDR_INQUEUE = 0x00000010;

// Result codes
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
constexpr MMRESULT MMSYSERR_INVALIDALIAS = 13;
constexpr MMRESULT MMSYSERR_BADDB = 14;
constexpr MMRESULT MMSYSERR_KEYNOTFOUND = 15;
constexpr MMRESULT MMSYSERR_READERROR = 16;
constexpr MMRESULT MMSYSERR_WRITEERROR = 17;
constexpr MMRESULT MMSYSERR_DELETEERROR = 18;
constexpr MMRESULT MMSYSERR_VALNOTFOUND = 19;
constexpr MMRESULT MMSYSERR_NODRIVERCB = 20;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT WAVERR_SYNC = 35;

} // namespace tunefold
