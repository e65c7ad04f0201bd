#include "engine/processing/fft.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/processing/simd.h"

namespace tunefold {

namespace {

using Ext = long double;
constexpr Ext kPi = 3.141592653589793238462643383279502884L;

// ---- plan memory: one aligned block, carved into the plan record and its tables ----

constexpr std::size_t kAlign = 64;

std::size_t RoundUp(std::size_t bytes) {
    return (bytes + kAlign - 1) & ~(kAlign - 1);
}

struct Carver {
    char* base;
    std::size_t offset = 0;
    template <typename T>
    T* Take(std::size_t count) {
        T* p = reinterpret_cast<T*>(base + offset);
        offset += RoundUp(count * sizeof(T));
        return p;
    }
};

void* AllocateBlock(std::size_t bytes) {
    return std::aligned_alloc(kAlign, RoundUp(bytes));
}

// ---- the kernel: radix-4 autosort (Stockham) passes, a radix-2 or radix-4 pass last ----
//
// A pass of length n and stride s reads x[q + s (p + k m)] (m = n / 4, k = 0 .. 3) and writes the
// four outputs of its butterfly, multiplied by their twiddles, to y[q + s (4p + k)]. The sequence
// ends in natural order, so no bit-reversal permutation is needed. Every pass but the last
// ping-pongs between the data and the plan's scratch array; the last pass (m = 1) reads and writes
// the same positions and so can run in place, which lets every length end in the caller's array.

// Floats of kernel twiddles for an N-point plan.
std::size_t PassTwiddleFloats(std::int64_t n) {
    std::size_t floats = 0;
    bool first = true;
    for (std::int64_t len = n; len >= 4; len /= 4) {
        const std::int64_t m = len / 4;
        if (m == 1) {
            break; // the last pass has unit twiddles
        }
        floats += static_cast<std::size_t>(first ? m * 12 : m * 24);
        first = false;
    }
    return floats;
}

// Twiddle of output k at butterfly p of a pass of length n, in the (re, re) / (-im, im) lane form.
void TwiddleLanes(std::int64_t n, std::int64_t p, int k, float& re, float& negIm) {
    const Ext angle = 2 * kPi * static_cast<Ext>(k * p % n) / static_cast<Ext>(n);
    re = static_cast<float>(std::cos(angle));
    negIm = static_cast<float>(std::sin(angle)); // w = cos - i sin, so -Im w = sin
}

void FillPassTwiddles(float* out, std::int64_t n) {
    bool first = true;
    for (std::int64_t len = n; len >= 4; len /= 4) {
        const std::int64_t m = len / 4;
        if (m == 1) {
            break;
        }
        if (first) {
            // Two butterflies per vector: lanes hold p and p + 1.
            for (std::int64_t p = 0; p < m; p += 2) {
                for (int k = 1; k <= 3; ++k) {
                    float r0, i0, r1, i1;
                    TwiddleLanes(len, p, k, r0, i0);
                    TwiddleLanes(len, p + 1, k, r1, i1);
                    const float v[8] = {r0, r0, r1, r1, i0, -i0, i1, -i1};
                    std::memcpy(out, v, sizeof v);
                    out += 8;
                }
            }
            first = false;
        } else {
            // One butterfly's twiddles broadcast over two values of q.
            for (std::int64_t p = 0; p < m; ++p) {
                for (int k = 1; k <= 3; ++k) {
                    float r, i;
                    TwiddleLanes(len, p, k, r, i);
                    const float v[8] = {r, r, r, r, i, -i, i, -i};
                    std::memcpy(out, v, sizeof v);
                    out += 8;
                }
            }
        }
    }
}

using simd::V4;

template <bool Inverse>
inline V4 Twiddle(V4 a, const float* tw) {
    const V4 re = simd::Load(tw);
    const V4 im = simd::Load(tw + 4);
    // The inverse transform uses the conjugate twiddles.
    return Inverse ? a * re - simd::SwapPairs(a) * im : a * re + simd::SwapPairs(a) * im;
}

// -i x (b - d) for the forward transform, +i x (b - d) for the inverse one.
template <bool Inverse>
inline V4 RotateQuarter(V4 bmd) {
    const V4 sign = Inverse ? simd::Set(-1.0f, 1.0f, -1.0f, 1.0f) : simd::Set(1.0f, -1.0f, 1.0f, -1.0f);
    return simd::SwapPairs(bmd) * sign;
}

// First pass (s = 1, m >= 2): vectorised over pairs of butterflies, outputs transposed on store.
template <bool Inverse>
void PassFirst(const float* x, float* y, std::int64_t m, const float* tw) {
    const std::int64_t m2 = 2 * m;
    for (std::int64_t p = 0; p < m; p += 2, tw += 24) {
        const float* xp = x + 2 * p;
        const V4 a = simd::Load(xp);
        const V4 b = simd::Load(xp + m2);
        const V4 c = simd::Load(xp + 2 * m2);
        const V4 d = simd::Load(xp + 3 * m2);
        const V4 apc = a + c, amc = a - c, bpd = b + d;
        const V4 t = RotateQuarter<Inverse>(b - d);
        const V4 y0 = apc + bpd;
        const V4 y1 = Twiddle<Inverse>(amc + t, tw);
        const V4 y2 = Twiddle<Inverse>(apc - bpd, tw + 8);
        const V4 y3 = Twiddle<Inverse>(amc - t, tw + 16);
        float* yp = y + 8 * p;
        simd::Store(yp, simd::LowHalves(y0, y1));
        simd::Store(yp + 4, simd::LowHalves(y2, y3));
        simd::Store(yp + 8, simd::HighHalves(y0, y1));
        simd::Store(yp + 12, simd::HighHalves(y2, y3));
    }
}

// A middle pass (s >= 4): vectorised over q, one set of twiddles per butterfly index p.
template <bool Inverse>
void PassMiddle(const float* x, float* y, std::int64_t m, std::int64_t s, const float* tw) {
    const std::int64_t sm2 = 2 * s * m;
    for (std::int64_t p = 0; p < m; ++p, tw += 24) {
        const float* xp = x + 2 * s * p;
        float* yp = y + 8 * s * p;
        const V4 r1 = simd::Load(tw), i1 = simd::Load(tw + 4);
        const V4 r2 = simd::Load(tw + 8), i2 = simd::Load(tw + 12);
        const V4 r3 = simd::Load(tw + 16), i3 = simd::Load(tw + 20);
        for (std::int64_t q = 0; q < 2 * s; q += 4) {
            const V4 a = simd::Load(xp + q);
            const V4 b = simd::Load(xp + q + sm2);
            const V4 c = simd::Load(xp + q + 2 * sm2);
            const V4 d = simd::Load(xp + q + 3 * sm2);
            const V4 apc = a + c, amc = a - c, bpd = b + d;
            const V4 t = RotateQuarter<Inverse>(b - d);
            const V4 u1 = amc + t, u2 = apc - bpd, u3 = amc - t;
            simd::Store(yp + q, apc + bpd);
            if (Inverse) {
                simd::Store(yp + q + 2 * s, u1 * r1 - simd::SwapPairs(u1) * i1);
                simd::Store(yp + q + 4 * s, u2 * r2 - simd::SwapPairs(u2) * i2);
                simd::Store(yp + q + 6 * s, u3 * r3 - simd::SwapPairs(u3) * i3);
            } else {
                simd::Store(yp + q + 2 * s, u1 * r1 + simd::SwapPairs(u1) * i1);
                simd::Store(yp + q + 4 * s, u2 * r2 + simd::SwapPairs(u2) * i2);
                simd::Store(yp + q + 6 * s, u3 * r3 + simd::SwapPairs(u3) * i3);
            }
        }
    }
}

// Last radix-4 pass (m = 1, s = N/4 >= 4): unit twiddles, same positions in and out, optional scale.
template <bool Inverse, bool Scaled>
void PassLast4(const float* x, float* y, std::int64_t s, float scale) {
    const std::int64_t s2 = 2 * s;
    const V4 f = simd::Splat(scale);
    for (std::int64_t q = 0; q < s2; q += 4) {
        const V4 a = simd::Load(x + q);
        const V4 b = simd::Load(x + q + s2);
        const V4 c = simd::Load(x + q + 2 * s2);
        const V4 d = simd::Load(x + q + 3 * s2);
        const V4 apc = a + c, amc = a - c, bpd = b + d;
        const V4 t = RotateQuarter<Inverse>(b - d);
        V4 y0 = apc + bpd, y1 = amc + t, y2 = apc - bpd, y3 = amc - t;
        if (Scaled) {
            y0 = y0 * f, y1 = y1 * f, y2 = y2 * f, y3 = y3 * f;
        }
        simd::Store(y + q, y0);
        simd::Store(y + q + s2, y1);
        simd::Store(y + q + 2 * s2, y2);
        simd::Store(y + q + 3 * s2, y3);
    }
}

// Last radix-2 pass (s = N/2 >= 4).
template <bool Scaled>
void PassLast2(const float* x, float* y, std::int64_t s, float scale) {
    const std::int64_t s2 = 2 * s;
    const V4 f = simd::Splat(scale);
    for (std::int64_t q = 0; q < s2; q += 4) {
        const V4 a = simd::Load(x + q);
        const V4 b = simd::Load(x + q + s2);
        V4 y0 = a + b, y1 = a - b;
        if (Scaled) {
            y0 = y0 * f, y1 = y1 * f;
        }
        simd::Store(y + q, y0);
        simd::Store(y + q + s2, y1);
    }
}

template <bool Inverse, bool Scaled>
void RunPasses(const TMMComplexFFT& plan, float* data) {
    const std::int64_t n = plan.Length;
    float* scratch = plan.Scratch;
    const float* tw = plan.PassTwiddles;
    const float* src = data;
    float* dst = scratch;
    std::int64_t len = n;
    std::int64_t s = 1;
    // Every radix-4 pass whose butterflies still carry twiddles.
    while (len >= 4 && len / 4 > 1) {
        const std::int64_t m = len / 4;
        if (s == 1) {
            PassFirst<Inverse>(src, dst, m, tw);
            tw += m * 12;
        } else {
            PassMiddle<Inverse>(src, dst, m, s, tw);
            tw += m * 24;
        }
        src = dst;
        dst = (dst == scratch) ? data : scratch;
        len /= 4;
        s *= 4;
    }
    if (len == 4) {
        PassLast4<Inverse, Scaled>(src, data, s, plan.InvLength);
    } else {
        PassLast2<Scaled>(src, data, s, plan.InvLength);
    }
}

// Lengths 1, 2 and 4 are done directly; their twiddles are exact quarter turns.
void SmallTransform(const TMMComplexFFT& plan, float* data, bool inverse, bool scaled) {
    const std::int64_t n = plan.Length;
    static constexpr int kCos[4] = {1, 0, -1, 0};
    static constexpr int kSin[4] = {0, -1, 0, 1}; // forward: e^(-i pi/2 e)
    Ext re[4], im[4];
    for (std::int64_t k = 0; k < n; ++k) {
        re[k] = 0;
        im[k] = 0;
        for (std::int64_t j = 0; j < n; ++j) {
            const std::int64_t e = (j * k % n) * (4 / n);
            const Ext c = kCos[e];
            const Ext s = inverse ? -kSin[e] : kSin[e];
            re[k] += data[2 * j] * c - data[2 * j + 1] * s;
            im[k] += data[2 * j] * s + data[2 * j + 1] * c;
        }
    }
    const Ext f = scaled ? static_cast<Ext>(plan.InvLength) : 1;
    for (std::int64_t k = 0; k < n; ++k) {
        data[2 * k] = static_cast<float>(re[k] * f);
        data[2 * k + 1] = static_cast<float>(im[k] * f);
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------

float GetWindowValue(int window, long n, long N) {
    if (N <= 0) {
        return 1.0f;
    }
    const Ext x = static_cast<Ext>(n);
    const Ext len = static_cast<Ext>(N);
    Ext v = 1;
    switch (window) {
    case fwHamming:
        v = 0.54L - 0.46L * std::cos(2 * kPi * x / len);
        break;
    case fwHanning:
        v = 0.5L - 0.5L * std::cos(2 * kPi * x / len);
        break;
    case fwBlackman:
        v = 0.42L - 0.5L * std::cos(2 * kPi * x / len) + 0.08L * std::cos(4 * kPi * x / len);
        break;
    case fwGaussian: {
        const Ext d = 2 * x - len;
        v = std::exp(-5 * d * d / (len * len));
        break;
    }
    case fwWelch: {
        const Ext d = (2 * x - len) / (len + 1);
        v = 1 - d * d;
        break;
    }
    case fwParzen: {
        const Ext d = (2 * x - len) / (len + 1);
        v = 1 - std::fabs(d);
        break;
    }
    default:
        v = 1;
        break;
    }
    return static_cast<float>(v);
}

void MakeWindowTable(std::int32_t* table, int window, int bits) {
    if (table == nullptr || bits < 0 || bits > 30) {
        return;
    }
    const long n = 1L << bits;
    for (long i = 0; i < n; ++i) {
        const double v = static_cast<double>(GetWindowValue(window, i, n)) * 32767.0 + 0.5;
        table[i] = static_cast<std::int32_t>(std::floor(v));
    }
}

void MakeBitReversal(std::int32_t* table, int bits) {
    if (table == nullptr || bits < 0 || bits > 31) {
        return;
    }
    const std::int64_t n = std::int64_t{1} << bits;
    for (std::int64_t i = 0; i < n; ++i) {
        std::uint32_t r = 0;
        std::uint32_t v = static_cast<std::uint32_t>(i);
        for (int b = 0; b < bits; ++b) {
            r = (r << 1) | (v & 1u);
            v >>= 1;
        }
        table[i] = static_cast<std::int32_t>(r);
    }
}

TMMComplexFFT* CreateComplexFFT(int bits) {
    if (bits < 1 || bits > 31) {
        return nullptr;
    }
    const std::int64_t n = std::int64_t{1} << bits;
    const std::size_t un = static_cast<std::size_t>(n);
    const std::size_t quarter = un / 4;
    const std::size_t passFloats = PassTwiddleFloats(n);
    const std::size_t bytes = RoundUp(sizeof(TMMComplexFFT)) + RoundUp(un * sizeof(std::int32_t)) +
                              RoundUp(quarter * 4 * sizeof(float)) + RoundUp(passFloats * sizeof(float)) +
                              RoundUp(un * 2 * sizeof(float));
    void* block = AllocateBlock(bytes);
    if (block == nullptr) {
        return nullptr;
    }
    Carver carve{static_cast<char*>(block)};
    auto* plan = new (carve.Take<TMMComplexFFT>(1)) TMMComplexFFT{};
    plan->Bits = bits;
    plan->Length = n;
    plan->InvLength = static_cast<float>(1.0L / static_cast<Ext>(n));
    plan->BitReversal = carve.Take<std::int32_t>(un);
    plan->Twiddles = carve.Take<float>(quarter * 4);
    plan->PassTwiddles = carve.Take<float>(passFloats);
    plan->Scratch = carve.Take<float>(un * 2);
    plan->Block = block;

    MakeBitReversal(plan->BitReversal, bits);
    // The descriptive twiddle table, filled by rotation as the plan's record defines it.
    const Ext t = 2 * kPi / static_cast<Ext>(n);
    const Ext c1 = std::cos(t), s1 = -std::sin(t), c3 = std::cos(3 * t), s3 = -std::sin(3 * t);
    Ext ar = 1, ai = 0, br = 1, bi = 0;
    for (std::size_t k = 0; k < quarter; ++k) {
        plan->Twiddles[4 * k] = static_cast<float>(ar);
        plan->Twiddles[4 * k + 1] = static_cast<float>(ai);
        plan->Twiddles[4 * k + 2] = static_cast<float>(br);
        plan->Twiddles[4 * k + 3] = static_cast<float>(bi);
        const Ext nar = ar * c1 - ai * s1, nai = ar * s1 + ai * c1;
        const Ext nbr = br * c3 - bi * s3, nbi = br * s3 + bi * c3;
        ar = nar, ai = nai, br = nbr, bi = nbi;
    }
    FillPassTwiddles(plan->PassTwiddles, n);
    std::memset(plan->Scratch, 0, un * 2 * sizeof(float));
    return plan;
}

void FreeComplexFFT(TMMComplexFFT*& plan) {
    if (plan == nullptr) {
        return;
    }
    void* block = plan->Block;
    plan->~TMMComplexFFT();
    std::free(block);
    plan = nullptr;
}

void DoComplexFFT(const TMMComplexFFT* plan, float* data, int direction) {
    if (plan == nullptr || data == nullptr) {
        return;
    }
    const bool inverse = direction == -1;
    const bool scaled = direction < 0;
    if (plan->Length <= 4) {
        SmallTransform(*plan, data, inverse, scaled);
    } else if (inverse) {
        RunPasses<true, true>(*plan, data);
    } else if (scaled) {
        RunPasses<false, true>(*plan, data);
    } else {
        RunPasses<false, false>(*plan, data);
    }
}

TMMRealFFT* CreateRealFFT(int bits) {
    if (bits < 1 || bits > 31) {
        return nullptr;
    }
    const std::int64_t n = std::int64_t{1} << bits;
    const std::size_t quarter = static_cast<std::size_t>(n / 4);
    const std::size_t bytes = RoundUp(sizeof(TMMRealFFT)) + RoundUp(quarter * 2 * sizeof(float));
    void* block = AllocateBlock(bytes);
    if (block == nullptr) {
        return nullptr;
    }
    TMMComplexFFT* half = nullptr;
    if (bits > 1) {
        half = CreateComplexFFT(bits - 1);
        if (half == nullptr) {
            std::free(block);
            return nullptr;
        }
    }
    Carver carve{static_cast<char*>(block)};
    auto* plan = new (carve.Take<TMMRealFFT>(1)) TMMRealFFT{};
    plan->Bits = bits;
    plan->Length = n;
    plan->InvLength = static_cast<float>(1.0L / static_cast<Ext>(n));
    plan->Half = half;
    plan->Split = carve.Take<float>(quarter * 2);
    plan->Block = block;
    // (0.5 cos kt, 0.5 - 0.5 sin kt) by rotation from (0.5, 0.5) at k = 0.
    const Ext t = 2 * kPi / static_cast<Ext>(n);
    const Ext ct = std::cos(t), st = std::sin(t);
    Ext c = 1, s = 0;
    for (std::size_t k = 0; k < quarter; ++k) {
        plan->Split[2 * k] = static_cast<float>(0.5L * c);
        plan->Split[2 * k + 1] = static_cast<float>(0.5L - 0.5L * s);
        const Ext nc = c * ct - s * st, ns = s * ct + c * st;
        c = nc, s = ns;
    }
    return plan;
}

void FreeRealFFT(TMMRealFFT*& plan) {
    if (plan == nullptr) {
        return;
    }
    FreeComplexFFT(plan->Half);
    void* block = plan->Block;
    plan->~TMMRealFFT();
    std::free(block);
    plan = nullptr;
}

void DoRealFFT(const TMMRealFFT* plan, float* data, int /*direction*/) {
    if (plan == nullptr || data == nullptr) {
        return;
    }
    const std::int64_t n = plan->Length;
    if (n == 2) {
        data[0] = data[0] + data[1];
        data[1] = 0;
        return;
    }
    // The samples as N/2 complex values z[j] = x[2j] + i x[2j+1].
    DoComplexFFT(plan->Half, data, 1);
    const std::int64_t half = n / 2;
    const std::int64_t quarter = n / 4;
    const float z0r = data[0], z0i = data[1];
    data[0] = z0r + z0i;
    data[1] = 0;
    // X[k] = A Z[k] + B conj(Z[N/2-k]) with A = (ar, -ac), B = (1 - ar, ac); for the mirror bin
    // N/2 - k the same table entry gives A' = (ar, ac) and B' = (1 - ar, -ac). Two bins k, k + 1
    // and their mirrors go together; the pairs never overlap their mirrors below N/4.
    const simd::V4 one = simd::Splat(1.0f);
    const simd::V4 conjSign = simd::Set(1.0f, -1.0f, 1.0f, -1.0f);
    const simd::V4 rotSign = simd::Set(-1.0f, 1.0f, -1.0f, 1.0f);
    std::int64_t k = 1;
    for (; k + 1 < quarter; k += 2) {
        float* pk = data + 2 * k;
        float* pm = data + 2 * (half - k - 1);
        const simd::V4 zk = simd::Load(pk);
        const simd::V4 zm = simd::SwapHalves(simd::Load(pm)); // Z[N/2-k], Z[N/2-k-1]
        const simd::V4 coef = simd::Load(plan->Split + 2 * k);
        const simd::V4 ac = simd::DupEven(coef);
        const simd::V4 ar = simd::DupOdd(coef);
        const simd::V4 br = one - ar;
        const simd::V4 zkS = simd::SwapPairs(zk);
        const simd::V4 zmS = simd::SwapPairs(zm);
        const simd::V4 xk = ar * zk + ac * (zkS * conjSign) + br * (zm * conjSign) + ac * zmS;
        const simd::V4 xm = ar * zm + ac * (zmS * rotSign) + br * (zk * conjSign) - ac * zkS;
        simd::Store(pk, xk);
        simd::Store(pm, simd::SwapHalves(xm));
    }
    for (; k < quarter; ++k) {
        const float ac = plan->Split[2 * k];
        const float ar = plan->Split[2 * k + 1];
        const float br = 1.0f - ar;
        float* pk = data + 2 * k;
        float* pm = data + 2 * (half - k);
        const float zkr = pk[0], zki = pk[1];
        const float zmr = pm[0], zmi = pm[1];
        pk[0] = ar * zkr + ac * zki + br * zmr + ac * zmi;
        pk[1] = ar * zki - ac * zkr + ac * zmr - br * zmi;
        pm[0] = ar * zmr - ac * zmi + br * zkr - ac * zki;
        pm[1] = ar * zmi + ac * zmr - ac * zkr - br * zki;
    }
    data[2 * quarter + 1] = -data[2 * quarter + 1];
}

void ScaleFloats(std::int64_t count, float factor, float* data) {
    if (data == nullptr) {
        return;
    }
    for (std::int64_t i = 0; i < count; ++i) {
        data[i] *= factor;
    }
}

void ComplexMultiply(std::int64_t count, float* data, const float* filter) {
    if (data == nullptr || filter == nullptr) {
        return;
    }
    std::int64_t k = 0;
    for (; k + 2 <= count; k += 2) {
        const simd::V4 a = simd::Load(data + 2 * k);
        const simd::V4 f = simd::Load(filter + 2 * k);
        // (fr, fr) and (-fi, fi) lanes from the filter values.
        const simd::V4 fr = simd::DupEven(f);
        const simd::V4 fi = simd::DupOdd(f) * simd::Set(-1.0f, 1.0f, -1.0f, 1.0f);
        simd::Store(data + 2 * k, simd::ComplexMul(a, fr, fi));
    }
    for (; k < count; ++k) {
        const float ar = data[2 * k], ai = data[2 * k + 1];
        const float fr = filter[2 * k], fi = filter[2 * k + 1];
        data[2 * k] = ar * fr - ai * fi;
        data[2 * k + 1] = ar * fi + ai * fr;
    }
}

} // namespace tunefold
