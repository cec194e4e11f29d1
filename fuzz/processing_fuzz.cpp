// The three processing exports on hostile arrays: any point count (negative,
// zero, up to the largest interferogram), a null array, hints and windows
// anywhere, any mode and width, NaN, infinities and denormals among the
// values. The array is exactly `pts` doubles on the heap, so that the address
// sanitizer sees any access past it. Contracts: FindZPD writes nothing and
// finds -3 or an index inside its window; BaselineCorrectIfg and
// GaussianApodize return 1 or 0, and leave the array untouched with 0;
// apodization never grows a value and keeps the one at the ZPD; a baseline
// correction of values that cannot overflow stays finite.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "interface/nadixq.h"
#include "processing/baseline_correction.h"
#include "processing/gaussian_apodization.h"
#include "processing/zpd_search.h"

using nadixq::fuzz::FuzzInput;

namespace {

bool SameBits(const double* a, const std::vector<double>& b) {
    return b.empty() || std::memcmp(a, b.data(), b.size() * sizeof(double)) == 0;
}

// Where FindZPD searches, by its documented rules.
void SearchWindow(int pts, int hint, int start, int end, int* lo, int* hi) {
    *lo = start < 0 ? 0 : start;
    *hi = (end <= *lo || end >= pts) ? pts - 1 : end;
    if (hint >= nadixq::kZpdHintFirst && hint <= nadixq::kZpdHintLast) {
        *lo = hint - nadixq::kZpdHintReach;
        *hi = hint + nadixq::kZpdHintReach;
        if (*hi >= pts) *hi = pts - 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const int operation = input.U8() % 3;
    const int32_t rawPoints = input.I32();
    const int pts = rawPoints < 0 ? rawPoints : rawPoints % 32769;
    const bool nullArray = (input.U8() & 1) != 0;

    const size_t count = pts > 0 ? static_cast<size_t>(pts) : 0;
    std::unique_ptr<double[]> ifg(nullArray ? nullptr : new double[count]);
    if (ifg) {
        // A centre burst (a damped cosine) on an offset, or zeros.
        const bool burst = (input.U8() & 1) != 0;
        const int32_t centre = input.I32();
        const double amplitude = input.F64();
        const double offset = input.F64();
        const double decay = input.F64();
        for (size_t i = 0; i < count; ++i) {
            const double x = static_cast<double>(i) - centre;
            ifg[i] = burst
                         ? offset + amplitude * std::cos(0.7 * x) * std::exp(-std::fabs(x * decay))
                         : 0.0;
        }
    }
    const int32_t hint = input.I32();
    const int32_t start = input.I32();
    const int32_t end = input.I32();
    const int32_t mode = input.I32();
    const double width = input.F64();
    // The rest of the input overrides single values, with any bit pattern.
    for (int n = 0; n < 256 && !input.Empty(); ++n) {
        const uint16_t at = input.U16();
        const double value = input.F64();
        if (ifg && count > 0) ifg[at % count] = value;
    }

    std::vector<double> before(ifg ? ifg.get() : nullptr, ifg ? ifg.get() + count : nullptr);
    double* array = ifg.get();
    switch (operation) {
        case 0: {
            const int zpd = FindZPD(array, pts, hint, start, end);
            NADIXQ_FUZZ_CHECK(SameBits(array, before));
            if (zpd != nadixq::kZpdNotFound) {
                NADIXQ_FUZZ_CHECK(array != nullptr && pts > 0);
                int lo = 0, hi = 0;
                SearchWindow(pts, hint, start, end, &lo, &hi);
                NADIXQ_FUZZ_CHECK(zpd >= lo && zpd <= hi && zpd < pts);
            }
            break;
        }
        case 1: {
            const int result = BaselineCorrectIfg(array, pts, mode);
            NADIXQ_FUZZ_CHECK(result == 0 || result == 1);
            if (result == 0) {
                NADIXQ_FUZZ_CHECK(SameBits(array, before));
                break;
            }
            NADIXQ_FUZZ_CHECK(array != nullptr && pts > 0);
            bool bounded = true;
            for (double value : before) bounded = bounded && std::fabs(value) <= 1e300;
            if (bounded) {
                for (size_t i = 0; i < count; ++i) NADIXQ_FUZZ_CHECK(std::isfinite(array[i]));
            }
            break;
        }
        default: {
            const int zpd = array != nullptr ? FindZPD(array, pts, 0, -1, -1) : -3;
            const int result = GaussianApodize(array, pts, width);
            NADIXQ_FUZZ_CHECK(result == 0 || result == 1);
            const bool widthOk =
                width >= nadixq::kApodizeMinWidth && width <= nadixq::kApodizeMaxWidth;
            if (result == 0) {
                NADIXQ_FUZZ_CHECK(SameBits(array, before));
                NADIXQ_FUZZ_CHECK(array == nullptr || pts < 1 || !widthOk || zpd < 0);
                break;
            }
            NADIXQ_FUZZ_CHECK(widthOk && zpd >= 0 && zpd < pts);
            // Weights lie in [0, 1], and are 1 at the ZPD.
            NADIXQ_FUZZ_CHECK(std::memcmp(&array[zpd], &before[zpd], sizeof(double)) == 0);
            for (size_t i = 0; i < count; ++i) {
                if (std::isnan(before[i])) continue;
                NADIXQ_FUZZ_CHECK(!(std::fabs(array[i]) > std::fabs(before[i])));
            }
            break;
        }
    }
    return 0;
}
