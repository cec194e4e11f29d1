// The acquisition engine's costs and timing:
//   spectrometer_getData of a 30000-point file (asked for as 32768 points,
//   as hosts do) against memcpy of its 240,000 bytes;
//   appending one 16384-point file to a stream file against fwrite of the
//   same bytes (subfile header and floats) to a file in the same folder;
//   a run polling a board that never completes a scan, for 10 s: the scan
//   thread's processor time (getrusage), beside that of a thread doing
//   nothing but the same 5 ms sleeps at the same time, and the intervals
//   between polls;
//   a run whose board completes scans at known instants, out of step with
//   the polls: the time from each completion until the host's eventfd is
//   readable.
// The first two are timed alternately with their references
// (support/paired_timing.h); files go to the current folder. One trace line's
// cost is measured too: getData leaves two.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "acquisition/run_counters.h"
#include "acquisition/scan_thread.h"
#include "acquisition/stream_file.h"
#include "device/driver_records.h"
#include "device/nadix_device.h"
#include "diagnostics/debug_trace.h"
#include "interface/library_state.h"
#include "interface/nadixq.h"
#include "platform/platform.h"
#include "spc/spc_format.h"
#include "support/bench_system.h"
#include "support/host_event.h"
#include "support/paired_timing.h"

namespace nadixq {
namespace {

using bench::NoPreparation;
using bench::TimePaired;
using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
    return values[index];
}

// A board with no driver behind it. Its polls are whatever Poll says; the rest
// costs nothing.
class BenchDevice : public CNadixDevice {
  public:
    explicit BenchDevice(int32_t points) {
        _handle = reinterpret_cast<DeviceHandle>(uintptr_t{0x10});
        _pts.store(points);
        for (int i = 0; i < NADIXQ_MAX_POINTS; ++i) _data[i] = 0.5 * (i % 1999) - 400.0;
    }
    int32_t Open() override { return 0; }
    int32_t Close() override { return 0; }
    int32_t Initialize(int32_t, double) override { return 0; }
    int32_t CalScan() override { return 0; }
    int32_t GetIFG(int32_t* status) override {
        *status = Poll() ? static_cast<int32_t>(I_COMPLETE) : 0;
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

  protected:
    // True: this poll completes a scan. Runs on the scan thread.
    virtual bool Poll() { return true; }
};

// Runs one file of `scans` scans on `device` to its end.
bool RunToEnd(CScanThread& scan, int scans, int files) {
    scan.SetCounts(scans, files);
    return scan.Start() && scan.HasEnded(120000);
}

void BM_GetData(benchmark::State& state) {
    constexpr int kStored = NADIXQ_FINEST_POINTS;  // 30000 values
    BenchDevice device(kStored);
    auto scan = std::make_unique<CScanThread>();
    scan->SetDevice(&device);
    if (!RunToEnd(*scan, 1, 1)) {
        state.SkipWithError("the run did not end");
        return;
    }
    LibraryState& library = State();
    library._scanThread = scan.get();  // as spectrometer_open leaves it
    std::vector<double> out(NADIXQ_MAX_POINTS);
    std::vector<uint8_t> from(kStored * sizeof(double), 1), to(kStored * sizeof(double));
    double stamp = 0.0;
    int failures = 0;
    TimePaired(
        state, NoPreparation,
        [&] { failures += spectrometer_getData(out.data(), NADIXQ_MAX_POINTS, &stamp); },
        [&] { std::memcpy(to.data(), from.data(), from.size()); });
    library._scanThread = nullptr;
    if (failures != 0) state.SkipWithError("getData failed");
}
BENCHMARK(BM_GetData)->Iterations(4001);

// One trace line with nobody listening: what each of getData's two lines and
// each poll's scan-complete lines cost.
void BM_TraceLine(benchmark::State& state) {
    for (auto _ : state) {
        DebugTrace("nadixq getData returns %d", 0);
    }
}
BENCHMARK(BM_TraceLine);

void BM_StreamAppend(benchmark::State& state) {
    constexpr int kPoints = 16384;
    constexpr int kAppendsPerFile = 256;  // then both files start again, untimed
    const char* streamPath = "bench_stream.spc";
    const char* plainPath = "bench_fwrite.bin";
    std::vector<double> values(kPoints);
    for (int i = 0; i < kPoints; ++i) values[i] = 0.25 * (i % 4093) - 500.0;
    std::vector<uint8_t> bytes(sizeof(SpcSubfileHeader) + kPoints * sizeof(float), 7);

    CStreamFile stream;
    std::FILE* plain = nullptr;
    int appended = 0;
    bool ok = true;
    auto restart = [&] {
        ok = ok && stream.Open(streamPath, kPoints) == 0;
        if (plain != nullptr) std::fclose(plain);
        plain = std::fopen(plainPath, "wb");
        ok = ok && plain != nullptr;
        appended = 0;
    };
    restart();
    TimePaired(
        state,
        [&] {
            if (appended >= kAppendsPerFile) restart();
        },
        [&] {
            stream.Append(values.data(), kPoints, 1.7e12 + appended, appended);
            ++appended;
        },
        [&] { ok = ok && std::fwrite(bytes.data(), bytes.size(), 1, plain) == 1; });
    stream.PatchAndClose();
    if (plain != nullptr) std::fclose(plain);
    std::remove(streamPath);
    std::remove(plainPath);
    if (!ok || stream.SubfileCount() == 0) state.SkipWithError("a write failed");
}
BENCHMARK(BM_StreamAppend)->Iterations(2001);

// Polls that never complete a scan. The first poll and the first one at least
// kSpan later take the scan thread's processor time; every poll up to then
// leaves its instant.
class IdleBoard : public BenchDevice {
  public:
    static constexpr double kSpanMs = 10000.0;

    IdleBoard() : BenchDevice(16384) { _polls.reserve(4096); }

    bool Done() const { return _done.load(); }
    double CpuSeconds() const { return _cpuEnd - _cpuStart; }
    double WallMs() const { return MsBetween(_polls.front(), _polls.back()); }
    std::vector<double> IntervalsMs() const {
        std::vector<double> intervals;
        for (size_t k = 1; k < _polls.size(); ++k) {
            intervals.push_back(MsBetween(_polls[k - 1], _polls[k]));
        }
        return intervals;
    }

  protected:
    bool Poll() override {
        if (_done.load(std::memory_order_relaxed)) return false;
        const auto now = Clock::now();
        if (_polls.empty()) _cpuStart = bench::ThreadCpuSeconds();
        if (_polls.size() < _polls.capacity()) _polls.push_back(now);
        if (MsBetween(_polls.front(), now) >= kSpanMs || _polls.size() == _polls.capacity()) {
            _cpuEnd = bench::ThreadCpuSeconds();
            _done.store(true);
        }
        return false;
    }

  private:
    std::vector<Clock::time_point> _polls;
    double _cpuStart = 0.0;
    double _cpuEnd = 0.0;
    std::atomic<bool> _done{false};
};

// The reference runs at the same time: a thread that does nothing but sleep
// 5 ms at a time, which is what the system charges for the sleeps alone.
void BM_IdlePolling(benchmark::State& state) {
    for (auto _ : state) {
        IdleBoard board;
        auto scan = std::make_unique<CScanThread>();
        scan->SetDevice(&board);
        scan->SetCounts(1, 0);  // until stopped
        if (!scan->Start()) {
            state.SkipWithError("the run did not start");
            return;
        }
        double sleeperCpu = 0.0;
        double sleeperMs = 0.0;
        std::thread sleeper([&] {
            const double cpuStart = bench::ThreadCpuSeconds();
            const auto start = Clock::now();
            while (!board.Done()) platform::Sleep(CScanThread::kPollMs);
            sleeperCpu = bench::ThreadCpuSeconds() - cpuStart;
            sleeperMs = MsBetween(start, Clock::now());
        });
        sleeper.join();
        scan->Stop();
        const auto intervals = board.IntervalsMs();
        state.counters["cpu_percent"] = 100.0 * board.CpuSeconds() / (board.WallMs() * 1e-3);
        state.counters["sleep_cpu_percent"] = 100.0 * sleeperCpu / (sleeperMs * 1e-3);
        state.counters["span_s"] = board.WallMs() * 1e-3;
        state.counters["polls"] = static_cast<double>(intervals.size() + 1);
        state.counters["cadence_median_ms"] = Percentile(intervals, 0.5);
        state.counters["cadence_p99_ms"] = Percentile(intervals, 0.99);
        state.counters["cadence_max_ms"] = Percentile(intervals, 1.0);
    }
}
BENCHMARK(BM_IdlePolling)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Scans complete at planned instants 20 to 25 ms apart, so that their phase
// against the 5 ms polls is spread over the whole period; the poll after an
// instant reports the scan.
class ScheduledBoard : public BenchDevice {
  public:
    static constexpr int kScans = 240;

    ScheduledBoard() : BenchDevice(16384), _completions(kScans) {}

    void Plan(Clock::time_point start) {
        uint32_t seed = 12345;
        auto at = start + std::chrono::milliseconds(20);
        for (auto& instant : _completions) {
            seed = seed * 1664525u + 1013904223u;
            at += std::chrono::microseconds(20000 + (seed >> 8) % 5000);
            instant = at;
        }
    }
    Clock::time_point Completion(int scan) const { return _completions[scan]; }

  protected:
    bool Poll() override {
        const int next = _next.load(std::memory_order_relaxed);
        if (next >= kScans || Clock::now() < _completions[next]) return false;
        _next.store(next + 1, std::memory_order_relaxed);
        return true;
    }

  private:
    std::vector<Clock::time_point> _completions;
    std::atomic<int> _next{0};
};

void BM_ScanToHostEvent(benchmark::State& state) {
    for (auto _ : state) {
        test::HostEvent event;
        if (!event.Valid()) {
            state.SkipWithError("no eventfd");
            return;
        }
        ScheduledBoard board;
        auto scan = std::make_unique<CScanThread>();
        scan->SetDevice(&board);
        Counters().scanCompleteEvent.store(event.Value());
        board.Plan(Clock::now());
        scan->SetCounts(ScheduledBoard::kScans, 1);
        std::vector<double> latencies;
        if (scan->Start()) {
            // One signal per scan: the scans lie 20 ms apart.
            for (int k = 0; k < ScheduledBoard::kScans && event.Wait(2000) == 1; ++k) {
                latencies.push_back(MsBetween(board.Completion(k), Clock::now()));
            }
        }
        scan->Stop();
        Counters().scanCompleteEvent.store(0);
        if (latencies.size() != ScheduledBoard::kScans) {
            state.SkipWithError("signals missing");
            return;
        }
        state.counters["scans"] = static_cast<double>(latencies.size());
        state.counters["latency_median_ms"] = Percentile(latencies, 0.5);
        state.counters["latency_p99_ms"] = Percentile(latencies, 0.99);
        state.counters["latency_max_ms"] = Percentile(latencies, 1.0);
    }
}
BENCHMARK(BM_ScanToHostEvent)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace nadixq

BENCHMARK_MAIN();
