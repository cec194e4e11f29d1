// The chain on AVX2 with FMA (compiled with -mavx2 -mfma, called only where
// the processor has both): four lanes a vector, the products' errors by a
// fused multiply-subtract, which is exact, as Dekker's splitting is.
#include <immintrin.h>

#include "processing/window_chain_kernel.h"

namespace nadixq {

namespace {

struct Avx2 {
    using V = __m256d;
    static constexpr int kWidth = 4;
    static constexpr int kGroup = 4;
    static V Set(double x) { return _mm256_set1_pd(x); }
    static V Load(const double* p) { return _mm256_loadu_pd(p); }
    static void Store(double* p, V x) { _mm256_storeu_pd(p, x); }
    static V Add(V a, V b) { return _mm256_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V Min(V a, V b) { return _mm256_min_pd(a, b); }
    static V ProductError(V a, V b, V p) { return _mm256_fmsub_pd(a, b, p); }
    static V SelectEqual(V a, V b, V otherwise) {
        return _mm256_blendv_pd(otherwise, a, _mm256_cmp_pd(a, b, _CMP_EQ_OQ));
    }
};

}  // namespace

bool ChainStepsAvx2(WindowChain& chain, int steps, double* w) noexcept {
    return ChainStepsOn<Avx2>(chain, steps, w);
}

}  // namespace nadixq
