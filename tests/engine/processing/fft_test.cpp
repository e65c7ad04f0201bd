#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/processing/fft.h"

namespace tunefold {
namespace {

using CD = std::complex<double>;

// Reference DFT in double precision, sign -1 for the forward kernel.
std::vector<CD> Dft(const std::vector<CD>& x, int sign) {
    const std::size_t n = x.size();
    std::vector<CD> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        CD sum = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const double angle =
                sign * 2.0 * M_PI * static_cast<double>((j * k) % n) / static_cast<double>(n);
            sum += x[j] * CD(std::cos(angle), std::sin(angle));
        }
        out[k] = sum;
    }
    return out;
}

std::vector<float> RandomFloats(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(count);
    for (float& f : v) {
        f = dist(rng);
    }
    return v;
}

// Relative error of interleaved floats against a complex reference, in the L2 norm.
double RelativeError(const std::vector<float>& got, const std::vector<CD>& want) {
    double err = 0, norm = 0;
    for (std::size_t k = 0; k < want.size(); ++k) {
        const CD g(got[2 * k], got[2 * k + 1]);
        err += std::norm(g - want[k]);
        norm += std::norm(want[k]);
    }
    return std::sqrt(err / norm);
}

// Single-precision rounding grows with the number of passes; this bounds it generously but far
// below anything a wrong twiddle or a misplaced output would give (those err by order one).
double Tolerance(int bits) {
    return 4e-7 * (bits + 2);
}

TEST(FftTest, PlansRefuseBadLengthsAndNullArgumentsChangeNothing) {
    EXPECT_EQ(CreateComplexFFT(0), nullptr);
    EXPECT_EQ(CreateComplexFFT(32), nullptr);
    EXPECT_EQ(CreateComplexFFT(-1), nullptr);
    EXPECT_EQ(CreateRealFFT(0), nullptr);
    EXPECT_EQ(CreateRealFFT(32), nullptr);

    std::vector<float> data = RandomFloats(16, 1);
    const std::vector<float> before = data;
    DoComplexFFT(nullptr, data.data(), 1);
    DoRealFFT(nullptr, data.data(), 1);
    EXPECT_EQ(data, before);

    TMMComplexFFT* plan = CreateComplexFFT(3);
    ASSERT_NE(plan, nullptr);
    DoComplexFFT(plan, nullptr, 1); // must not fault
    EXPECT_EQ(plan->Length, 8);
    EXPECT_FLOAT_EQ(plan->InvLength, 0.125f);
    EXPECT_EQ(plan->BitReversal[1], 4);
    EXPECT_EQ(plan->BitReversal[6], 3);
    FreeComplexFFT(plan);
    EXPECT_EQ(plan, nullptr);
    FreeComplexFFT(plan); // freeing null does nothing
    TMMRealFFT* real = nullptr;
    FreeRealFFT(real);
}

TEST(FftTest, ComplexTransformMatchesTheDefinitionInEveryDirection) {
    for (int bits = 1; bits <= 11; ++bits) {
        const std::size_t n = std::size_t{1} << bits;
        TMMComplexFFT* plan = CreateComplexFFT(bits);
        ASSERT_NE(plan, nullptr) << bits;
        const std::vector<float> input = RandomFloats(2 * n, 100 + bits);
        std::vector<CD> x(n);
        for (std::size_t k = 0; k < n; ++k) {
            x[k] = CD(input[2 * k], input[2 * k + 1]);
        }
        const std::vector<CD> forward = Dft(x, -1);
        const std::vector<CD> backward = Dft(x, +1);
        std::vector<CD> scaledForward(n), scaledBackward(n);
        for (std::size_t k = 0; k < n; ++k) {
            scaledForward[k] = forward[k] / static_cast<double>(n);
            scaledBackward[k] = backward[k] / static_cast<double>(n);
        }
        struct Case {
            int direction;
            const std::vector<CD>* want;
        } cases[] = {
            {1, &forward}, {7, &forward}, {-1, &scaledBackward}, {-2, &scaledForward}, {-5, &scaledForward}};
        for (const Case& c : cases) {
            std::vector<float> data = input;
            DoComplexFFT(plan, data.data(), c.direction);
            EXPECT_LT(RelativeError(data, *c.want), Tolerance(bits))
                << "bits " << bits << " direction " << c.direction;
        }
        // The same plan gives the same result again (nothing left behind in its scratch space).
        std::vector<float> once = input, twice = input;
        DoComplexFFT(plan, once.data(), 1);
        DoComplexFFT(plan, twice.data(), 1);
        EXPECT_EQ(once, twice);
        FreeComplexFFT(plan);
    }
}

TEST(FftTest, ForwardThenInverseReturnsTheInput) {
    for (int bits : {1, 2, 3, 4, 5, 8, 10, 12, 14}) {
        const std::size_t n = std::size_t{1} << bits;
        TMMComplexFFT* plan = CreateComplexFFT(bits);
        ASSERT_NE(plan, nullptr);
        const std::vector<float> input = RandomFloats(2 * n, 7 + bits);
        std::vector<float> data = input;
        DoComplexFFT(plan, data.data(), 1);
        DoComplexFFT(plan, data.data(), -1);
        double worst = 0;
        for (std::size_t i = 0; i < data.size(); ++i) {
            worst = std::max(worst, static_cast<double>(std::fabs(data[i] - input[i])));
        }
        EXPECT_LT(worst, 1e-6 * (bits + 2)) << bits;
        FreeComplexFFT(plan);
    }
}

TEST(FftTest, RealTransformMatchesTheDefinition) {
    for (int bits = 1; bits <= 11; ++bits) {
        const std::size_t n = std::size_t{1} << bits;
        TMMRealFFT* plan = CreateRealFFT(bits);
        ASSERT_NE(plan, nullptr) << bits;
        const std::vector<float> input = RandomFloats(n, 300 + bits);
        std::vector<CD> x(n);
        for (std::size_t k = 0; k < n; ++k) {
            x[k] = input[k];
        }
        const std::vector<CD> full = Dft(x, -1);
        // Bin 0 holds the plain sum with a zero beside it; the Nyquist value is not kept.
        std::vector<CD> want(n / 2);
        want[0] = CD(full[0].real(), 0);
        for (std::size_t k = 1; k < n / 2; ++k) {
            want[k] = full[k];
        }
        std::vector<float> data = input;
        DoRealFFT(plan, data.data(), 1);
        EXPECT_EQ(data[1], 0.0f);
        EXPECT_LT(RelativeError(data, want), Tolerance(bits)) << bits;
        FreeRealFFT(plan);
    }
}

TEST(FftTest, RealTransformOfASineAndOfAConstant) {
    TMMRealFFT* plan = CreateRealFFT(8);
    ASSERT_NE(plan, nullptr);
    const float amplitude = 0.75f;
    std::vector<float> data(256);
    for (int i = 0; i < 256; ++i) {
        data[i] = amplitude * static_cast<float>(std::sin(2 * M_PI * 8 * i / 256.0));
    }
    DoRealFFT(plan, data.data(), 1);
    EXPECT_EQ(data[1], 0.0f);
    double total = 0;
    for (int k = 0; k < 128; ++k) {
        total += std::hypot(data[2 * k], data[2 * k + 1]);
    }
    const double peak = std::hypot(data[16], data[17]);
    EXPECT_NEAR(peak, 128 * amplitude, 1e-3);
    EXPECT_GT(peak / total, 0.9999);

    std::vector<float> constant(256, 0.25f);
    DoRealFFT(plan, constant.data(), 1);
    EXPECT_FLOAT_EQ(constant[0], 64.0f);
    EXPECT_EQ(constant[1], 0.0f);
    for (int k = 2; k < 256; ++k) {
        EXPECT_NEAR(constant[k], 0.0f, 1e-5) << k;
    }
    FreeRealFFT(plan);
}

TEST(FftTest, WindowValuesAndTables) {
    EXPECT_NEAR(GetWindowValue(fwHamming, 0, 256), 0.08f, 1e-7);
    EXPECT_NEAR(GetWindowValue(fwHamming, 256, 256), 0.08f, 1e-7);
    EXPECT_FLOAT_EQ(GetWindowValue(fwHamming, 128, 256), 1.0f);
    EXPECT_NEAR(GetWindowValue(fwHanning, 64, 256), 0.5f, 1e-7);
    EXPECT_NEAR(GetWindowValue(fwBlackman, 0, 256), 0.0f, 1e-7);
    EXPECT_FLOAT_EQ(GetWindowValue(fwBlackman, 128, 256), 1.0f);
    EXPECT_FLOAT_EQ(GetWindowValue(fwGaussian, 64, 128), 1.0f);
    EXPECT_FLOAT_EQ(GetWindowValue(fwGaussian, 0, 128), static_cast<float>(std::exp(-5.0)));
    // Welch and Parzen use d = (2n - N) / (N + 1): never quite zero at the edges.
    EXPECT_FLOAT_EQ(GetWindowValue(fwWelch, 0, 9), static_cast<float>(1 - (81.0 / 100.0)));
    EXPECT_FLOAT_EQ(GetWindowValue(fwParzen, 0, 9), static_cast<float>(1 - 0.9));
    EXPECT_FLOAT_EQ(GetWindowValue(fwParzen, 10, 9), static_cast<float>(1 - 11.0 / 10.0));
    EXPECT_FLOAT_EQ(GetWindowValue(fwRectangular, 3, 8), 1.0f);
    EXPECT_FLOAT_EQ(GetWindowValue(9, 3, 8), 1.0f);
    EXPECT_FLOAT_EQ(GetWindowValue(fwHanning, 3, 0), 1.0f); // no division by zero

    std::vector<std::int32_t> table(256);
    MakeWindowTable(table.data(), fwHanning, 8);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[128], 32767);
    EXPECT_EQ(table[64], 16384); // 0.5 x 32767 + 0.5 rounds up
    MakeWindowTable(table.data(), fwRectangular, 8);
    for (std::int32_t v : table) {
        EXPECT_EQ(v, 32767);
    }
}

TEST(FftTest, BitReversalIsItsOwnInverse) {
    std::vector<std::int32_t> table(8);
    MakeBitReversal(table.data(), 3);
    EXPECT_EQ(table, (std::vector<std::int32_t>{0, 4, 2, 6, 1, 5, 3, 7}));
    for (int bits = 0; bits <= 12; ++bits) {
        std::vector<std::int32_t> t(std::size_t{1} << bits);
        MakeBitReversal(t.data(), bits);
        for (std::size_t i = 0; i < t.size(); ++i) {
            ASSERT_EQ(static_cast<std::size_t>(t[static_cast<std::size_t>(t[i])]), i) << bits;
        }
    }
}

TEST(FftTest, ScaleAndComplexMultiply) {
    std::vector<float> data = RandomFloats(14, 5); // 7 pairs: the odd tail goes the scalar way
    const std::vector<float> filter = RandomFloats(14, 6);
    std::vector<float> want(14);
    for (int k = 0; k < 7; ++k) {
        const std::complex<float> p = std::complex<float>(data[2 * k], data[2 * k + 1]) *
                                      std::complex<float>(filter[2 * k], filter[2 * k + 1]);
        want[2 * k] = p.real();
        want[2 * k + 1] = p.imag();
    }
    ComplexMultiply(7, data.data(), filter.data());
    for (int i = 0; i < 14; ++i) {
        EXPECT_NEAR(data[i], want[i], 1e-6) << i;
    }
    ScaleFloats(3, 2.0f, data.data());
    EXPECT_FLOAT_EQ(data[0], 2 * want[0]);
    EXPECT_FLOAT_EQ(data[2], 2 * want[2]);
    EXPECT_FLOAT_EQ(data[3], want[3]);
}

} // namespace
} // namespace tunefold
