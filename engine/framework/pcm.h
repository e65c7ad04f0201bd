// The PCM format record and the stateless routines every stage shares: validity, copies, byte /
// sample / millisecond conversions, in-place gain with clipping, trigger search, format texts and
// small numeric helpers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/wave_types.h"

namespace tunefold {

// ---- format records ----

struct WaveFormatDeleter {
    void operator()(WAVEFORMATEX* format) const noexcept;
};
// An owned copy of a format record with its extra bytes in one zero-filled block.
using WaveFormatPtr = std::unique_ptr<WAVEFORMATEX, WaveFormatDeleter>;

bool IsValidPCMFormat(const WAVEFORMATEX* format);
void MakePCMFormat(WAVEFORMATEX& format, int bits, int channels, DWORD rate);
// 18 for PCM whatever cbSize says, 18 + cbSize otherwise, 0 for none.
std::size_t WaveFormatSize(const WAVEFORMATEX* format);
// A new zero-filled copy (PCM copies get cbSize 0); none for none or size 0.
WaveFormatPtr DuplicateWaveFormat(const WAVEFORMATEX* format);
void ReleaseWaveFormat(WaveFormatPtr& format);
// False when either is none; else whether tag, bits, channels or rate differ.
bool WaveFormatsDiffer(const WAVEFORMATEX* a, const WAVEFORMATEX* b);
std::string FormatTagName(const WAVEFORMATEX* format);
std::string FormatTagName(WORD tag);
// "44.100 kHz, 16 Bit, Stereo" with the locale's separators; "Unknown" for none.
std::string FormatDescription(const WAVEFORMATEX* format);
// The separators FormatDescription last read: list first, decimal second (tests).
std::pair<char, char> LastFormatSeparators();

// ---- position conversions ----

std::int32_t BytesToSamples(const WAVEFORMATEX& format, std::int32_t bytes);
std::int32_t BytesToMs(const WAVEFORMATEX& format, std::int32_t bytes);
std::int32_t SamplesToBytes(const WAVEFORMATEX& format, std::int32_t samples);
std::int32_t SamplesToMs(const WAVEFORMATEX& format, std::int32_t samples);
std::int32_t MsToSamples(const WAVEFORMATEX& format, std::int32_t ms);
std::int32_t MsToBytes(const WAVEFORMATEX& format, std::int32_t ms);
std::int64_t SamplesToBytes64(const WAVEFORMATEX& format, std::int64_t samples);
std::int64_t SamplesToMs64(const WAVEFORMATEX& format, std::int64_t samples);

// ---- sample routines ----

enum TMMTriggerMode { tmNone, tmUpFlank, tmDownFlank };
enum TMMChannel { chBoth, chLeft, chRight };

// Scales every sample in place by its channel's Q14 gain (16384 = unity) with clipping; true when
// at least one sample clipped.
bool ScaleSamples(const WAVEFORMATEX* format, void* data, std::uint32_t bytes, std::int32_t leftGain,
                  std::int32_t rightGain);
// Chooses the sample kernels: 2 AVX2, 1 SSE2, 0 plain loops, -1 the best this processor has.
// Returns the level in force (never above what the processor supports).
int SetSampleKernelLevel(int level);
// Byte offset of the first crossing of `level` percent by the selected channel, or -1.
std::int32_t FindTrigger(const WAVEFORMATEX* format, const void* data, std::uint32_t bytes, int level,
                         TMMTriggerMode mode, TMMChannel channel);

// ---- numeric routines ----

// a*b/c in 64 bits, truncated toward zero; -1 when c is 0.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);
// a*b/c with halves rounded away from zero; -1 when c is 0.
std::int32_t MulDivRound(std::int32_t a, std::int32_t b, std::int32_t c);
// (a*b + c/2)/c unsigned; 0xFFFFFFFF when c is 0.
std::uint32_t MulDivRoundUnsigned(std::uint32_t a, std::uint32_t b, std::uint32_t c);
void DivMod16(std::uint32_t dividend, std::uint16_t divisor, std::uint16_t& quotient,
              std::uint16_t& remainder);
inline std::int32_t Min(std::int32_t a, std::int32_t b) {
    return a < b ? a : b;
}
inline std::int32_t Max(std::int32_t a, std::int32_t b) {
    return a > b ? a : b;
}
inline std::int32_t Clamp(std::int32_t v, std::int32_t lo, std::int32_t hi) {
    return v < lo ? lo : (v < hi ? v : hi);
}
inline bool InRange(std::int32_t v, std::int32_t lo, std::int32_t hi) {
    return lo <= v && v <= hi;
}
void FillBytes(void* data, std::size_t count, std::uint8_t value);
void MoveBytes(const void* source, void* destination, std::size_t count);

using Extended = long double;
inline Extended MaxExt(Extended a, Extended b) {
    return a > b ? a : b;
}
inline Extended ClampExt(Extended v, Extended lo, Extended hi) {
    return v < lo ? lo : (v < hi ? v : hi);
}
std::int64_t Floor(Extended x);
Extended ArcTan2(Extended y, Extended x);
Extended Ln(Extended x);
Extended Log2(Extended x);
Extended Log10(Extended x);
Extended Power(Extended base, Extended exponent);

} // namespace tunefold
