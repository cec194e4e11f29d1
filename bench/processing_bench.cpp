// Cost of the processing calls on a full-size interferogram (32768 points),
// against one plain streaming pass over the same array. scripts/bench.sh turns
// the results into ratio lines and sets the Gaussian window against numpy
// (bench/processing_compare.py builds the same interferogram and window).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "processing/baseline_correction.h"
#include "processing/gaussian_apodization.h"
#include "processing/zpd_search.h"

namespace {

constexpr int kPoints = 32768;
constexpr int kCentre = 256;

// A centre burst at kCentre on a drifting offset, with a little ripple
// everywhere (processing_compare.py builds the same array).
std::vector<double> Interferogram(bool baselineCorrected) {
    const double freqs[] = {0.11, 0.15, 0.19, 0.23, 0.27};
    const double amps[] = {0.6, 1.0, 0.8, 0.5, 0.3};
    const double twoPi = 2.0 * std::acos(-1.0);
    std::vector<double> ifg(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        const double x = i - kCentre;
        double burst = 0.0;
        for (int k = 0; k < 5; ++k) burst += amps[k] * std::cos(twoPi * freqs[k] * x + 1.2);
        ifg[i] =
            2.5 + 1e-5 * i + burst * std::exp(-(x / 12.0) * (x / 12.0)) + 0.002 * std::sin(0.7 * i);
    }
    if (baselineCorrected) nadixq::BaselineCorrectIfg(ifg.data(), kPoints, 0);
    return ifg;
}

// The yardstick: one pass that reads every point once, in index order.
void BM_SumPass(benchmark::State& state) {
    auto ifg = Interferogram(true);
    for (auto _ : state) {
        double sum = 0.0;
        for (int i = 0; i < kPoints; ++i) sum += ifg[i];
        benchmark::DoNotOptimize(sum);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_SumPass);

void BM_FindZPD(benchmark::State& state) {
    auto ifg = Interferogram(true);
    if (nadixq::FindZPD(ifg.data(), kPoints, 0, -1, -1) < 0) state.SkipWithError("no ZPD");
    for (auto _ : state) {
        benchmark::DoNotOptimize(nadixq::FindZPD(ifg.data(), kPoints, 0, -1, -1));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_FindZPD);

// Correcting an already corrected array costs the same as the first time.
void BM_BaselineCorrectIfg(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    auto ifg = Interferogram(false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(nadixq::BaselineCorrectIfg(ifg.data(), kPoints, mode));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_BaselineCorrectIfg)->ArgName("mode")->Arg(0)->Arg(1);

// Each iteration windows a fresh copy (a repeated window would drive the
// samples towards the denormal range). The copy is not timed: on this size it
// is a noticeable and noisy part of the total, and numpy's side leaves it out
// the same way.
void BM_GaussianApodize(benchmark::State& state) {
    const double width = static_cast<double>(state.range(0));
    const auto pristine = Interferogram(true);
    auto ifg = pristine;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(ifg.data(), pristine.data(), sizeof(double) * kPoints);
        benchmark::ClobberMemory();
        state.ResumeTiming();
        benchmark::DoNotOptimize(nadixq::GaussianApodize(ifg.data(), kPoints, width));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
// 256: the weights underflow about 7000 points after the ZPD; 4096 and 16384:
// every point's weight is evaluated.
BENCHMARK(BM_GaussianApodize)->ArgName("width")->Arg(256)->Arg(4096)->Arg(16384);

}  // namespace

BENCHMARK_MAIN();
