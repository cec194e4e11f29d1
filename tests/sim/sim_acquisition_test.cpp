// Whole runs through the public exports against the simulated instrument, as
// a host on a machine without hardware sees them: every model opens, files
// hold the mean of exactly the windows the board sent, the centre burst lands
// at index 256, and each fault control ends a run the way the scan thread
// promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "device/driver_records.h"
#include "interface/nadixq.h"
#include "sim/nadixq_sim.h"
#include "support/delivered_scans.h"
#include "support/host_event.h"
#include "support/host_settings_fixture.h"
#include "support/sim_install.h"
#include "support/trace_capture.h"

namespace {

using nadixq::test::DeliveredScans;
using nadixq::test::TraceCapture;

constexpr int kPoints = 2048;
constexpr int kScans = 4;
constexpr int kFiles = 3;

class SimAcquisition : public nadixq::test::HostSettingsFixture<> {
  protected:
    void SetUp() override {
        nadixq_sim_reset();
        ASSERT_TRUE(_scanEvent.Valid());
        ASSERT_TRUE(_coaddEvent.Valid());
        spectrometer_setScanCompleteEventHandle(_scanEvent.Handle());
        spectrometer_setCoaddCompleteEventHandle(_coaddEvent.Handle());
        spectrometer_setPoints(kPoints);
        spectrometer_setScans(kScans);
        spectrometer_setFiles(kFiles);
        spectrometer_setGain(1.0);
    }

    void TearDown() override {
        spectrometer_stop();
        HostSettingsFixture::TearDown();
        nadixq_sim_reset();
    }

    // Opens, initializes and calibrates; the results must be success.
    void Prepare(int model) {
        ASSERT_EQ(spectrometer_open(model), 0);
        ASSERT_EQ(spectrometer_initialize(), 0);
        ASSERT_EQ(spectrometer_calibrationScan(), 0);
    }

    // Waits for co-add signals; returns false on a time-out.
    bool WaitForFile(uint32_t timeoutMs = 20000) { return _coaddEvent.Wait(timeoutMs) > 0; }

    // Waits until the run has ended by itself.
    bool WaitForRunEnd() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (spectrometer_getStatus() != NADIXQ_STATUS_READY) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            WaitForFile(20);  // also drains the signals
        }
        return true;
    }

    nadixq::test::SimulatedInstrument _simulator;
    nadixq::test::HostEvent _scanEvent;
    nadixq::test::HostEvent _coaddEvent;
};

class SimAcquisitionPerModel : public SimAcquisition, public ::testing::WithParamInterface<int> {};

TEST_P(SimAcquisitionPerModel, FilesHoldTheMeanOfTheWindowsTheBoardSent) {
    const int model = GetParam();
    const bool dual = model == 3 || model == 4;
    nadixq_sim_set_noise(2.0);
    nadixq_sim_set_seed(1000 + model);
    DeliveredScans delivered;
    Prepare(model);
    const int start = nadixq_sim_imax_pos() - 256;

    ASSERT_EQ(spectrometer_startCoadd(), 0);
    std::vector<double> data(kPoints);
    std::vector<int> filesSeen;
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_TRUE(WaitForFile()) << "file " << i;
        double stamp = 0.0;
        ASSERT_EQ(spectrometer_getData(data.data(), kPoints, &stamp), 0);
        EXPECT_GT(stamp, 1.6e12);
        const int file = spectrometer_getFileProgress() - 1;
        filesSeen.push_back(file);

        // The file's scans are the board's scans file*kScans+1 onwards.
        const std::vector<double> low =
            delivered.WindowMean(file * kScans + 1, (file + 1) * kScans, start, kPoints, false);
        ASSERT_EQ(low.size(), static_cast<size_t>(kPoints));
        const auto burst = std::max_element(data.begin(), data.end()) - data.begin();
        EXPECT_NEAR(burst, 256, 2);

        if (!dual) {
            for (int p = 0; p < kPoints; ++p) ASSERT_EQ(data[p], low[p]) << "point " << p;
            continue;
        }
        // A dual board merges: the low-gain mean where the high channel
        // clipped (exactly), the fitted high-gain mean elsewhere (close to the
        // low-gain one, within the low channel's noise).
        const std::vector<double> high =
            delivered.WindowMean(file * kScans + 1, (file + 1) * kScans, start, kPoints, true);
        int firstClipped = -1, lastClipped = -1;
        for (int p = 0; p < kPoints; ++p) {
            if (std::fabs(high[p]) > 20000.0) {
                if (firstClipped < 0) firstClipped = p;
                lastClipped = p;
            }
        }
        ASSERT_GE(firstClipped, 0) << "the high channel should clip at the burst";
        double absSum = 0.0;
        for (int p = 0; p < kPoints; ++p) {
            if (p >= firstClipped && p <= lastClipped) {
                ASSERT_EQ(data[p], low[p]) << "point " << p;
            } else {
                ASSERT_NEAR(data[p], low[p], 8.0) << "point " << p;
            }
            absSum += std::fabs(data[p] - low[p]);
        }
        EXPECT_LT(absSum / kPoints, 2.0);
    }
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(spectrometer_getFileProgress(), kFiles);
    EXPECT_EQ(nadixq_sim_scan_count(), kFiles * kScans);
    // Each file was read before the next replaced it.
    EXPECT_EQ(filesSeen, (std::vector<int>{0, 1, 2}));
}

INSTANTIATE_TEST_SUITE_P(EveryModel, SimAcquisitionPerModel, ::testing::Values(1, 2, 3, 4, 5));

TEST_F(SimAcquisition, DualBoardMergeBeatsTheLowGainChannelsNoise) {
    // The noiseless truth first, then the same configuration with noise: the
    // merged result must be much closer to the truth away from the burst than
    // the low-gain channel alone would be.
    nadixq_sim_set_noise(0.0);
    DeliveredScans delivered;
    spectrometer_setFiles(1);
    Prepare(3);
    const int start = nadixq_sim_imax_pos() - 256;
    std::vector<double> truth(kPoints), merged(kPoints);
    double stamp = 0.0;
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(spectrometer_getData(truth.data(), kPoints, &stamp), 0);

    nadixq_sim_set_noise(4.0);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(spectrometer_getData(merged.data(), kPoints, &stamp), 0);
    const std::vector<double> low =
        delivered.WindowMean(kScans + 1, 2 * kScans, start, kPoints, false);

    double mergedError = 0.0, lowError = 0.0;
    for (int p = 600; p < kPoints; ++p) {
        mergedError += (merged[p] - truth[p]) * (merged[p] - truth[p]);
        lowError += (low[p] - truth[p]) * (low[p] - truth[p]);
    }
    EXPECT_LT(mergedError, lowError / 10.0);
}

TEST_F(SimAcquisition, ScansArriveAtTheBoardsPace) {
    // 1024 points at 100 kHz plus 5 ms turnaround: 15.24 ms per scan.
    spectrometer_setPoints(1024);
    spectrometer_setScans(8);
    spectrometer_setFiles(1);
    Prepare(2);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(WaitForFile());
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GE(ms, 8 * 15.24 - 1.0);
    EXPECT_LT(ms, 8 * 15.24 + 2000.0);  // generous: a loaded machine
}

TEST_F(SimAcquisition, FailedTransferEndsTheCountedRunWithEveryFileClosedOut) {
    TraceCapture trace;
    Prepare(4);
    // The seventh interferogram request fails: mid-file, well before the end.
    nadixq_sim_fail_request(nadixq::IOCTL_B_GET_IFG, 6, 31, 0);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(trace.Contains("nadixq scanThread:GET_IFG returned FALSE"));
    EXPECT_EQ(spectrometer_getFileProgress(), kFiles);
    EXPECT_LT(nadixq_sim_scan_count(), kFiles * kScans);
}

TEST_F(SimAcquisition, ReportedAcquisitionErrorEndsTheRunPerBoardFamily) {
    {
        // A dual board hands the status up; the scan thread names it.
        TraceCapture trace;
        Prepare(3);
        nadixq_sim_error_at_scan(2);
        ASSERT_EQ(spectrometer_startCoadd(), 0);
        ASSERT_TRUE(WaitForRunEnd());
        EXPECT_TRUE(trace.Contains("nadixq scanThread:GET_IFG returned I_ERROR"));
        EXPECT_EQ(nadixq_sim_scan_count(), 1);
        spectrometer_close();
    }
    {
        // A single board turns it into a failed call.
        TraceCapture trace;
        nadixq_sim_reset();
        Prepare(1);
        nadixq_sim_error_at_scan(2);
        ASSERT_EQ(spectrometer_startCoadd(), 0);
        ASSERT_TRUE(WaitForRunEnd());
        EXPECT_TRUE(trace.Contains("nadixq scanThread:GET_IFG returned FALSE"));
        EXPECT_EQ(nadixq_sim_scan_count(), 1);
    }
}

TEST_F(SimAcquisition, CalibrationStatusFailureEndsTheRunAtOnce) {
    TraceCapture trace;
    Prepare(1);
    nadixq_sim_fail_request(nadixq::IOCTL_A_GET_CAL_STATUS, 0, 31, 1);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(trace.Contains("nadixq scanThread:GetCalStatus ERROR"));
    EXPECT_EQ(spectrometer_getFileProgress(), 0);
    EXPECT_EQ(nadixq_sim_scan_count(), 0);
}

TEST_F(SimAcquisition, UnpluggedBoardEndsTheRunAndNoLongerOpens) {
    TraceCapture trace;
    spectrometer_setFiles(0);  // continuous: only the failure can end it
    Prepare(5);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(WaitForFile());
    nadixq_sim_unplug();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(trace.Contains("nadixq scanThread:GET_IFG returned FALSE"));
    EXPECT_EQ(spectrometer_open(5), NADIXQ_OPEN_FAILED);
}

TEST_F(SimAcquisition, CalibrationResultsFollowTheBoardControls) {
    nadixq_sim_set_calibration_error(1);
    ASSERT_EQ(spectrometer_open(1), 0);
    EXPECT_EQ(spectrometer_calibrationScan(), NADIXQ_CALIBRATION_ERROR_1);
    ASSERT_EQ(spectrometer_open(3), 0);
    EXPECT_EQ(spectrometer_calibrationScan(), NADIXQ_DUAL_CALIBRATION_FAILED);

    nadixq_sim_set_calibration_error(0);
    nadixq_sim_set_board_type(11);
    ASSERT_EQ(spectrometer_open(1), 0);
    EXPECT_EQ(spectrometer_calibrationScan(), NADIXQ_BOARD_MISMATCH);
    ASSERT_EQ(spectrometer_open(3), 0);
    EXPECT_EQ(spectrometer_calibrationScan(), 0);  // 11 is one of model 3's types
    ASSERT_EQ(spectrometer_open(4), 0);
    EXPECT_EQ(spectrometer_calibrationScan(), NADIXQ_DUAL_BOARD_MISMATCH);

    nadixq_sim_set_board_type(0);
    nadixq_sim_set_calibration_error(3);
    ASSERT_EQ(spectrometer_open(2), 0);
    EXPECT_EQ(spectrometer_calibrationScan(), NADIXQ_DRIVER_OUT_OF_DATE);
    ASSERT_EQ(spectrometer_open(5), 0);
    EXPECT_EQ(spectrometer_calibrationScan(), NADIXQ_CALIBRATION_ERROR_3);
}

TEST_F(SimAcquisition, AuxLinesAndFiberLinkReachTheBoard) {
    ASSERT_EQ(spectrometer_open(3), 0);
    EXPECT_EQ(spectrometer_getCapabilities(), 4);
    EXPECT_EQ(spectrometer_writeAux(0x00FF, 0x000F), 0);
    EXPECT_EQ(nadixq_sim_aux_state(), 0x000Fu);
    EXPECT_EQ(spectrometer_writeAux(0xFF00, 0x0F00), 0);
    EXPECT_EQ(nadixq_sim_aux_state(), 0x0F0Fu);

    unsigned int frames[16], readBack[16] = {};
    for (int i = 0; i < 16; ++i) frames[i] = 0xF1BE0000u + i;
    EXPECT_EQ(spectrometer_writeFiber(frames), 0);
    EXPECT_EQ(spectrometer_readFiber(readBack), 0);
    EXPECT_TRUE(std::equal(frames, frames + 16, readBack));
}

}  // namespace
