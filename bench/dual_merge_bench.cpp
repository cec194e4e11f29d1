// The high/low merge of the dual-converter boards: how much closer to the
// noiseless truth the merged file is than the low-gain channel alone (a run on
// the simulated model 3 through the exports). What the merge and the co-add
// cost is in device_bench.cpp.
//
// Quality counters (exact for the simulator's fixed seed):
//   wing_rms_merged, wing_rms_low  noise RMS beyond 512 points from the burst
//   wing_ratio                     merged / low; the target is at most 0.25
//   burst_max_dev                  largest |merged - truth| within 768 points
//   burst_max_step                 largest jump of (merged - truth) between
//                                  neighbours there: a seam at a ramp shows here
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "interface/nadixq.h"
#include "platform/platform.h"
#include "sim/nadixq_sim.h"
#include "sim/scan_generator.h"

namespace {

constexpr int kLeadIn = 256;
constexpr int kWingStart = kLeadIn + 512;

struct LowChannelSum {
    int start = 0;
    int points = 0;
    std::vector<double> sum;

    static void NADIXQ_SIM_CALL Hook(void* context, int, const int16_t* low, const int16_t*,
                                     int count) {
        auto* self = static_cast<LowChannelSum*>(context);
        if (self->start + self->points > count) return;
        for (int k = 0; k < self->points; ++k) self->sum[k] += low[self->start + k];
    }
};

std::vector<double> NoiselessLow(int points, int imaxPos) {
    nadixq::sim::CScanGenerator generator;
    nadixq::sim::ScanConfiguration config;
    config.points = points;
    config.imaxPos = imaxPos;
    config.dual = true;
    generator.Configure(config);
    const double* low = generator.NoiselessLow() + imaxPos - kLeadIn;
    return std::vector<double>(low, low + points);
}

// One single-file run on the simulated model 3: the merged file and the mean
// of the low-gain windows that were delivered.
bool RunFile(int points, int scans, std::vector<double>& merged, LowChannelSum& low) {
    if (spectrometer_open(3) != 0) return false;
    spectrometer_setPoints(points);
    spectrometer_setScans(scans);
    spectrometer_setFiles(1);
    spectrometer_setGain(1.0);
    bool ok = spectrometer_initialize() == 0 && spectrometer_calibrationScan() == 0;
    low.start = nadixq_sim_imax_pos() - kLeadIn;
    low.points = points;
    low.sum.assign(points, 0.0);
    nadixq_sim_set_transfer_hook(&LowChannelSum::Hook, &low);
    ok = ok && spectrometer_startCoadd() == 0;
    // The run takes well under a second at the fast scan rate; a slow machine
    // gets a minute.
    for (int waited = 0; ok && spectrometer_getFileProgress() < 1 && waited < 60000; waited += 2) {
        nadixq::platform::Sleep(2);
    }
    merged.assign(points, 0.0);
    double stamp = 0.0;
    ok = ok && spectrometer_getData(merged.data(), points, &stamp) == 0;
    spectrometer_close();
    nadixq_sim_set_transfer_hook(nullptr, nullptr);
    for (double& v : low.sum) v /= scans;
    return ok;
}

void BM_MergeQuality(benchmark::State& state) {
    const int points = static_cast<int>(state.range(0));
    const int scans = static_cast<int>(state.range(1));
    std::vector<double> merged;
    LowChannelSum low;
    for (auto _ : state) {
        nadixq_sim_reset();
        nadixq_sim_set_seed(7);
        nadixq_sim_set_scan_rate(2.0e7, 0.5);
        if (!RunFile(points, scans, merged, low)) {
            state.SkipWithError("the simulated run failed");
            return;
        }
    }
    const std::vector<double> truth = NoiselessLow(points, nadixq_sim_imax_pos());
    nadixq_sim_reset();

    double mergedSq = 0.0, lowSq = 0.0;
    for (int k = kWingStart; k < points; ++k) {
        mergedSq += (merged[k] - truth[k]) * (merged[k] - truth[k]);
        lowSq += (low.sum[k] - truth[k]) * (low.sum[k] - truth[k]);
    }
    const double mergedRms = std::sqrt(mergedSq / (points - kWingStart));
    const double lowRms = std::sqrt(lowSq / (points - kWingStart));
    double worst = 0.0, worstStep = 0.0;
    for (int k = 0; k < kWingStart; ++k) {
        worst = std::fmax(worst, std::fabs(merged[k] - truth[k]));
        if (k > 0) {
            const double step = (merged[k] - truth[k]) - (merged[k - 1] - truth[k - 1]);
            worstStep = std::fmax(worstStep, std::fabs(step));
        }
    }
    state.counters["wing_rms_merged"] = mergedRms;
    state.counters["wing_rms_low"] = lowRms;
    state.counters["wing_ratio"] = mergedRms / lowRms;
    state.counters["burst_max_dev"] = worst;
    state.counters["burst_max_step"] = worstStep;
}
BENCHMARK(BM_MergeQuality)
    ->Args({16384, 4})
    ->Args({16384, 16})
    ->Args({16384, 64})
    ->Args({30000, 16})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
