// The equalizer's filter engine: a desired gain per frequency bin, a linear-phase FIR filter designed
// from it by frequency sampling, and fast convolution of 16-bit PCM by overlap-add with two
// half-blocks per complex transform. Byte queues on both sides keep bytes out equal to bytes in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "engine/framework/allocator.h"
#include "engine/framework/pcm.h"
#include "engine/processing/fft.h"
#include "platform/wave_types.h"

namespace tunefold {

constexpr int kEQMaxBins = 1026;

// One zero-filled block per engine, taken from the pool all equalizer engines share.
struct TMMEQEngine {
    int FormatKind = 0; // 1 for 16-bit data, plus 2 for stereo
    int Rate = 0;
    int Channels = 0;
    int M = 0; // transform length: the largest power of two not above min(FFT length, 1024)
    int H = 0; // M / 2
    int LogM = 0;
    TMMComplexFFT* Plan = nullptr;
    std::uint8_t* InQueue = nullptr; // 2 x Capacity bytes each
    std::uint8_t* OutQueue = nullptr;
    std::size_t InFill = 0;
    std::size_t OutFill = 0;
    std::size_t Capacity = 0;
    int WindowKind = fwHamming;
    alignas(64) std::int32_t Block[2][kEQMaxBins]; // per channel: the samples of one block
    alignas(64) float Overlap[2][kEQMaxBins];      // per channel: the tail carried to the next block
    alignas(64) float Curve[kEQMaxBins];           // desired linear gain of bins 0 .. H
    alignas(64) float Response[2 * kEQMaxBins];    // the active filter's frequency response, M values
    alignas(64) float Work[2 * kEQMaxBins];        // shared by the design and the filtering
    // Guards Work and Response (every redesign and every block), and the queues.
    std::recursive_mutex Lock;
};

// The pool every equalizer engine takes its three blocks from.
TMMAllocator& EqualizerAllocator();

// An engine for a valid 16-bit PCM format, or null (invalid format, or the memory is refused). The
// curve starts flat at 0 dB and the window is fwHamming.
TMMEQEngine* InitEQ(const WAVEFORMATEX* format, int fftLength, std::size_t capacity);
void DoneEQ(TMMEQEngine*& engine);
// Writes one band into the curve and redesigns the filter.
void SetEQBand(TMMEQEngine* engine, float f1, float f2, float gain);
void SetEQWindow(TMMEQEngine* engine, int window);
// Empties both queues and clears every channel's block and overlap.
void ResetEQ(TMMEQEngine* engine);
// Filters `count` bytes of 16-bit PCM in place; true when some sample saturated. Output lags input
// by what is waiting for a whole block; with `endOfStream` the waiting block is filtered padded with
// silence and its part that belongs to this buffer comes out now, so the stream keeps its length and
// ends with its music instead of silence.
bool ProcessEQ(TMMEQEngine* engine, TMMChannel channel, void* buffer, std::uint32_t count,
               bool endOfStream = false);

} // namespace tunefold
