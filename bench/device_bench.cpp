// The boards' work on the scan thread, on 32768 points, each against the
// memory traffic it cannot avoid, timed alternately in the same run
// (support/paired_timing.h):
//   Coadd of one scan (inside GetIFG, between two polls) against memcpy of the
//   bytes it touches: 64 KiB of samples in, 256 KiB of sums in and out, per
//   channel;
//   a dual board's PrepareData (merge and mean), with the merge limits found
//   again or reused, against memcpy of 256 KiB;
//   a single board's PrepareData (the mean) against one pass multiplying
//   32768 doubles.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "device/dual_adc.h"
#include "device/nadix_device.h"
#include "sim/noise_source.h"
#include "sim/scan_generator.h"
#include "support/paired_timing.h"

namespace {

using nadixq::bench::NoPreparation;
using nadixq::bench::TimePaired;

constexpr int kPoints = 32768;
constexpr int kSamplesBytes = kPoints * static_cast<int>(sizeof(int16_t));
constexpr int kSumsBytes = kPoints * static_cast<int>(sizeof(double));
constexpr int kRounds = 2001;

// memcpy of what one channel's co-add reads and writes, through buffers of
// its own.
struct ChannelTraffic {
    std::vector<uint8_t> samplesFrom = std::vector<uint8_t>(kSamplesBytes, 1);
    std::vector<uint8_t> samplesTo = std::vector<uint8_t>(kSamplesBytes);
    std::vector<uint8_t> sumsFrom = std::vector<uint8_t>(kSumsBytes, 2);
    std::vector<uint8_t> sumsTo = std::vector<uint8_t>(kSumsBytes);

    void Copy() {
        std::memcpy(samplesTo.data(), samplesFrom.data(), kSamplesBytes);
        std::memcpy(sumsTo.data(), sumsFrom.data(), kSumsBytes);
    }
};

// A dual board holding one realistic file of `scans` scans of the simulated
// instrument, with a clipped high-gain channel.
std::unique_ptr<nadixq::CDualADC> DualBoardWithFile(int scans) {
    std::unique_ptr<nadixq::CDualADC> board(
        dynamic_cast<nadixq::CDualADC*>(nadixq::CreateDevice(3)));
    nadixq::sim::CScanGenerator generator;
    nadixq::sim::ScanConfiguration config;
    config.points = kPoints;
    config.dual = true;
    generator.Configure(config);
    nadixq::sim::CNoiseSource noise(3);
    board->_pts = kPoints;
    board->_imaxPos = config.imaxPos;
    for (int s = 0; s < scans; ++s) {
        generator.Render(noise, 1.5, board->GetRawIFG(0), board->GetRawIFG(1));
        board->Coadd();
    }
    return board;
}

void BM_SingleCoadd(benchmark::State& state) {
    std::unique_ptr<nadixq::CNadixDevice> board(nadixq::CreateDevice(1));
    board->_pts = kPoints;
    int16_t* samples = board->GetRawIFG(0);
    for (int i = 0; i < kPoints; ++i) samples[i] = static_cast<int16_t>((i * 37) % 2001 - 1000);
    ChannelTraffic traffic;
    TimePaired(
        state, NoPreparation, [&] { board->Coadd(); }, [&] { traffic.Copy(); });
}
BENCHMARK(BM_SingleCoadd)->Iterations(kRounds);

void BM_DualCoadd(benchmark::State& state) {
    auto board = DualBoardWithFile(1);
    ChannelTraffic high, low;
    TimePaired(
        state, NoPreparation, [&] { board->Coadd(); },
        [&] {
            high.Copy();
            low.Copy();
        });
}
BENCHMARK(BM_DualCoadd)->Iterations(kRounds);

// The merge changes the high-gain sum in place: it is restored before every
// call, untimed.
void BM_DualPrepareData(benchmark::State& state) {
    const bool findLimits = state.range(0) != 0;
    auto board = DualBoardWithFile(16);
    const std::vector<double> high(board->_highSum, board->_highSum + kPoints);
    board->PrepareData(16);
    std::vector<uint8_t> from(kSumsBytes, 3), to(kSumsBytes);
    TimePaired(
        state,
        [&] {
            std::memcpy(board->_highSum, high.data(), kSumsBytes);
            board->_recomputeLimits = findLimits ? 1 : 0;
        },
        [&] { board->PrepareData(16); }, [&] { std::memcpy(to.data(), from.data(), kSumsBytes); });
}
BENCHMARK(BM_DualPrepareData)->ArgName("limits")->Arg(1)->Arg(0)->Iterations(kRounds);

// The mean of a file multiplies the sums by one reciprocal; the reference
// multiplies another array of the same size by a factor. The file is of one
// scan, so that the factor is 1 and every call scales the same values (a
// multiplication costs the same whatever the factor), with nothing to restore
// between the calls.
void BM_SinglePrepareData(benchmark::State& state) {
    std::unique_ptr<nadixq::CNadixDevice> board(nadixq::CreateDevice(1));
    board->_pts = kPoints;
    std::vector<double> other(kPoints);
    for (int i = 0; i < kPoints; ++i) other[i] = board->_data[i] = 16.0 * (i % 977) - 3000.0;
    volatile double factorSource = 1.0;
    const double factor = factorSource;
    TimePaired(
        state, NoPreparation, [&] { board->PrepareData(1); },
        [&] {
            double* v = other.data();
            for (int i = 0; i < kPoints; ++i) v[i] *= factor;
        });
}
BENCHMARK(BM_SinglePrepareData)->Iterations(kRounds);

}  // namespace

BENCHMARK_MAIN();
