// The sample layout of an uncompressed WAVE format: integer PCM of 8 to 32 bits, IEEE float of 32 or
// 64 bits, WAVE_FORMAT_EXTENSIBLE by its sub-format, one to eight channels and where each one plays.
#pragma once

#include <cstring>

#include "platform/wave_types.h"

namespace tunefold::platform {

constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// Speaker positions of a channel mask.
constexpr DWORD SPEAKER_FRONT_LEFT = 0x1;
constexpr DWORD SPEAKER_FRONT_RIGHT = 0x2;
constexpr DWORD SPEAKER_FRONT_CENTER = 0x4;
constexpr DWORD SPEAKER_LOW_FREQUENCY = 0x8;
constexpr DWORD SPEAKER_BACK_LEFT = 0x10;
constexpr DWORD SPEAKER_BACK_RIGHT = 0x20;
constexpr DWORD SPEAKER_FRONT_LEFT_OF_CENTER = 0x40;
constexpr DWORD SPEAKER_FRONT_RIGHT_OF_CENTER = 0x80;
constexpr DWORD SPEAKER_BACK_CENTER = 0x100;
constexpr DWORD SPEAKER_SIDE_LEFT = 0x200;
constexpr DWORD SPEAKER_SIDE_RIGHT = 0x400;

constexpr int kMaxWaveChannels = 8;

struct WaveLayout {
    bool isFloat = false;
    int bits = 0; // container bits per sample
    int channels = 0;
    DWORD channelMask = 0; // the speaker of each channel, lowest bit first
};

namespace detail {

// The GUID tail every WAVE sub-format shares ({xxxxxxxx-0000-0010-8000-00aa00389b71}).
inline constexpr BYTE kSubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                            0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The speakers a plain format's channels go to, in the file order WAVE defines.
inline DWORD DefaultChannelMask(int channels) {
    switch (channels) {
    case 1:
        return SPEAKER_FRONT_CENTER;
    case 2:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    default:
        return channels >= 32 ? 0xFFFFFFFFu : (DWORD{1} << channels) - 1;
    }
}

} // namespace detail

// The layout of `f`, whose extra bytes (cbSize of them) follow it in memory; false for a compressed
// format, a sample width or channel count outside the above, or a block size that does not match.
inline bool ReadWaveLayout(const WAVEFORMATEX& f, WaveLayout& out) {
    WaveLayout l;
    l.bits = f.wBitsPerSample;
    l.channels = f.nChannels;
    WORD tag = f.wFormatTag;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (f.cbSize < 22) {
            return false;
        }
        const auto* extra = reinterpret_cast<const BYTE*>(&f) + sizeof(WAVEFORMATEX);
        DWORD mask = 0;
        std::memcpy(&mask, extra + 2, sizeof mask);
        const BYTE* guid = extra + 6;
        if (std::memcmp(guid + 4, detail::kSubFormatTail, sizeof detail::kSubFormatTail) != 0 ||
            guid[2] != 0 || guid[3] != 0) {
            return false;
        }
        tag = static_cast<WORD>(guid[0] | (guid[1] << 8));
        if (tag != WAVE_FORMAT_PCM && tag != WAVE_FORMAT_IEEE_FLOAT) {
            return false;
        }
        l.channelMask = mask;
    }
    if (tag == WAVE_FORMAT_PCM) {
        if (l.bits != 8 && l.bits != 16 && l.bits != 24 && l.bits != 32) {
            return false;
        }
    } else if (tag == WAVE_FORMAT_IEEE_FLOAT) {
        if (l.bits != 32 && l.bits != 64) {
            return false;
        }
        l.isFloat = true;
    } else {
        return false;
    }
    if (l.channels < 1 || l.channels > kMaxWaveChannels ||
        f.nBlockAlign != static_cast<WORD>(l.channels * l.bits / 8) || f.nSamplesPerSec == 0) {
        return false;
    }
    // A mask naming fewer speakers than there are channels (often 0) leaves the rest in file order.
    if (f.wFormatTag != WAVE_FORMAT_EXTENSIBLE || __builtin_popcount(l.channelMask) < l.channels) {
        l.channelMask = detail::DefaultChannelMask(l.channels);
    }
    out = l;
    return true;
}

} // namespace tunefold::platform
