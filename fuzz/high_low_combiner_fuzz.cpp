// The high/low combination on hostile channels: any point count (clamped
// above the capacity, refused below zero), any scan count, recomputed or
// reused limits, values with NaN and infinities, two merges in a row as a
// board does from file to file. Contracts: the limits are ordered and inside
// the points, the weights lie in [0, 1], the low-gain channel is untouched,
// nothing past the points is read or written (the arrays are exactly that
// long), and the fit never yields NaN or infinity.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "processing/high_low_combiner.h"

using nadixq::fuzz::FuzzInput;

namespace {

struct Channels {
    std::unique_ptr<double[]> high;
    std::unique_ptr<double[]> low;
    std::unique_ptr<double[]> out;
    size_t count = 0;
};

// Channels of `count` points: a clipped centre burst seen through two gains,
// then single values overridden from the input.
Channels MakeChannels(FuzzInput& input, size_t count) {
    Channels c;
    c.count = count;
    c.high.reset(new double[count]);
    c.low.reset(new double[count]);
    c.out.reset(new double[count]);
    const int32_t centre = input.I32();
    const double amplitude = input.F64();
    const double gain = input.F64();
    const double offset = input.F64();
    for (size_t i = 0; i < count; ++i) {
        const double x = static_cast<double>(i) - centre;
        const double signal = amplitude * std::cos(0.5 * x) * std::exp(-std::fabs(x) / 40.0);
        c.low[i] = signal;
        c.high[i] = gain * signal + offset;
    }
    const int overrides = input.U8() % 32;
    for (int n = 0; n < overrides; ++n) {
        const uint16_t at = input.U16();
        const bool high = (input.U8() & 1) != 0;
        const double value = input.F64();
        if (count > 0) (high ? c.high : c.low)[at % count] = value;
    }
    return c;
}

void CheckState(const nadixq::HighLowCombiner& combiner, int32_t pts) {
    const int32_t n = std::clamp<int32_t>(pts, 0, NADIXQ_MAX_POINTS);
    NADIXQ_FUZZ_CHECK(combiner.m1 >= 0 && combiner.m1 <= combiner.m2);
    NADIXQ_FUZZ_CHECK(combiner.m3 <= combiner.m4 && combiner.m4 <= n);
    for (int32_t i = 0; i < n; ++i) {
        const double w = combiner._blendWeights[i];
        NADIXQ_FUZZ_CHECK(w >= 0.0 && w <= 1.0);
    }
}

// One merge of `pts` points (above the capacity only with arrays of the
// capacity, as a board's are).
void Merge(nadixq::HighLowCombiner& combiner, FuzzInput& input) {
    int32_t pts = input.I32();
    if (pts > 0) pts %= NADIXQ_MAX_POINTS + 2048;
    const size_t count = static_cast<size_t>(std::clamp<int32_t>(pts, 0, NADIXQ_MAX_POINTS));
    Channels c = MakeChannels(input, count);
    const int32_t scans = input.I32();
    const int32_t findLimits = input.U8() & 1;
    const std::vector<double> low(c.low.get(), c.low.get() + count);

    // The fit alone: finite whatever it is given.
    double slope = -1.0, intercept = -1.0;
    const int32_t excludeFrom = input.I32();
    const int32_t excludeTo = input.I32();
    nadixq::IFG_LinearRegression(c.high.get(), c.low.get(), static_cast<int32_t>(count), slope,
                                 intercept, excludeFrom, excludeTo);
    NADIXQ_FUZZ_CHECK(std::isfinite(slope) && std::isfinite(intercept));

    combiner.CombineHighLow(c.high.get(), c.low.get(), c.out.get(), pts, scans, findLimits);
    NADIXQ_FUZZ_CHECK(count == 0 ||
                      std::memcmp(low.data(), c.low.get(), count * sizeof(double)) == 0);
    CheckState(combiner, pts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    // The limits and weights of one board class, zero as at load, then two
    // files in a row.
    auto combiner = std::make_unique<nadixq::HighLowCombiner>();
    Merge(*combiner, input);
    Merge(*combiner, input);
    return 0;
}
