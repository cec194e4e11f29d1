// The chain on SSE2, the baseline of every x86 build: two lanes a vector, the
// products' errors by Dekker's splitting (no fused multiply-add).
#include <emmintrin.h>

#include "processing/window_chain_kernel.h"

namespace nadixq {

namespace {

struct Sse2 {
    using V = __m128d;
    static constexpr int kWidth = 2;
    static constexpr int kGroup = 4;
    static V Set(double x) { return _mm_set1_pd(x); }
    static V Load(const double* p) { return _mm_loadu_pd(p); }
    static void Store(double* p, V x) { _mm_storeu_pd(p, x); }
    static V Add(V a, V b) { return _mm_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm_mul_pd(a, b); }
    static V Min(V a, V b) { return _mm_min_pd(a, b); }
    // a as two halves of 26 bits (Veltkamp), whose products are exact.
    static void Split(V a, V& hi, V& lo) {
        const V c = _mm_mul_pd(a, _mm_set1_pd(0x1p27 + 1.0));
        hi = _mm_sub_pd(c, _mm_sub_pd(c, a));
        lo = _mm_sub_pd(a, hi);
    }
    static V ProductError(V a, V b, V p) {
        V ah, al, bh, bl;
        Split(a, ah, al);
        Split(b, bh, bl);
        const V e = _mm_add_pd(_mm_add_pd(_mm_sub_pd(_mm_mul_pd(ah, bh), p), _mm_mul_pd(ah, bl)),
                               _mm_mul_pd(al, bh));
        return _mm_add_pd(e, _mm_mul_pd(al, bl));
    }
    // a where a == b, else otherwise.
    static V SelectEqual(V a, V b, V otherwise) {
        const V equal = _mm_cmpeq_pd(a, b);
        return _mm_or_pd(_mm_and_pd(equal, a), _mm_andnot_pd(equal, otherwise));
    }
};

}  // namespace

bool ChainStepsSse2(WindowChain& chain, int steps, double* w) noexcept {
    return ChainStepsOn<Sse2>(chain, steps, w);
}

}  // namespace nadixq
