// The chain on AVX-512 (compiled with -mavx512f -mfma, called only where the
// processor and the system have it): eight lanes a vector, all 32 lanes
// stepped side by side in the 32 registers.
#include <immintrin.h>

#include "processing/window_chain_kernel.h"

namespace nadixq {

namespace {

struct Avx512 {
    using V = __m512d;
    static constexpr int kWidth = 8;
    static constexpr int kGroup = 4;
    static V Set(double x) { return _mm512_set1_pd(x); }
    static V Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, V x) { _mm512_storeu_pd(p, x); }
    static V Add(V a, V b) { return _mm512_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm512_mul_pd(a, b); }
    // (Merged into a rather than into an undefined vector, which GCC 12 warns of.)
    static V Min(V a, V b) { return _mm512_mask_min_pd(a, 0xFF, a, b); }
    static V ProductError(V a, V b, V p) { return _mm512_fmsub_pd(a, b, p); }
    static V SelectEqual(V a, V b, V otherwise) {
        return _mm512_mask_blend_pd(_mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ), otherwise, a);
    }
};

}  // namespace

bool ChainStepsAvx512(WindowChain& chain, int steps, double* w) noexcept {
    return ChainStepsOn<Avx512>(chain, steps, w);
}

}  // namespace nadixq
