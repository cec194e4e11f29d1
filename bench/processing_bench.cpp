// The host's processing calls on a full-size interferogram (32768 points),
// each against one plain summing pass over the same array, timed alternately
// in the same run (support/paired_timing.h). GaussianApodize is set against
// numpy by bench/report.py, which builds the same interferogram; here each of
// its evaluation paths is timed against the one the processor gets (the
// SSE2 path is the 32-bit DLL's).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "processing/baseline_correction.h"
#include "processing/gaussian_apodization.h"
#include "processing/zpd_search.h"
#include "support/paired_timing.h"
#include "support/synthetic_interferogram.h"

namespace {

using nadixq::bench::NoPreparation;
using nadixq::bench::TimePaired;

constexpr int kPoints = 32768;
constexpr int kCentre = 256;
constexpr int kRounds = 3001;

// The processing tests' synthetic interferogram, its centre burst at kCentre
// (bench/report.py builds the same array).
std::vector<double> Interferogram(bool baselineCorrected) {
    std::vector<double> ifg = nadixq::test::SyntheticInterferogram(kPoints, kCentre);
    if (baselineCorrected) nadixq::BaselineCorrectIfg(ifg.data(), kPoints, 0);
    return ifg;
}

// The yardstick: one pass that reads every point once, in index order, into
// one sum.
double SumPass(const std::vector<double>& values) {
    double sum = 0.0;
    for (int i = 0; i < kPoints; ++i) sum += values[i];
    return sum;
}

void BM_FindZPD(benchmark::State& state) {
    const auto ifg = Interferogram(true);
    const auto other = ifg;
    if (nadixq::FindZPD(ifg.data(), kPoints, 0, -1, -1) < 0) state.SkipWithError("no ZPD");
    TimePaired(
        state, NoPreparation,
        [&] { benchmark::DoNotOptimize(nadixq::FindZPD(ifg.data(), kPoints, 0, -1, -1)); },
        [&] { benchmark::DoNotOptimize(SumPass(other)); });
}
BENCHMARK(BM_FindZPD)->Iterations(kRounds);

// Correcting an already corrected array costs the same as the first time.
void BM_BaselineCorrectIfg(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    auto ifg = Interferogram(false);
    const auto other = ifg;
    TimePaired(
        state, NoPreparation,
        [&] { benchmark::DoNotOptimize(nadixq::BaselineCorrectIfg(ifg.data(), kPoints, mode)); },
        [&] { benchmark::DoNotOptimize(SumPass(other)); });
}
BENCHMARK(BM_BaselineCorrectIfg)->ArgName("mode")->Arg(0)->Arg(1)->Iterations(kRounds);

void BM_GaussianApodizePath(benchmark::State& state) {
    const auto path = static_cast<nadixq::WindowPath>(state.range(0));
    const double width = static_cast<double>(state.range(1));
    if (!nadixq::WindowPathAvailable(path)) {
        state.SkipWithError("the processor lacks this path");
        return;
    }
    const auto pristine = Interferogram(true);
    auto ifg = pristine;
    auto other = pristine;
    const nadixq::WindowPath best = nadixq::BestWindowPath();
    TimePaired(
        state, [&] { ifg = pristine; },
        [&] {
            benchmark::DoNotOptimize(nadixq::GaussianApodizeOn(path, ifg.data(), kPoints, width));
        },
        [&] { other = pristine; },
        [&] {
            benchmark::DoNotOptimize(nadixq::GaussianApodizeOn(best, other.data(), kPoints, width));
        });
}
BENCHMARK(BM_GaussianApodizePath)
    ->ArgNames({"path", "width"})
    ->ArgsProduct({{static_cast<int>(nadixq::WindowPath::kSse2),
                    static_cast<int>(nadixq::WindowPath::kAvx2),
                    static_cast<int>(nadixq::WindowPath::kAvx512)},
                   {256, 4096, 16384}})
    ->Iterations(kRounds / 3);

}  // namespace

BENCHMARK_MAIN();
