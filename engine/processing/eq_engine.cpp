#include "engine/processing/eq_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace tunefold {

namespace {

using Ext = long double;

void ReleaseBlocks(TMMEQEngine* engine, void* record) {
    TMMAllocator& pool = EqualizerAllocator();
    if (engine != nullptr) {
        FreeComplexFFT(engine->Plan);
        pool.ReleaseBlock(engine->InQueue);
        pool.ReleaseBlock(engine->OutQueue);
        engine->~TMMEQEngine();
    }
    pool.ReleaseBlock(record);
}

// Frequency-sampling design from Curve into Response. Caller holds the lock.
void Design(TMMEQEngine& e) {
    const int m = e.M, h = e.H;
    float* w = e.Work;
    // One-sided desired response with the end bins halved, rotated by a linear phase that centres
    // the impulse response at M/4 samples: e^(i pi j / 2) cycles through 1, i, -1, -i.
    std::memset(w, 0, sizeof(float) * 2 * static_cast<std::size_t>(m));
    for (int j = 0; j <= h; ++j) {
        float q = e.Curve[j];
        if (j == 0 || j == h) {
            q *= 0.5f;
        }
        switch (j & 3) {
        case 0:
            w[2 * j] = q;
            break;
        case 1:
            w[2 * j + 1] = q;
            break;
        case 2:
            w[2 * j] = -q;
            break;
        default:
            w[2 * j + 1] = -q;
            break;
        }
    }
    DoComplexFFT(e.Plan, w, 1);
    // The windowed taps 0 .. H (symmetric about M/4), then their response scaled by 1/M.
    float taps[kEQMaxBins / 2 + 1];
    for (int n = 0; n <= h; ++n) {
        taps[n] = GetWindowValue(e.WindowKind, n, h) * w[2 * n];
    }
    std::memset(w, 0, sizeof(float) * 2 * static_cast<std::size_t>(m));
    for (int n = 0; n <= h; ++n) {
        w[2 * n] = taps[n];
    }
    DoComplexFFT(e.Plan, w, -2);
    std::memcpy(e.Response, w, sizeof(float) * 2 * static_cast<std::size_t>(m));
}

inline std::int16_t Saturate(float v, bool& over) {
    // Truncation towards zero, then the sample range: only values at or beyond +-32768 (after
    // truncation, beyond 32767 or below -32768) clip. NaN, which no finite gain produces, clips too.
    if (!(v < 32768.0f)) {
        over = true;
        return 32767;
    }
    if (!(v > -32769.0f)) {
        over = true;
        return -32768;
    }
    return static_cast<std::int16_t>(static_cast<std::int32_t>(v));
}

// Filters the M samples in Block[ch] and writes M results, `stride` samples apart, to `out`.
bool FilterBlock(TMMEQEngine& e, int ch, std::int16_t* out, int stride) {
    const int h = e.H, m = e.M;
    const std::int32_t* x = e.Block[ch];
    float* w = e.Work;
    float* overlap = e.Overlap[ch];
    // The two half-blocks travel as the real and the imaginary part of one transform.
    for (int k = 0; k < h; ++k) {
        w[2 * k] = static_cast<float>(x[k]);
        w[2 * k + 1] = static_cast<float>(x[k + h]);
    }
    std::memset(w + m, 0, sizeof(float) * static_cast<std::size_t>(m));
    DoComplexFFT(e.Plan, w, 1);
    ComplexMultiply(m, w, e.Response);
    DoComplexFFT(e.Plan, w, -1);
    bool over = false;
    for (int k = 0; k < h; ++k) {
        out[k * stride] = Saturate(w[2 * k] + overlap[k], over);
        out[(k + h) * stride] = Saturate(w[2 * (k + h)] + w[2 * k + 1], over);
        overlap[k] = w[2 * (k + h) + 1];
    }
    return over;
}

bool ProcessChunk(TMMEQEngine& e, TMMChannel channel, std::uint8_t* buffer, std::size_t count,
                  bool streamEnds) {
    const int channels = e.Channels;
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;
    const std::size_t blockBytes = frameBytes * static_cast<std::size_t>(e.M);

    std::memcpy(e.InQueue + e.InFill, buffer, count);
    e.InFill += count;
    // The stream's last bytes: its partial block is filtered with silence after it, so the last
    // buffer carries the end of the music instead of silence in front of it.
    const std::size_t rest = e.InFill % blockBytes;
    if (streamEnds && rest != 0 && e.OutFill + e.InFill + blockBytes <= 2 * e.Capacity) {
        std::memset(e.InQueue + e.InFill, 0, blockBytes - rest);
        e.InFill += blockBytes - rest;
    }
    const std::size_t blocks = e.InFill / blockBytes;

    int first = 0, last = channels - 1;
    if (channel == chLeft) {
        first = last = 0;
    } else if (channel == chRight) {
        first = last = (channels == 2) ? 1 : 0;
    }
    const bool allChannels = (last - first + 1) == channels;

    bool over = false;
    for (int ch = first; ch <= last; ++ch) {
        for (std::size_t j = 0; j < blocks; ++j) {
            const auto* src = reinterpret_cast<const std::int16_t*>(e.InQueue + j * blockBytes) + ch;
            std::int32_t* x = e.Block[ch];
            for (int i = 0; i < e.M; ++i) {
                x[i] = src[i * channels];
            }
            auto* out = reinterpret_cast<std::int16_t*>(e.OutQueue + e.OutFill + j * blockBytes) + ch;
            over |= FilterBlock(e, ch, out, channels);
        }
    }
    const std::size_t consumed = blocks * blockBytes;
    e.OutFill += consumed;
    e.InFill -= consumed;
    std::memmove(e.InQueue, e.InQueue + consumed, e.InFill);

    // As many bytes go out as came in: silence first while the output queue is short.
    const std::size_t d = std::min(count, e.OutFill);
    const std::size_t lead = count - d;
    if (allChannels) {
        std::memset(buffer, 0, lead);
        std::memcpy(buffer + lead, e.OutQueue, d);
    } else {
        // Only the filtered channel is replaced; the other one keeps the samples as they arrived.
        const std::size_t offset = static_cast<std::size_t>(first) * 2;
        for (std::size_t p = offset; p + 2 <= lead; p += frameBytes) {
            buffer[p] = 0;
            buffer[p + 1] = 0;
        }
        for (std::size_t p = offset; p + 2 <= d; p += frameBytes) {
            buffer[lead + p] = e.OutQueue[p];
            buffer[lead + p + 1] = e.OutQueue[p + 1];
        }
    }
    std::memmove(e.OutQueue, e.OutQueue + d, e.OutFill - d);
    e.OutFill -= d;
    if (streamEnds) {
        // What the padding made beyond the stream's end is no part of it.
        e.InFill = 0;
        e.OutFill = 0;
    }
    return over;
}

} // namespace

TMMAllocator& EqualizerAllocator() {
    static TMMAllocator pool;
    return pool;
}

TMMEQEngine* InitEQ(const WAVEFORMATEX* format, int fftLength, std::size_t capacity) {
    if (!IsValidPCMFormat(format) || format->wBitsPerSample != 16) {
        return nullptr;
    }
    int logM = 3;
    const int limit = std::min(fftLength, 1024);
    while (logM < 10 && (1 << (logM + 1)) <= limit) {
        ++logM;
    }
    TMMAllocator& pool = EqualizerAllocator();
    void* record = pool.AllocateExact(GPTR, sizeof(TMMEQEngine));
    if (record == nullptr) {
        return nullptr;
    }
    auto* e = new (record) TMMEQEngine;
    e->Rate = static_cast<int>(format->nSamplesPerSec);
    e->Channels = format->nChannels;
    e->FormatKind = 1 + (e->Channels == 2 ? 2 : 0);
    e->LogM = logM;
    e->M = 1 << logM;
    e->H = e->M / 2;
    // The queues must hold a partial block and the padded last block next to a whole buffer; the
    // largest block is 4096 bytes.
    e->Capacity = std::max<std::size_t>(capacity, 4 * 4096);
    e->WindowKind = fwHamming;
    e->InQueue = static_cast<std::uint8_t*>(pool.AllocateExact(GPTR, 2 * e->Capacity));
    e->OutQueue = static_cast<std::uint8_t*>(pool.AllocateExact(GPTR, 2 * e->Capacity));
    e->Plan = CreateComplexFFT(logM);
    if (e->InQueue == nullptr || e->OutQueue == nullptr || e->Plan == nullptr) {
        ReleaseBlocks(e, record);
        return nullptr;
    }
    SetEQBand(e, 0.0f, static_cast<float>(e->Rate / 2), 0.0f);
    return e;
}

void DoneEQ(TMMEQEngine*& engine) {
    if (engine == nullptr) {
        return;
    }
    ReleaseBlocks(engine, engine);
    engine = nullptr;
}

void SetEQBand(TMMEQEngine* engine, float f1, float f2, float gain) {
    if (engine == nullptr) {
        return;
    }
    TMMEQEngine& e = *engine;
    const int nyquist = e.Rate / 2;
    Ext lo1 = f1, hi2 = f2;
    if (!(lo1 < nyquist)) {
        lo1 = nyquist - 1;
    }
    if (hi2 > nyquist) {
        hi2 = nyquist;
    }
    if (lo1 > hi2) {
        std::swap(lo1, hi2);
    }
    const float width = static_cast<float>(static_cast<Ext>(e.Rate) / e.M);
    const Ext lo = std::trunc(lo1 / width);
    const Ext hi = (hi2 == lo1) ? std::trunc((hi2 + 1) / width) : std::trunc(hi2 / width);
    // Band edges below 0 Hz (or not numbers) would index outside the curve: keep to bins 0 .. H.
    const int first = std::isnan(lo) ? 0 : static_cast<int>(std::clamp<Ext>(lo, 0, e.H));
    const int last = std::isnan(hi) ? 0 : static_cast<int>(std::clamp<Ext>(hi, 0, e.H));
    // The 6 dB make up for the factor 1/2 of the one-sided design.
    const float value = static_cast<float>(std::pow(10.0L, (static_cast<Ext>(gain) + 6) / 20));
    std::lock_guard lock(e.Lock);
    for (int k = first; k <= last; ++k) {
        e.Curve[k] = value;
    }
    Design(e);
}

void SetEQWindow(TMMEQEngine* engine, int window) {
    if (engine == nullptr) {
        return;
    }
    std::lock_guard lock(engine->Lock);
    engine->WindowKind = window;
    Design(*engine);
}

void ResetEQ(TMMEQEngine* engine) {
    if (engine == nullptr) {
        return;
    }
    std::lock_guard lock(engine->Lock);
    engine->InFill = 0;
    engine->OutFill = 0;
    std::memset(engine->Block, 0, sizeof engine->Block);
    std::memset(engine->Overlap, 0, sizeof engine->Overlap);
}

bool ProcessEQ(TMMEQEngine* engine, TMMChannel channel, void* buffer, std::uint32_t count, bool endOfStream) {
    if (engine == nullptr || buffer == nullptr || count == 0) {
        return false;
    }
    TMMEQEngine& e = *engine;
    std::lock_guard lock(e.Lock);
    // The queues hold twice the capacity; a buffer larger than the capacity is taken in pieces of
    // whole frames, so no call can overrun them.
    const std::size_t frameBytes = static_cast<std::size_t>(e.Channels) * 2;
    const std::size_t piece = std::max(frameBytes, (e.Capacity / frameBytes) * frameBytes);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    bool over = false;
    for (std::size_t offset = 0; offset < count;) {
        const std::size_t n = std::min<std::size_t>(count - offset, piece);
        over |= ProcessChunk(e, channel, bytes + offset, n, endOfStream && offset + n == count);
        offset += n;
    }
    return over;
}

} // namespace tunefold
