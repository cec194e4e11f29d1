// Runs on the dual-converter models through the public exports against the
// simulated instrument: every file is the merge of exactly the scans the board
// delivered, and the merge beats the low-gain channel alone against the
// noiseless truth.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "interface/nadixq.h"
#include "processing/high_low_combiner.h"
#include "sim/nadixq_sim.h"
#include "sim/scan_generator.h"
#include "support/sim_install.h"
#include "support/trace_capture.h"

namespace {

using nadixq::HighLowCombiner;
using nadixq::test::SimulatedInstrument;
using nadixq::test::TraceCapture;

constexpr const char* kDone = "nadixq scanThread:DONE";

// Co-adds the windows of every delivered scan per file, as the board must,
// from the simulator's own record of what it sent.
struct Delivered {
    int points = 0;
    int start = 0;
    int scansPerFile = 1;
    int scans = 0;
    std::vector<std::vector<double>> low, high;  // per file

    static void NADIXQ_SIM_CALL Hook(void* context, int, const int16_t* low, const int16_t* high,
                                     int count) {
        auto* self = static_cast<Delivered*>(context);
        const int file = self->scans / self->scansPerFile;
        ++self->scans;
        if (high == nullptr || self->start + self->points > count) return;
        if (static_cast<int>(self->low.size()) <= file) {
            self->low.emplace_back(self->points, 0.0);
            self->high.emplace_back(self->points, 0.0);
        }
        for (int k = 0; k < self->points; ++k) {
            self->low[file][k] += low[self->start + k];
            self->high[file][k] += high[self->start + k];
        }
    }
};

class DualRun : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        nadixq_sim_reset();
        nadixq_sim_set_seed(7);
        // Fast scans: the run's timing is not under test here.
        nadixq_sim_set_scan_rate(2.0e7, 0.5);
    }
    void TearDown() override {
        nadixq_sim_set_transfer_hook(nullptr, nullptr);
        spectrometer_close();
        nadixq_sim_reset();
    }

    // Opens the model, runs `files` files of `scans` scans of `points` and
    // returns the last file; `delivered` receives what the board sent.
    std::vector<double> Run(int points, int scans, Delivered& delivered) {
        EXPECT_EQ(spectrometer_open(GetParam()), 0);
        spectrometer_setPoints(points);
        spectrometer_setScans(scans);
        spectrometer_setFiles(1);
        spectrometer_setGain(1.0);
        EXPECT_EQ(spectrometer_initialize(), 0);
        EXPECT_EQ(spectrometer_calibrationScan(), 0);
        delivered.points = points;
        delivered.start = nadixq_sim_imax_pos() - 256;
        delivered.scansPerFile = scans;
        nadixq_sim_set_transfer_hook(&Delivered::Hook, &delivered);
        return Again(points);
    }

    // One more single-file run without a calibration in between.
    std::vector<double> Again(int points) {
        TraceCapture trace;
        EXPECT_EQ(spectrometer_startCoadd(), 0);
        EXPECT_TRUE(trace.WaitFor(kDone));
        std::vector<double> data(points, 0.0);
        double stamp = 0.0;
        EXPECT_EQ(spectrometer_getData(data.data(), points, &stamp), 0);
        EXPECT_GT(stamp, 0.0);
        return data;
    }

    SimulatedInstrument _simulator;
};

INSTANTIATE_TEST_SUITE_P(Models, DualRun, ::testing::Values(3, 4));

TEST_P(DualRun, FilesAreTheMergeOfTheDeliveredScans) {
    constexpr int kPoints = 4096, kScans = 4;
    Delivered delivered;
    std::vector<double> first = Run(kPoints, kScans, delivered);
    EXPECT_EQ(spectrometer_getCapabilities(), GetParam() == 3 ? 4 : 2);
    std::vector<double> second = Again(kPoints);
    ASSERT_EQ(delivered.scans, 2 * kScans);
    ASSERT_EQ(delivered.low.size(), 2u);

    // The same merge on the test's own state: limits found on the first file
    // after the calibration, reused on the second.
    auto combiner = std::make_unique<HighLowCombiner>();
    std::vector<double> expected(kPoints);
    for (int file = 0; file < 2; ++file) {
        combiner->CombineHighLow(delivered.high[file].data(), delivered.low[file].data(),
                                 expected.data(), kPoints, kScans, file == 0 ? 1 : 0);
        const std::vector<double>& got = file == 0 ? first : second;
        for (int k = 0; k < kPoints; ++k) {
            ASSERT_NEAR(got[k], expected[k] / kScans, 1e-9 * (1 + std::fabs(expected[k])))
                << "file " << file << " point " << k;
        }
    }
    // The burst of the merged file sits 256 points in, where the high-gain
    // channel clipped and the low-gain one took over.
    EXPECT_GT(combiner->m3, combiner->m2);
    EXPECT_LT(combiner->m2, 256);
    EXPECT_GT(combiner->m3, 256);
}

TEST(DualRunFiber, FramesRoundTripThroughTheBoardOnModel3Only) {
    SimulatedInstrument simulator;
    nadixq_sim_reset();
    unsigned int sent[16], received[16] = {};
    for (unsigned int i = 0; i < 16; ++i) sent[i] = 0x5A000000u | (i * 0x1111u);

    ASSERT_EQ(spectrometer_open(3), 0);
    EXPECT_EQ(spectrometer_writeFiber(sent), 0);
    EXPECT_EQ(spectrometer_readFiber(received), 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(received[i], sent[i]) << i;
    spectrometer_close();

    ASSERT_EQ(spectrometer_open(4), 0);
    unsigned int untouched[16] = {};
    EXPECT_EQ(spectrometer_writeFiber(sent), NADIXQ_NOT_IMPLEMENTED);
    EXPECT_EQ(spectrometer_readFiber(untouched), NADIXQ_NOT_IMPLEMENTED);
    EXPECT_EQ(untouched[0], 0u);
    spectrometer_close();
    nadixq_sim_reset();
}

// The noiseless low-gain channel on the co-added window, as the simulator
// computes it before noise, rounding and clipping.
std::vector<double> Truth(int points, int imaxPos) {
    nadixq::sim::CScanGenerator generator;
    nadixq::sim::ScanConfiguration config;
    config.points = points;
    config.gainCode = 7;
    config.imaxPos = imaxPos;
    config.dual = true;
    generator.Configure(config);
    const double* low = generator.NoiselessLow();
    return std::vector<double>(low + imaxPos - 256, low + imaxPos - 256 + points);
}

double Rms(const std::vector<double>& a, const std::vector<double>& truth, int from, int to) {
    double sum = 0.0;
    for (int k = from; k < to; ++k) sum += (a[k] - truth[k]) * (a[k] - truth[k]);
    return std::sqrt(sum / (to - from));
}

TEST_P(DualRun, MergedWingsAreQuieterThanTheLowGainChannel) {
    constexpr int kPoints = 16384, kScans = 16;
    Delivered delivered;
    std::vector<double> merged = Run(kPoints, kScans, delivered);
    ASSERT_EQ(delivered.low.size(), 1u);
    std::vector<double> lowOnly = delivered.low[0];
    for (double& v : lowOnly) v /= kScans;
    const std::vector<double> truth = Truth(kPoints, nadixq_sim_imax_pos());

    // Wings: beyond 512 points from the burst at 256.
    const double mergedRms = Rms(merged, truth, 768, kPoints);
    const double lowRms = Rms(lowOnly, truth, 768, kPoints);
    RecordProperty("wing_rms_merged", std::to_string(mergedRms));
    RecordProperty("wing_rms_low", std::to_string(lowRms));
    EXPECT_LT(mergedRms, 0.25 * lowRms) << "merged " << mergedRms << ", low " << lowRms;

    // Around the burst the merge follows the low-gain channel: nowhere in the
    // clipped region and its ramps does it stray from the truth by more than
    // the low-gain channel's own noise allows, and no seam shows a step.
    double worst = 0.0, worstStep = 0.0;
    for (int k = 0; k < 768; ++k) worst = std::fmax(worst, std::fabs(merged[k] - truth[k]));
    for (int k = 1; k < 768; ++k) {
        const double step = (merged[k] - truth[k]) - (merged[k - 1] - truth[k - 1]);
        worstStep = std::fmax(worstStep, std::fabs(step));
    }
    EXPECT_LT(worst, 6.0 * lowRms) << "worst deviation " << worst;
    EXPECT_LT(worstStep, 8.0 * lowRms) << "worst step " << worstStep;
}

}  // namespace
