// Heap allocations while a run goes: a streamed run on the simulated
// instrument through the exports, the host waiting on its co-add eventfd and
// fetching every file with spectrometer_getData. Every allocation of the
// process is counted (support/allocation_counter.h) from the first file's
// signal to the last one's, so the count covers whole files of the steady
// state: their scans (polls, transfers, co-adds, scan signals) and their ends
// (merge or mean, store, stream append, co-add signal, the host's copy).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "interface/nadixq.h"
#include "sim/nadixq_sim.h"
#include "support/allocation_counter.h"
#include "support/host_event.h"

namespace {

constexpr int kPoints = 16384;
constexpr int kScans = 8;
constexpr int kFiles = 9;  // the first one is not counted

void BM_RunAllocations(benchmark::State& state) {
    const int model = static_cast<int>(state.range(0));
    // The hook must see allocations that surely happen: one through
    // operator new, one through malloc.
    nadixq::bench::StartCountingAllocations();
    {
        std::vector<double> probe(1000);
        benchmark::DoNotOptimize(probe.data());
        void* block = std::malloc(100);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
    if (nadixq::bench::StopCountingAllocations() != 2) {
        state.SkipWithError("the allocation hook is not in place");
        return;
    }
    for (auto _ : state) {
        nadixq::test::HostEvent coadd, scan;
        nadixq_sim_reset();
        nadixq_sim_set_scan_rate(2.0e7, 0.5);  // a scan at every poll or so
        bool ok = coadd.Valid() && scan.Valid() && spectrometer_open(model) == 0;
        spectrometer_setPoints(kPoints);
        spectrometer_setScans(kScans);
        spectrometer_setFiles(kFiles);
        ok = ok && spectrometer_initialize() == 0 && spectrometer_calibrationScan() == 0;
        spectrometer_setScanCompleteEventHandle(reinterpret_cast<nadixq_handle>(scan.Value()));
        spectrometer_setCoaddCompleteEventHandle(reinterpret_cast<nadixq_handle>(coadd.Value()));
        ok = ok && spectrometer_streamToDisk("bench_allocations.spc") == 0;

        std::vector<double> values(kPoints);
        double stamp = 0.0;
        uint64_t allocations = 0;
        int files = 0;
        files = ok ? static_cast<int>(coadd.Wait(30000)) : 0;
        if (files == 1) {
            ok = spectrometer_getData(values.data(), kPoints, &stamp) == 0;
            nadixq::bench::StartCountingAllocations();
            while (ok && files < kFiles) {
                const uint64_t signals = coadd.Wait(30000);
                ok = signals > 0 && spectrometer_getData(values.data(), kPoints, &stamp) == 0;
                files += static_cast<int>(signals);
            }
            allocations = nadixq::bench::StopCountingAllocations();
        }
        spectrometer_stop();
        spectrometer_close();
        spectrometer_setScanCompleteEventHandle(nullptr);
        spectrometer_setCoaddCompleteEventHandle(nullptr);
        std::remove("bench_allocations.spc");
        if (!ok || files != kFiles) {
            state.SkipWithError("the run failed");
            return;
        }
        const int counted = kFiles - 1;
        state.counters["files"] = counted;
        state.counters["scans"] = counted * kScans;
        state.counters["allocations"] = static_cast<double>(allocations);
        state.counters["per_file"] = static_cast<double>(allocations) / counted;
        state.counters["per_scan"] = static_cast<double>(allocations) / (counted * kScans);
    }
}
BENCHMARK(BM_RunAllocations)
    ->ArgName("model")
    ->Arg(1)
    ->Arg(3)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
