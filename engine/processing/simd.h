// Four-lane single-float vectors for the transform kernels. On x86-64 they are SSE2 registers (SSE2
// is part of the baseline instruction set there); elsewhere a plain array that the compiler may
// vectorise on its own. A vector usually holds two complex values: (re0, im0, re1, im1).
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tunefold::simd {

#if defined(__SSE2__)

struct V4 {
    __m128 v;
};

inline V4 Load(const float* p) {
    return {_mm_loadu_ps(p)};
}
inline void Store(float* p, V4 a) {
    _mm_storeu_ps(p, a.v);
}
inline V4 Set(float a, float b, float c, float d) {
    return {_mm_setr_ps(a, b, c, d)};
}
inline V4 Splat(float a) {
    return {_mm_set1_ps(a)};
}
inline V4 operator+(V4 a, V4 b) {
    return {_mm_add_ps(a.v, b.v)};
}
inline V4 operator-(V4 a, V4 b) {
    return {_mm_sub_ps(a.v, b.v)};
}
inline V4 operator*(V4 a, V4 b) {
    return {_mm_mul_ps(a.v, b.v)};
}
// (a1, a0, a3, a2): exchanges the parts of each complex value.
inline V4 SwapPairs(V4 a) {
    return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(2, 3, 0, 1))};
}
// (a0, a1, b0, b1) and (a2, a3, b2, b3): the low and the high complex values of two vectors.
inline V4 LowHalves(V4 a, V4 b) {
    return {_mm_movelh_ps(a.v, b.v)};
}
inline V4 HighHalves(V4 a, V4 b) {
    return {_mm_movehl_ps(b.v, a.v)};
}
// (a0, a0, a2, a2) and (a1, a1, a3, a3): the real or the imaginary parts, each in both lanes.
inline V4 DupEven(V4 a) {
    return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(2, 2, 0, 0))};
}
inline V4 DupOdd(V4 a) {
    return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(3, 3, 1, 1))};
}
// (a2, a3, a0, a1): the two complex values in the other order.
inline V4 SwapHalves(V4 a) {
    return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(1, 0, 3, 2))};
}

#else

struct V4 {
    float v[4];
};

inline V4 Load(const float* p) {
    return {{p[0], p[1], p[2], p[3]}};
}
inline void Store(float* p, V4 a) {
    for (int i = 0; i < 4; ++i) {
        p[i] = a.v[i];
    }
}
inline V4 Set(float a, float b, float c, float d) {
    return {{a, b, c, d}};
}
inline V4 Splat(float a) {
    return {{a, a, a, a}};
}
inline V4 operator+(V4 a, V4 b) {
    return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}};
}
inline V4 operator-(V4 a, V4 b) {
    return {{a.v[0] - b.v[0], a.v[1] - b.v[1], a.v[2] - b.v[2], a.v[3] - b.v[3]}};
}
inline V4 operator*(V4 a, V4 b) {
    return {{a.v[0] * b.v[0], a.v[1] * b.v[1], a.v[2] * b.v[2], a.v[3] * b.v[3]}};
}
inline V4 SwapPairs(V4 a) {
    return {{a.v[1], a.v[0], a.v[3], a.v[2]}};
}
inline V4 LowHalves(V4 a, V4 b) {
    return {{a.v[0], a.v[1], b.v[0], b.v[1]}};
}
inline V4 HighHalves(V4 a, V4 b) {
    return {{a.v[2], a.v[3], b.v[2], b.v[3]}};
}
inline V4 DupEven(V4 a) {
    return {{a.v[0], a.v[0], a.v[2], a.v[2]}};
}
inline V4 DupOdd(V4 a) {
    return {{a.v[1], a.v[1], a.v[3], a.v[3]}};
}
inline V4 SwapHalves(V4 a) {
    return {{a.v[2], a.v[3], a.v[0], a.v[1]}};
}

#endif

// Complex product of the two values in `a` with twiddles given as re = (wr, wr, ..) and the signed
// imaginary form (-wi, wi, ..): a x w = a x re + swap(a) x im.
inline V4 ComplexMul(V4 a, V4 re, V4 im) {
    return a * re + SwapPairs(a) * im;
}

} // namespace tunefold::simd
