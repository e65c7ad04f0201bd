// Window functions, integer window tables, bit reversal and the two in-place transforms on single
// floats: a complex one (equalizer design and block convolution) and a real-input one (spectrum).
// A plan is built once per length and reused; a transform allocates nothing. One plan serves one
// transform at a time (it holds the scratch buffer of its kernel): callers that share a plan across
// threads serialise the calls, as the equalizer engine does under its lock.
#pragma once

#include <cstdint>

namespace tunefold {

enum TMMFFTWindow { fwRectangular, fwHamming, fwHanning, fwBlackman, fwGaussian, fwWelch, fwParzen };

// Value of the window at index n of a length-N window (the cosine windows are periodic in N).
// Ordinals above fwParzen, and N <= 0, give 1.
float GetWindowValue(int window, long n, long N);
// 2^bits Q15 entries: floor(value x 32767 + 0.5).
void MakeWindowTable(std::int32_t* table, int window, int bits);
// 2^bits entries, entry i = i with its `bits` binary digits reversed.
void MakeBitReversal(std::int32_t* table, int bits);

// A complex plan. The first fields are the plan's public description; the kernel's tables follow
// in the same allocation.
struct TMMComplexFFT {
    std::int32_t Bits;         // m, N = 2^m
    std::int64_t Length;       // N
    float InvLength;           // 1/N
    std::int32_t* BitReversal; // N entries
    float* Twiddles;           // N/4 records (cos kt, -sin kt, cos 3kt, -sin 3kt), t = 2 pi / N
    // Kernel: per radix-4 pass, three twiddle pairs per butterfly laid out for two-lane complex
    // arithmetic; and a scratch array of N complex values for the autosort passes.
    float* PassTwiddles;
    float* Scratch;
    void* Block; // the allocation holding all of the above
};

// A real plan for N real samples: a complex plan of N/2 points plus the split table.
struct TMMRealFFT {
    std::int32_t Bits;   // m, N = 2^m real samples
    std::int64_t Length; // N
    float InvLength;     // 1/N
    TMMComplexFFT* Half; // the N/2-point complex plan (its bit reversal is over m-1 bits)
    float* Split;        // N/4 records (0.5 cos kt, 0.5 - 0.5 sin kt), t = 2 pi / N
    void* Block;
};

// 1 <= bits <= 31, else (or when the memory is refused) null.
TMMComplexFFT* CreateComplexFFT(int bits);
void FreeComplexFFT(TMMComplexFFT*& plan);
// In place on N interleaved (re, im) pairs. Direction -1: inverse scaled by 1/N; -2: forward scaled
// by 1/N; any other value: forward, unscaled. Nothing happens for a null plan or null data.
void DoComplexFFT(const TMMComplexFFT* plan, float* data, int direction);

TMMRealFFT* CreateRealFFT(int bits);
void FreeRealFFT(TMMRealFFT*& plan);
// Forward transform of N real samples in place: data[0] = sum of the samples, data[1] = 0, then
// the pairs (re, im) of bins 1 .. N/2-1. The value at half the sampling rate is not kept. Only the
// forward transform exists: every direction computes it.
void DoRealFFT(const TMMRealFFT* plan, float* data, int direction);

void ScaleFloats(std::int64_t count, float factor, float* data);
// data[k] *= filter[k] for `count` complex pairs.
void ComplexMultiply(std::int64_t count, float* data, const float* filter);

} // namespace tunefold
