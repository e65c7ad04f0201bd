// The equalizer on 44.1 kHz 16-bit stereo in the player's 2048-byte buffers, against an overlap-add
// of the very same taps done with FFTW (real transforms, measured plans). Prints the ratio at the end.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/processing/eq_engine.h"
#include "engine/processing/equalizer.h"

namespace {

using namespace tunefold;

constexpr std::size_t kBufferBytes = 2048;
constexpr std::size_t kSeconds = 1;
constexpr std::size_t kFrames = 44100 * kSeconds;

const float kEdges[10][2] = {{0, 32},     {32, 64},     {64, 130},    {130, 260},   {260, 500},
                             {500, 1000}, {1000, 2000}, {2000, 4000}, {4000, 8300}, {8300, 16500}};
const float kGains[10] = {4, 3, 2, 1, 0, -1, -2, -3, 2, 5};

std::vector<std::int16_t> Music() {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> dist(-6000, 6000);
    std::vector<std::int16_t> v(2 * kFrames);
    for (std::size_t n = 0; n < kFrames; ++n) {
        const double t = static_cast<double>(n) / 44100;
        const double tone = 5000 * std::sin(2 * M_PI * 440 * t) + 3000 * std::sin(2 * M_PI * 97 * t);
        v[2 * n] = static_cast<std::int16_t>(tone + dist(rng));
        v[2 * n + 1] = static_cast<std::int16_t>(tone - dist(rng));
    }
    return v;
}

TMMEQEngine* PlayerEngine() {
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 2, 44100);
    TMMEQEngine* e = InitEQ(&f, 256, 65536);
    SetEQBand(e, 0, 22050, 0);
    for (int i = 0; i < 10; ++i) {
        SetEQBand(e, kEdges[i][0], kEdges[i][1], kGains[i]);
    }
    return e;
}

void BM_OurEqualizerEngine(benchmark::State& state) {
    TMMEQEngine* e = PlayerEngine();
    const std::vector<std::int16_t> music = Music();
    std::vector<std::int16_t> data = music;
    for (auto _ : state) {
        std::memcpy(data.data(), music.data(), music.size() * 2);
        auto* bytes = reinterpret_cast<std::uint8_t*>(data.data());
        for (std::size_t off = 0; off + kBufferBytes <= data.size() * 2; off += kBufferBytes) {
            ProcessEQ(e, chBoth, bytes + off, kBufferBytes);
        }
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * music.size() * 2));
    DoneEQ(e);
}

// The whole stage: pushes through TMMEqualizer as the chain does.
void BM_OurEqualizerStage(benchmark::State& state) {
    TMMEqualizer eq;
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 2, 44100);
    eq.SetPWaveFormat(&f);
    for (int i = 0; i < 10; ++i) {
        eq.Filters().AddFilter(kEdges[i][0], kEdges[i][1], kGains[i]);
    }
    eq.Opened();
    const std::vector<std::int16_t> music = Music();
    std::vector<std::int16_t> data = music;
    for (auto _ : state) {
        std::memcpy(data.data(), music.data(), music.size() * 2);
        auto* bytes = reinterpret_cast<char*>(data.data());
        for (std::size_t off = 0; off + kBufferBytes <= data.size() * 2; off += kBufferBytes) {
            WAVEHDR h{};
            h.lpData = bytes + off;
            h.dwBufferLength = h.dwBytesRecorded = kBufferBytes;
            eq.BufferReady(&h);
        }
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * music.size() * 2));
    eq.Closed();
}

// Overlap-add with FFTW: per channel, blocks of H new samples, zero-padded to M, real forward
// transform, product with the filter's spectrum, real inverse transform, tail carried over.
class FftwOverlapAdd {
public:
    explicit FftwOverlapAdd(const TMMEQEngine& e) : m_(e.M), h_(e.H) {
        in_ = static_cast<float*>(fftwf_malloc(sizeof(float) * m_));
        spec_ = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (m_ / 2 + 1)));
        forward_ = fftwf_plan_dft_r2c_1d(m_, in_, spec_, FFTW_MEASURE);
        backward_ = fftwf_plan_dft_c2r_1d(m_, spec_, in_, FFTW_MEASURE);
        // The same taps: the engine's response is the spectrum of taps / M; FFTW's inverse is
        // unscaled, so the filter spectrum is the response divided by M once more.
        filter_.resize(m_ / 2 + 1);
        for (int k = 0; k <= m_ / 2; ++k) {
            filter_[k] =
                std::complex<float>(e.Response[2 * k], e.Response[2 * k + 1]) / static_cast<float>(m_);
        }
        for (auto& o : overlap_) {
            o.assign(m_, 0.0f);
        }
    }
    ~FftwOverlapAdd() {
        fftwf_destroy_plan(forward_);
        fftwf_destroy_plan(backward_);
        fftwf_free(in_);
        fftwf_free(spec_);
    }
    bool Process(std::int16_t* frames, std::size_t count) {
        bool over = false;
        for (int ch = 0; ch < 2; ++ch) {
            for (std::size_t start = 0; start + h_ <= count; start += h_) {
                for (int i = 0; i < h_; ++i) {
                    in_[i] = frames[2 * (start + i) + ch];
                }
                std::fill(in_ + h_, in_ + m_, 0.0f);
                fftwf_execute(forward_);
                for (int k = 0; k <= m_ / 2; ++k) {
                    const std::complex<float> v(spec_[k][0], spec_[k][1]);
                    const std::complex<float> p = v * filter_[k];
                    spec_[k][0] = p.real();
                    spec_[k][1] = p.imag();
                }
                fftwf_execute(backward_);
                std::vector<float>& o = overlap_[ch];
                for (int i = 0; i < m_; ++i) {
                    o[i] += in_[i];
                }
                for (int i = 0; i < h_; ++i) {
                    float v = o[i];
                    if (v >= 32768.0f) {
                        v = 32767, over = true;
                    } else if (v <= -32769.0f) {
                        v = -32768, over = true;
                    }
                    frames[2 * (start + i) + ch] = static_cast<std::int16_t>(v);
                }
                std::memmove(o.data(), o.data() + h_, sizeof(float) * (m_ - h_));
                std::fill(o.begin() + (m_ - h_), o.end(), 0.0f);
            }
        }
        return over;
    }

private:
    int m_, h_;
    float* in_;
    fftwf_complex* spec_;
    fftwf_plan forward_, backward_;
    std::vector<std::complex<float>> filter_;
    std::vector<float> overlap_[2];
};

void BM_FftwOverlapAdd(benchmark::State& state) {
    TMMEQEngine* e = PlayerEngine();
    FftwOverlapAdd ola(*e);
    const std::vector<std::int16_t> music = Music();
    std::vector<std::int16_t> data = music;
    for (auto _ : state) {
        std::memcpy(data.data(), music.data(), music.size() * 2);
        for (std::size_t off = 0; off + kBufferBytes / 2 <= data.size(); off += kBufferBytes / 2) {
            ola.Process(data.data() + off, kBufferBytes / 4);
        }
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * music.size() * 2));
    DoneEQ(e);
}

BENCHMARK(BM_OurEqualizerEngine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OurEqualizerStage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FftwOverlapAdd)->Unit(benchmark::kMicrosecond);

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

// The two ways must filter alike, or the comparison means nothing.
bool SameOutput() {
    TMMEQEngine* e = PlayerEngine();
    FftwOverlapAdd ola(*e);
    std::vector<std::int16_t> a = Music(), b = a;
    for (std::size_t off = 0; off + kBufferBytes / 2 <= a.size(); off += kBufferBytes / 2) {
        ProcessEQ(e, chBoth, a.data() + off, kBufferBytes);
        ola.Process(b.data() + off, kBufferBytes / 4);
    }
    DoneEQ(e);
    // Both give the same stream (the player's buffers hold whole blocks, so the engine adds no lag):
    // they may differ by the rounding of the last bit.
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        worst = std::max(worst, std::abs(a[i] - b[i]));
    }
    std::printf("largest difference between the two outputs: %d LSB\n", worst);
    return worst <= 1;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const bool same = SameOutput();
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double fftw = reporter.times["BM_FftwOverlapAdd"];
    if (fftw > 0) {
        std::printf("ratio equalizer engine / FFTW overlap-add = %.2f\n",
                    reporter.times["BM_OurEqualizerEngine"] / fftw);
        std::printf("ratio equalizer stage  / FFTW overlap-add = %.2f\n",
                    reporter.times["BM_OurEqualizerStage"] / fftw);
    }
    benchmark::Shutdown();
    return same ? 0 : 1;
}
