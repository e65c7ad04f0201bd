// ScaleSamples on 16-bit stereo against memcpy of the same buffer, in one run. The gain stage touches
// every sample once, so memcpy's throughput is the yardstick; the target is at least a third of it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/framework/pcm.h"

namespace {

constexpr std::size_t kBytes = 2048 * 64; // 64 player buffers: stays in L2 like the real stream

std::vector<std::int16_t> MakeSignal() {
    std::vector<std::int16_t> s(kBytes / 2);
    for (std::size_t i = 0; i < s.size(); ++i) {
        s[i] = static_cast<std::int16_t>((i * 7919) % 65536 - 32768);
    }
    return s;
}

void BM_ScaleSamplesStereo16(benchmark::State& state) {
    tunefold::WAVEFORMATEX f{};
    tunefold::MakePCMFormat(f, 16, 2, 44100);
    auto data = MakeSignal();
    for (auto _ : state) {
        bool clipped = tunefold::ScaleSamples(&f, data.data(), kBytes, 12000, 20000);
        benchmark::DoNotOptimize(clipped);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBytes);
}
BENCHMARK(BM_ScaleSamplesStereo16);

void BM_MemcpySameBuffer(benchmark::State& state) {
    auto src = MakeSignal();
    std::vector<std::int16_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kBytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBytes);
}
BENCHMARK(BM_MemcpySameBuffer);

// Measures both the same way, back to back, and prints the ratio the target is stated in.
double Throughput(bool scale) {
    tunefold::WAVEFORMATEX f{};
    tunefold::MakePCMFormat(f, 16, 2, 44100);
    auto a = MakeSignal();
    std::vector<std::int16_t> b(a.size());
    const int rounds = 4000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        if (scale) {
            benchmark::DoNotOptimize(tunefold::ScaleSamples(&f, a.data(), kBytes, 12000, 20000));
        } else {
            std::memcpy(b.data(), a.data(), kBytes);
        }
        benchmark::ClobberMemory();
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return static_cast<double>(kBytes) * rounds / took.count();
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    double best = 0, bestCopy = 0;
    for (int i = 0; i < 5; ++i) {
        best = std::max(best, Throughput(true));
        bestCopy = std::max(bestCopy, Throughput(false));
    }
    std::printf("ScaleSamples 16-bit stereo: %.2f GB/s, memcpy: %.2f GB/s, ratio %.2f (target >= 0.33)\n",
                best / 1e9, bestCopy / 1e9, best / bestCopy);
    return 0;
}
