// The 256-point complex transform against FFTW's single-precision transform with a measured plan,
// and the real transform for the spectrum's lengths. Prints the ratio of the times at the end.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/processing/fft.h"

namespace {

std::vector<float> Noise(std::size_t count) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(count);
    for (float& f : v) {
        f = dist(rng);
    }
    return v;
}

void BM_OurComplex(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    tunefold::TMMComplexFFT* plan = tunefold::CreateComplexFFT(bits);
    std::vector<float> data = Noise(std::size_t{2} << bits);
    for (auto _ : state) {
        tunefold::DoComplexFFT(plan, data.data(), 1);
        tunefold::DoComplexFFT(plan, data.data(), -1); // keeps the values bounded
        benchmark::DoNotOptimize(data.data());
    }
    state.SetItemsProcessed(state.iterations() * 2);
    tunefold::FreeComplexFFT(plan);
}

void BM_FftwComplex(benchmark::State& state) {
    const int n = 1 << state.range(0);
    auto* data = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * n));
    fftwf_plan forward = fftwf_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_MEASURE);
    fftwf_plan backward = fftwf_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_MEASURE);
    const std::vector<float> noise = Noise(2 * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        data[i][0] = noise[2 * i];
        data[i][1] = noise[2 * i + 1];
    }
    const float scale = 1.0f / static_cast<float>(n);
    for (auto _ : state) {
        fftwf_execute(forward);
        fftwf_execute(backward);
        // FFTW's backward transform is unscaled; ours scales by 1/N in the same call.
        for (int i = 0; i < n; ++i) {
            data[i][0] *= scale;
            data[i][1] *= scale;
        }
        benchmark::DoNotOptimize(data);
    }
    state.SetItemsProcessed(state.iterations() * 2);
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(backward);
    fftwf_free(data);
}

void BM_OurComplexForwardOnly(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    tunefold::TMMComplexFFT* plan = tunefold::CreateComplexFFT(bits);
    std::vector<float> data = Noise(std::size_t{2} << bits);
    for (auto _ : state) {
        tunefold::DoComplexFFT(plan, data.data(), -2); // scaled: stays bounded when repeated
        benchmark::DoNotOptimize(data.data());
    }
    tunefold::FreeComplexFFT(plan);
}

void BM_FftwComplexForwardOnly(benchmark::State& state) {
    const int n = 1 << state.range(0);
    auto* data = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * n));
    fftwf_plan forward = fftwf_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_MEASURE);
    for (int i = 0; i < n; ++i) {
        data[i][0] = 0.0f;
        data[i][1] = 0.0f;
    }
    for (auto _ : state) {
        fftwf_execute(forward);
        benchmark::DoNotOptimize(data);
    }
    fftwf_destroy_plan(forward);
    fftwf_free(data);
}

void BM_OurReal(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    tunefold::TMMRealFFT* plan = tunefold::CreateRealFFT(bits);
    const std::vector<float> input = Noise(std::size_t{1} << bits);
    std::vector<float> data = input;
    for (auto _ : state) {
        data = input;
        tunefold::DoRealFFT(plan, data.data(), 1);
        benchmark::DoNotOptimize(data.data());
    }
    tunefold::FreeRealFFT(plan);
}

void BM_FftwReal(benchmark::State& state) {
    const int n = 1 << state.range(0);
    float* in = static_cast<float*>(fftwf_malloc(sizeof(float) * n));
    auto* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (n / 2 + 1)));
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    const std::vector<float> input = Noise(static_cast<std::size_t>(n));
    for (auto _ : state) {
        std::copy(input.begin(), input.end(), in);
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}

BENCHMARK(BM_OurComplex)->Arg(8)->Arg(10);
BENCHMARK(BM_FftwComplex)->Arg(8)->Arg(10);
BENCHMARK(BM_OurComplexForwardOnly)->Arg(8);
BENCHMARK(BM_FftwComplexForwardOnly)->Arg(8);
BENCHMARK(BM_OurReal)->Arg(8)->Arg(10)->Arg(12);
BENCHMARK(BM_FftwReal)->Arg(8)->Arg(10)->Arg(12);

// Keeps every run's time per iteration so the ratios can be printed after the table.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // CPU time: the machine is shared, and wall time counts the waits for a core.
            times[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void PrintRatio(const RecordingReporter& r, const std::string& ours, const std::string& theirs,
                const char* what) {
    const auto a = r.times.find(ours);
    const auto b = r.times.find(theirs);
    if (a == r.times.end() || b == r.times.end() || b->second <= 0) {
        return;
    }
    std::printf("ratio %-44s ours / FFTW = %.2f\n", what, a->second / b->second);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatio(reporter, "BM_OurComplex/8", "BM_FftwComplex/8", "complex 256 (forward + inverse)");
    PrintRatio(reporter, "BM_OurComplexForwardOnly/8", "BM_FftwComplexForwardOnly/8",
               "complex 256 (forward)");
    PrintRatio(reporter, "BM_OurComplex/10", "BM_FftwComplex/10", "complex 1024 (forward + inverse)");
    PrintRatio(reporter, "BM_OurReal/8", "BM_FftwReal/8", "real 256");
    PrintRatio(reporter, "BM_OurReal/10", "BM_FftwReal/10", "real 1024");
    PrintRatio(reporter, "BM_OurReal/12", "BM_FftwReal/12", "real 4096");
    benchmark::Shutdown();
    return 0;
}
