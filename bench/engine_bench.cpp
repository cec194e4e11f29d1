// The engine's costs outside the 5 ms poll sleep: storing and copying a file
// through the double buffer, reading the time-stamp clock, and the poll
// cadence that a run actually reaches.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "acquisition/scan_buffer.h"
#include "acquisition/scan_thread.h"
#include "acquisition/time_stamp_clock.h"
#include "device/driver_records.h"
#include "device/nadix_device.h"
#include "interface/library_state.h"

namespace nadixq {
namespace {

// A board whose every poll completes a scan, with no driver behind it.
class BenchDevice : public CNadixDevice {
  public:
    explicit BenchDevice(int32_t points) {
        _handle = reinterpret_cast<DeviceHandle>(uintptr_t{0x10});
        _pts.store(points);
    }
    int32_t Open() override { return 0; }
    int32_t Close() override { return 0; }
    int32_t Initialize(int32_t, double) override { return 0; }
    int32_t CalScan() override { return 0; }
    int32_t GetIFG(int32_t* status) override {
        *status = static_cast<int32_t>(I_COMPLETE);
        return 0;
    }
    int32_t GetCalStatus(int32_t* callOk) override {
        *callOk = 1;
        return 0;
    }
    int32_t Coadd() override { return 0; }
    int32_t GetCapabilities(int32_t* caps) override {
        *caps = 2;
        return 0;
    }
    void ClearCoadd() override {}
    int16_t* GetRawIFG(int32_t) override { return nullptr; }
    void PrepareData(int32_t) override {}
};

void BM_ScanBufferStoreAndRead(benchmark::State& state) {
    const int points = static_cast<int>(state.range(0));
    auto buffer = std::make_unique<CScanBuffer>();
    std::vector<double> values(points, 1.5), out(points);
    double stamp = 0.0;
    for (auto _ : state) {
        buffer->Store(values.data(), points, 1.0);
        benchmark::DoNotOptimize(buffer->Read(out.data(), points, &stamp));
    }
    state.SetBytesProcessed(state.iterations() * points * int64_t{sizeof(double)} * 2);
}
BENCHMARK(BM_ScanBufferStoreAndRead)->Arg(512)->Arg(16384)->Arg(30000);

void BM_TimeStampClockNow(benchmark::State& state) {
    CTimeStampClock clock;
    for (auto _ : state) benchmark::DoNotOptimize(clock.Now());
}
BENCHMARK(BM_TimeStampClockNow);

// A file of 40 scans where every poll completes a scan: the time per scan is
// the poll cadence (5 ms sleep plus the loop's own work).
void BM_ScanThreadPollCadence(benchmark::State& state) {
    constexpr int kScans = 40;
    BenchDevice device(16384);
    auto scan = std::make_unique<CScanThread>();
    scan->SetDevice(&device);
    double totalMs = 0.0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        scan->SetCounts(kScans, 1);
        if (!scan->Start() || !scan->HasEnded(60000)) {
            state.SkipWithError("run did not end");
            break;
        }
        totalMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
    }
    state.counters["ms_per_scan"] = totalMs / (static_cast<double>(state.iterations()) * kScans);
}
BENCHMARK(BM_ScanThreadPollCadence)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace nadixq

BENCHMARK_MAIN();
