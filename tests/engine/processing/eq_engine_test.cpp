#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "engine/processing/eq_engine.h"

namespace tunefold {
namespace {

using CD = std::complex<double>;

WAVEFORMATEX Pcm16(int channels, DWORD rate = 44100) {
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, channels, rate);
    return f;
}

struct EngineHolder {
    TMMEQEngine* e;
    EngineHolder(int channels, int fftLength, DWORD rate = 44100, std::size_t capacity = 65536) {
        WAVEFORMATEX f = Pcm16(channels, rate);
        e = InitEQ(&f, fftLength, capacity);
    }
    ~EngineHolder() { DoneEQ(e); }
};

std::vector<std::int16_t> Noise(std::size_t count, int amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-amplitude, amplitude);
    std::vector<std::int16_t> v(count);
    for (auto& s : v) {
        s = static_cast<std::int16_t>(dist(rng));
    }
    return v;
}

// Runs `input` through the engine in buffers of `bufferBytes` and returns the concatenated output.
std::vector<std::int16_t> Stream(TMMEQEngine* e, TMMChannel channel, std::vector<std::int16_t> data,
                                 std::size_t bufferBytes, bool* overflow = nullptr) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(data.data());
    const std::size_t total = data.size() * 2;
    bool any = false;
    for (std::size_t off = 0; off < total; off += bufferBytes) {
        any |= ProcessEQ(e, channel, bytes + off,
                         static_cast<std::uint32_t>(std::min(bufferBytes, total - off)));
    }
    if (overflow != nullptr) {
        *overflow = any;
    }
    return data;
}

const float kBands[10][2] = {{0, 32},     {32, 64},     {64, 130},    {130, 260},   {260, 500},
                             {500, 1000}, {1000, 2000}, {2000, 4000}, {4000, 8300}, {8300, 16500}};
const float kGains[10] = {6, -4, 9, -12, 3, 12, -8, 5, -15, 10};

void ApplyBands(TMMEQEngine* e) {
    SetEQBand(e, 0, static_cast<float>(e->Rate / 2), 0);
    for (int i = 0; i < 10; ++i) {
        SetEQBand(e, kBands[i][0], kBands[i][1], kGains[i]);
    }
}

TEST(EqEngineTest, FlatCurveDelaysByAQuarterBlockAndScalesByTheCompensatedGain) {
    for (int fft : {256, 1024}) {
        EngineHolder h(2, fft);
        ASSERT_NE(h.e, nullptr);
        const int m = h.e->M;
        EXPECT_EQ(m, fft);
        const std::vector<std::int16_t> in = Noise(2 * 8 * m, 30000, 11);
        const std::vector<std::int16_t> out = Stream(h.e, chBoth, in, 4096); // whole blocks: no queue lag
        const double g = std::pow(10.0, 6.0 / 20.0) / 2;                     // 0.99763
        int worst = 0;
        for (std::size_t n = 0; n < in.size() / 2; ++n) {
            for (int ch = 0; ch < 2; ++ch) {
                const std::size_t src = n - static_cast<std::size_t>(m / 4);
                const double earlier = n >= static_cast<std::size_t>(m / 4) ? in[2 * src + ch] : 0.0;
                const int want = static_cast<int>(std::trunc(earlier * g));
                worst = std::max(worst, std::abs(out[2 * n + ch] - want));
            }
        }
        EXPECT_LE(worst, 1) << "M " << m;
    }
}

// The frequency-sampling design computed from first principles in double precision.
std::vector<CD> ReferenceResponse(int rate, int m,
                                  const std::vector<std::pair<std::pair<double, double>, double>>& bands) {
    const int h = m / 2;
    std::vector<double> curve(h + 1, 0.0);
    const double width = static_cast<float>(static_cast<double>(rate) / m);
    for (const auto& [edges, gain] : bands) {
        double f1 = edges.first, f2 = edges.second;
        const int nyq = rate / 2;
        if (f1 >= nyq) {
            f1 = nyq - 1;
        }
        f2 = std::min<double>(f2, nyq);
        if (f1 > f2) {
            std::swap(f1, f2);
        }
        const int lo = static_cast<int>(f1 / width);
        const int hi = static_cast<int>((f2 == f1 ? f2 + 1 : f2) / width);
        for (int k = lo; k <= hi && k <= h; ++k) {
            curve[k] = std::pow(10.0, (gain + 6) / 20);
        }
    }
    std::vector<double> taps(m, 0.0);
    for (int n = 0; n <= h; ++n) {
        double sum = 0;
        for (int j = 0; j <= h; ++j) {
            const double q = (j == 0 || j == h) ? curve[j] / 2 : curve[j];
            sum += q * std::cos(M_PI * j / 2 - 2 * M_PI * j * n / m);
        }
        const double window = 0.54 - 0.46 * std::cos(2 * M_PI * n / h);
        taps[n] = window * sum;
    }
    std::vector<CD> response(m);
    for (int k = 0; k < m; ++k) {
        CD sum = 0;
        for (int n = 0; n <= h; ++n) {
            sum += taps[n] * std::polar(1.0, -2 * M_PI * k * n / m);
        }
        response[k] = sum / static_cast<double>(m);
    }
    return response;
}

TEST(EqEngineTest, DesignedResponseEqualsAnIndependentFrequencySamplingDesign) {
    for (int rate : {44100, 22050, 48000}) {
        EngineHolder h(2, 256, static_cast<DWORD>(rate));
        ASSERT_NE(h.e, nullptr);
        ApplyBands(h.e);
        std::vector<std::pair<std::pair<double, double>, double>> bands{{{0, rate / 2}, 0}};
        for (int i = 0; i < 10; ++i) {
            bands.push_back({{kBands[i][0], kBands[i][1]}, kGains[i]});
        }
        const std::vector<CD> want = ReferenceResponse(rate, h.e->M, bands);
        double worst = 0, peak = 0;
        for (int k = 0; k < h.e->M; ++k) {
            const CD got(h.e->Response[2 * k], h.e->Response[2 * k + 1]);
            worst = std::max(worst, std::abs(got - want[k]));
            peak = std::max(peak, std::abs(want[k]));
        }
        EXPECT_LT(worst, 2e-6 * peak) << rate;
        EXPECT_GT(peak, 1.5); // +12 dB band: 10^(18/20)/2 = 3.97 at its bins
    }
}

TEST(EqEngineTest, SinesAtBandCentresComeOutWithThePredictedGain) {
    EngineHolder h(1, 256);
    ASSERT_NE(h.e, nullptr);
    ApplyBands(h.e);
    const int m = h.e->M;
    // The taps of the active filter, from its response; their spectrum predicts every gain.
    std::vector<CD> taps(m);
    for (int n = 0; n < m; ++n) {
        CD sum = 0;
        for (int k = 0; k < m; ++k) {
            sum += CD(h.e->Response[2 * k], h.e->Response[2 * k + 1]) * std::polar(1.0, 2 * M_PI * k * n / m);
        }
        taps[n] = sum / static_cast<double>(m);
    }
    for (int band = 3; band < 10; ++band) {
        const double f = std::sqrt(kBands[band][0] * kBands[band][1]);
        CD predicted = 0;
        for (int n = 0; n < m; ++n) {
            predicted += taps[n] * std::polar(1.0, -2 * M_PI * f * n / 44100);
        }
        const double amplitude = 3000;
        std::vector<std::int16_t> in(22 * 1024); // whole buffers: no queue lag anywhere
        for (std::size_t i = 0; i < in.size(); ++i) {
            in[i] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * M_PI * f * i / 44100)));
        }
        ResetEQ(h.e);
        const std::vector<std::int16_t> out = Stream(h.e, chBoth, in, 2048);
        // Least-squares amplitude at f over the steady part.
        double ss = 0, sc = 0, nn = 0;
        for (std::size_t i = 2 * m; i < out.size(); ++i) {
            ss += out[i] * std::sin(2 * M_PI * f * i / 44100);
            sc += out[i] * std::cos(2 * M_PI * f * i / 44100);
            nn += 1;
        }
        const double measured = 2 * std::hypot(ss, sc) / nn / amplitude;
        EXPECT_NEAR(measured, std::abs(predicted), 0.01 * std::abs(predicted) + 2e-3) << "band " << band + 1;
    }
}

TEST(EqEngineTest, ThousandByteBuffersLagBehindWholeBlocks) {
    EngineHolder h(2, 256);
    EngineHolder ref(2, 256);
    ASSERT_NE(h.e, nullptr);
    ApplyBands(h.e);
    ApplyBands(ref.e);
    const std::size_t buffers = 80;
    const std::vector<std::int16_t> in = Noise(buffers * 500, 20000, 5);
    // The reference sees blocks of 1024 bytes and so has no lag at all.
    std::vector<std::int16_t> padded = in;
    padded.resize((padded.size() / 512 + 1) * 512);
    const std::vector<std::int16_t> filtered = Stream(ref.e, chBoth, padded, 1024);
    const std::vector<std::int16_t> out = Stream(h.e, chBoth, in, 1000);
    auto bytesOf = [](const std::vector<std::int16_t>& v) {
        std::vector<std::uint8_t> b(v.size() * 2);
        std::memcpy(b.data(), v.data(), b.size());
        return b;
    };
    const std::vector<std::uint8_t> o = bytesOf(out), f = bytesOf(filtered);
    // Buffer 1: silence. Buffers 2 .. 42: the filtered stream 1000 bytes late.
    for (std::size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(o[i], 0) << i;
    }
    for (std::size_t i = 1000; i < 42000; ++i) {
        ASSERT_EQ(o[i], f[i - 1000]) << i;
    }
    // Buffer 43 starts with 16 bytes of silence; from there the lag is 1016 bytes, without gaps.
    for (std::size_t i = 42000; i < 42016; ++i) {
        EXPECT_EQ(o[i], 0) << i;
    }
    for (std::size_t i = 42016; i < o.size(); ++i) {
        ASSERT_EQ(o[i], f[i - 1016]) << i;
    }
    EXPECT_TRUE(std::any_of(o.begin() + 42016, o.begin() + 43000, [](std::uint8_t b) { return b != 0; }));
}

TEST(EqEngineTest, OneChannelIsFilteredTheOtherPassesAsItArrives) {
    for (TMMChannel channel : {chLeft, chRight}) {
        EngineHolder h(2, 256);
        EngineHolder both(2, 256);
        ApplyBands(h.e);
        ApplyBands(both.e);
        const std::vector<std::int16_t> in = Noise(2 * 2048, 10000, 9);
        // 1000-byte buffers: the filtered channel lags and starts with silence, the other does not.
        const std::vector<std::int16_t> out = Stream(h.e, channel, in, 1000);
        const std::vector<std::int16_t> all = Stream(both.e, chBoth, in, 1000);
        const int filteredCh = channel == chLeft ? 0 : 1;
        for (std::size_t n = 0; n < in.size() / 2; ++n) {
            ASSERT_EQ(out[2 * n + 1 - filteredCh], in[2 * n + 1 - filteredCh]) << n;
            ASSERT_EQ(out[2 * n + filteredCh], all[2 * n + filteredCh]) << n;
        }
    }
    // Mono data: chRight filters the only channel.
    EngineHolder mono(1, 256);
    EngineHolder monoBoth(1, 256);
    const std::vector<std::int16_t> in = Noise(2048, 10000, 3);
    EXPECT_EQ(Stream(mono.e, chRight, in, 512), Stream(monoBoth.e, chBoth, in, 512));
    EXPECT_NE(Stream(monoBoth.e, chBoth, in, 512), in);
}

TEST(EqEngineTest, BandEdgesMapToBins) {
    EngineHolder h(2, 256);
    TMMEQEngine* e = h.e;
    const float width = 44100.0f / 256; // 172.265625
    auto gain = [](float db) { return static_cast<float>(std::pow(10.0L, (db + 6.0L) / 20)); };
    EXPECT_FLOAT_EQ(e->Curve[0], gain(0));
    EXPECT_FLOAT_EQ(e->Curve[128], gain(0));

    // 0-32, 32-64 and 64-130 Hz all land on bin 0; 130-260 Hz (bins 0 .. 1) overrides them.
    SetEQBand(e, 0, 32, 3);
    SetEQBand(e, 32, 64, 4);
    SetEQBand(e, 64, 130, 5);
    EXPECT_FLOAT_EQ(e->Curve[0], gain(5));
    EXPECT_FLOAT_EQ(e->Curve[1], gain(0));
    SetEQBand(e, 130, 260, -7);
    EXPECT_FLOAT_EQ(e->Curve[0], gain(-7));
    EXPECT_FLOAT_EQ(e->Curve[1], gain(-7));
    EXPECT_FLOAT_EQ(e->Curve[2], gain(0));

    // F1 = F2 covers trunc(F1 / width) .. trunc((F1 + 1) / width).
    const float f = 3 * width - 0.5f;
    SetEQBand(e, f, f, 2);
    EXPECT_FLOAT_EQ(e->Curve[1], gain(-7));
    EXPECT_FLOAT_EQ(e->Curve[2], gain(2));
    EXPECT_FLOAT_EQ(e->Curve[3], gain(2));
    EXPECT_FLOAT_EQ(e->Curve[4], gain(0));

    // Above half the rate: F1 moves to nyquist - 1, F2 is cut at nyquist; swapped edges are put right.
    SetEQBand(e, 30000, 40000, -3);
    EXPECT_FLOAT_EQ(e->Curve[126], gain(0));
    EXPECT_FLOAT_EQ(e->Curve[127], gain(-3));
    EXPECT_FLOAT_EQ(e->Curve[128], gain(-3));
    SetEQBand(e, 2000, 1000, 8);
    EXPECT_FLOAT_EQ(e->Curve[4], gain(0)); // 1000 / 172.27 = 5.8, 2000 / 172.27 = 11.6
    EXPECT_FLOAT_EQ(e->Curve[5], gain(8));
    EXPECT_FLOAT_EQ(e->Curve[11], gain(8));
    EXPECT_FLOAT_EQ(e->Curve[12], gain(0));
    // A negative edge stays inside the curve.
    SetEQBand(e, -5000, 100, 1);
    EXPECT_FLOAT_EQ(e->Curve[0], gain(1));
    SetEQBand(e, -5000, -4000, 1);
    EXPECT_FLOAT_EQ(e->Curve[0], gain(1));
}

TEST(EqEngineTest, LengthsFormatsAndThePool) {
    WAVEFORMATEX stereo = Pcm16(2);
    struct {
        int fft, m;
    } cases[] = {{5000, 1024}, {4096, 1024}, {1024, 1024}, {300, 256}, {256, 256}, {8, 8}, {3, 8}};
    for (const auto& c : cases) {
        TMMEQEngine* e = InitEQ(&stereo, c.fft, 65536);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->M, c.m) << c.fft;
        EXPECT_EQ(e->H, c.m / 2);
        EXPECT_EQ(e->FormatKind, 3);
        EXPECT_EQ(e->WindowKind, fwHamming);
        DoneEQ(e);
        EXPECT_EQ(e, nullptr);
    }
    WAVEFORMATEX eight{};
    MakePCMFormat(eight, 8, 2, 44100);
    EXPECT_EQ(InitEQ(&eight, 256, 65536), nullptr);
    EXPECT_EQ(InitEQ(nullptr, 256, 65536), nullptr);
    WAVEFORMATEX mono = Pcm16(1);
    TMMEQEngine* m = InitEQ(&mono, 256, 65536);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->FormatKind, 1);
    DoneEQ(m);

    // Three blocks per engine from the shared pool; a closed engine's blocks are taken again.
    TMMAllocator& pool = EqualizerAllocator();
    TMMEQEngine* a = InitEQ(&stereo, 256, 100000);
    const std::size_t blocks = pool.BlockCount();
    const std::size_t idle = pool.IdleCount();
    DoneEQ(a);
    EXPECT_EQ(pool.IdleCount(), idle + 3);
    TMMEQEngine* b = InitEQ(&stereo, 256, 100000);
    EXPECT_EQ(pool.BlockCount(), blocks);
    EXPECT_EQ(pool.IdleCount(), idle);
    DoneEQ(b);
    // Null engines are ignored everywhere.
    TMMEQEngine* none = nullptr;
    SetEQBand(none, 0, 100, 3);
    SetEQWindow(none, fwHanning);
    ResetEQ(none);
    std::int16_t s[4] = {1, 2, 3, 4};
    EXPECT_FALSE(ProcessEQ(none, chBoth, s, sizeof s));
    DoneEQ(none);
}

TEST(EqEngineTest, SaturationClipsAndReports) {
    EngineHolder h(2, 256);
    SetEQBand(h.e, 0, 22050, 20);
    // Steady +-20000 at +20 dB is about 99760: clipped to the range, never wrapped.
    std::vector<std::int16_t> loud(2 * 4096);
    for (std::size_t n = 0; n < loud.size() / 2; ++n) {
        loud[2 * n] = 20000;
        loud[2 * n + 1] = -20000;
    }
    bool over = false;
    const std::vector<std::int16_t> out = Stream(h.e, chBoth, loud, 4096, &over);
    EXPECT_TRUE(over);
    for (std::size_t n = 512; n < out.size() / 2; ++n) {
        ASSERT_EQ(out[2 * n], 32767) << n;
        ASSERT_EQ(out[2 * n + 1], -32768) << n;
    }
    bool quiet = true;
    EngineHolder q(2, 256);
    Stream(q.e, chBoth, Noise(2048, 1000, 1), 4096, &quiet);
    EXPECT_FALSE(quiet);
}

TEST(EqEngineTest, ResetRestartsTheStreamAndBigBuffersAreTakenInPieces) {
    EngineHolder h(2, 256, 44100, 65536);
    EngineHolder fresh(2, 256, 44100, 65536);
    ApplyBands(h.e);
    ApplyBands(fresh.e);
    const std::vector<std::int16_t> in = Noise(2 * 4096, 15000, 21);
    Stream(h.e, chBoth, Noise(1500, 15000, 4), 1000); // leaves partial blocks and tails behind
    ResetEQ(h.e);
    EXPECT_EQ(h.e->InFill, 0u);
    EXPECT_EQ(h.e->OutFill, 0u);
    EXPECT_EQ(Stream(h.e, chBoth, in, 1000), Stream(fresh.e, chBoth, in, 1000));

    // 200000 bytes at once overrun nothing and give the stream that whole blocks give.
    EngineHolder big(2, 256, 44100, 65536);
    EngineHolder small(2, 256, 44100, 65536);
    ApplyBands(big.e);
    ApplyBands(small.e);
    const std::vector<std::int16_t> long_in = Noise(100000, 15000, 8);
    EXPECT_EQ(Stream(big.e, chBoth, long_in, 200000), Stream(small.e, chBoth, long_in, 4096));
}

TEST(EqEngineTest, WindowChangesRedesignTheResponse) {
    EngineHolder h(2, 256);
    ApplyBands(h.e);
    std::vector<float> hamming(h.e->Response, h.e->Response + 2 * h.e->M);
    SetEQWindow(h.e, fwRectangular);
    EXPECT_EQ(h.e->WindowKind, fwRectangular);
    std::vector<float> rect(h.e->Response, h.e->Response + 2 * h.e->M);
    EXPECT_NE(hamming, rect);
    SetEQWindow(h.e, fwHamming);
    EXPECT_EQ(std::vector<float>(h.e->Response, h.e->Response + 2 * h.e->M), hamming);
}

} // namespace
} // namespace tunefold
