// A path of the library timed against its reference in the same run: one call
// of each per round, their order swapped every round, so that a change in the
// machine's load (other builds on the same cores) hits both alike. The medians
// of the calls go into the benchmark's counters, which bench/report.py reads:
// path_us and ref_us (microseconds per call) and ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace nadixq::bench {

inline double MedianOf(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + middle, values.end());
    return values[middle];
}

// `preparePath` and `prepareReference` run untimed right before each call of
// `path` and `reference` (to restore what a call changes, and to leave the
// memory it works on in the same state for both).
template <typename PreparePath, typename Path, typename PrepareReference, typename Reference>
void TimePaired(benchmark::State& state, PreparePath preparePath, Path path,
                PrepareReference prepareReference, Reference reference) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> pathNs;
    std::vector<double> refNs;
    pathNs.reserve(static_cast<size_t>(state.max_iterations));
    refNs.reserve(static_cast<size_t>(state.max_iterations));
    auto timed = [](auto& prepare, auto& call, std::vector<double>& into) {
        prepare();
        benchmark::ClobberMemory();
        const auto start = Clock::now();
        call();
        benchmark::ClobberMemory();
        const auto end = Clock::now();
        into.push_back(std::chrono::duration<double, std::nano>(end - start).count());
    };
    bool pathFirst = true;
    for (auto _ : state) {
        if (pathFirst) {
            timed(preparePath, path, pathNs);
            timed(prepareReference, reference, refNs);
        } else {
            timed(prepareReference, reference, refNs);
            timed(preparePath, path, pathNs);
        }
        pathFirst = !pathFirst;
    }
    const double pathMedian = MedianOf(pathNs);
    const double refMedian = MedianOf(refNs);
    state.counters["path_us"] = pathMedian * 1e-3;
    state.counters["ref_us"] = refMedian * 1e-3;
    state.counters["ratio"] = refMedian > 0.0 ? pathMedian / refMedian : 0.0;
}

inline void NoPreparation() {}

// The same with no preparation before the reference.
template <typename PreparePath, typename Path, typename Reference>
void TimePaired(benchmark::State& state, PreparePath preparePath, Path path, Reference reference) {
    TimePaired(state, preparePath, path, NoPreparation, reference);
}

}  // namespace nadixq::bench
