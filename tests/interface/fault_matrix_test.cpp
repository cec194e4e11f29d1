// The fault matrix: each fault the board, the driver or the host can bring
// about, once, through the exports on the simulated instrument, and what the
// host sees afterwards: the results, the status back to 4, one co-add signal
// per file of a counted run, getData still serving the last file that got
// scans, and a library that works again after close and open.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "acquisition/scan_thread.h"
#include "device/driver_records.h"
#include "fault_matrix_fixture.h"
#include "interface/library_state.h"
#include "platform/platform.h"

namespace nadixq::test {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The file count stays where the run left it: no thread is still closing
// out files.
void ExpectProgressFrozen() {
    const int progress = spectrometer_getFileProgress();
    platform::Sleep(50);
    EXPECT_EQ(spectrometer_getFileProgress(), progress);
}

TEST_F(FaultMatrix, TransferFailureMidRunClosesOutEveryFile) {
    Prepare();
    // The eighth interferogram request fails, in the run's third file.
    nadixq_sim_fail_request(IOCTL_A_GET_IFG, 7, 31, 0);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    uint64_t signals = 0;
    ASSERT_TRUE(AwaitRunEnd(&signals));
    ExpectCoaddSignals(signals, kFiles);
    EXPECT_EQ(spectrometer_getFileProgress(), kFiles);
    EXPECT_LT(nadixq_sim_scan_count(), kFiles * kScans);
    ExpectLastFileWithScansServed();
    ExpectUsableAfterCloseAndOpen();
}

TEST_F(FaultMatrix, ReportedAcquisitionErrorEndsTheRunOnEitherBoardFamily) {
    for (int model : {1, 3}) {
        SCOPED_TRACE(model);
        Prepare(model);
        nadixq_sim_error_at_scan(5);  // the second scan of the second file
        ASSERT_EQ(spectrometer_startCoadd(), 0);
        uint64_t signals = 0;
        ASSERT_TRUE(AwaitRunEnd(&signals));
        ExpectCoaddSignals(signals, kFiles);
        EXPECT_EQ(nadixq_sim_scan_count(), 4);
        ExpectLastFileWithScansServed();
        ExpectUsableAfterCloseAndOpen(model);
        spectrometer_close();
        ResetBoard();
    }
}

TEST_F(FaultMatrix, UnpluggedMidFileEndsTheRunAndTheBoardStaysAway) {
    Prepare();
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    const uint64_t first = _coadd.Wait(20000);
    ASSERT_GT(first, 0u);
    nadixq_sim_unplug();
    uint64_t signals = 0;
    ASSERT_TRUE(AwaitRunEnd(&signals));
    ExpectCoaddSignals(first + signals, kFiles);
    EXPECT_EQ(spectrometer_getFileProgress(), kFiles);
    ExpectLastFileWithScansServed();
    EXPECT_EQ(spectrometer_open(kModel), NADIXQ_OPEN_FAILED);
    ExpectUsableAfterCloseAndOpen();  // plugged in again
}

TEST_F(FaultMatrix, EveryCalibrationFailureIsReportedAndLeavesTheBoardUsable) {
    struct Case {
        int model;
        uint32_t failRequest;  // a calibration request that fails, or 0
        int errorvalue;
        int boardType;  // pinned board type, or adaptive
        int result;
    };
    constexpr int kAdaptive = NADIXQ_SIM_ADAPTIVE_BOARD_TYPE;
    const Case cases[] = {
        {1, IOCTL_A_CALSCAN, 0, kAdaptive, NADIXQ_CALIBRATION_FAILED},  // the request fails
        {1, 0, 1, kAdaptive, NADIXQ_CALIBRATION_ERROR_1},
        {1, 0, 2, kAdaptive, NADIXQ_CALIBRATION_ERROR_2},
        {1, 0, 3, kAdaptive, NADIXQ_CALIBRATION_ERROR_3},
        {1, 0, 7, kAdaptive, NADIXQ_CALIBRATION_FAILED},
        {1, 0, 2, 0, NADIXQ_DRIVER_OUT_OF_DATE},  // an old driver
        {1, 0, 0, 11, NADIXQ_BOARD_MISMATCH},     // another board
        {5, IOCTL_B_CALSCAN, 0, kAdaptive, NADIXQ_CALIBRATION_FAILED},
        {5, 0, 2, 0, NADIXQ_CALIBRATION_ERROR_2},
        {3, IOCTL_A_CALSCAN, 0, kAdaptive, NADIXQ_REFUSED},
        {3, 0, 1, kAdaptive, NADIXQ_DUAL_CALIBRATION_FAILED},
        {3, 0, 1, 0, NADIXQ_DUAL_CALIBRATION_FAILED},
        {4, 0, 0, 11, NADIXQ_DUAL_BOARD_MISMATCH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "model " << c.model << ", result 0x" << std::hex << c.result);
        ASSERT_EQ(spectrometer_open(c.model), 0);
        ASSERT_EQ(spectrometer_initialize(), 0);
        if (c.failRequest != 0) nadixq_sim_fail_request(c.failRequest, 0, 31, 1);
        nadixq_sim_set_calibration_error(c.errorvalue);
        nadixq_sim_set_board_type(c.boardType);
        EXPECT_EQ(spectrometer_calibrationScan(), c.result);
        EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);

        // The same board calibrates and acquires once the fault is gone.
        ResetBoard();
        ASSERT_EQ(spectrometer_calibrationScan(), 0);
        spectrometer_setFiles(1);
        ASSERT_EQ(spectrometer_startCoadd(), 0);
        uint64_t signals = 0;
        ASSERT_TRUE(AwaitRunEnd(&signals));
        ExpectCoaddSignals(signals, 1);
        EXPECT_EQ(nadixq_sim_scan_count(), kScans);
        spectrometer_setFiles(kFiles);
        spectrometer_close();
    }
}

TEST_F(FaultMatrix, ScanThatNeverCompletesIsStoppedAndTheLastFileStaysServed) {
    Prepare();
    spectrometer_setFiles(1);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(AwaitRunEnd());
    std::vector<double> before(kPoints), after(kPoints, -1.0);
    double stampBefore = 0.0, stampAfter = 0.0;
    ASSERT_EQ(spectrometer_getData(before.data(), kPoints, &stampBefore), 0);

    nadixq_sim_set_scan_rate(1.0, 1.0);  // a scan of 1024 points takes 17 minutes
    spectrometer_setFiles(kFiles);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    platform::Sleep(100);
    const auto begin = Clock::now();
    EXPECT_EQ(spectrometer_stop(), 0);
    EXPECT_LT(SecondsSince(begin), 1.0);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
    uint64_t signals = 0;
    ASSERT_TRUE(AwaitRunEnd(&signals));
    ExpectCoaddSignals(signals, kFiles);
    EXPECT_EQ(spectrometer_getFileProgress(), kFiles);
    ASSERT_EQ(spectrometer_getData(after.data(), kPoints, &stampAfter), 0);
    EXPECT_TRUE(after == before);
    EXPECT_EQ(stampAfter, stampBefore);
    ExpectUsableAfterCloseAndOpen();
}

TEST_F(FaultMatrix, CloseOrOpenDuringARunEndsItAndTheNextBoardWorks) {
    Prepare();
    spectrometer_setFiles(0);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_GT(_coadd.Wait(20000), 0u);
    auto begin = Clock::now();
    EXPECT_EQ(spectrometer_close(), 1);
    EXPECT_LT(SecondsSince(begin), 1.0);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
    ExpectProgressFrozen();

    Prepare();
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_GT(_coadd.Wait(20000), 0u);
    begin = Clock::now();
    EXPECT_EQ(spectrometer_open(3), 0);  // closes the running instrument first
    EXPECT_LT(SecondsSince(begin), 1.0);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
    EXPECT_EQ(spectrometer_getCapabilities(), 4);
    ExpectProgressFrozen();
    spectrometer_setFiles(kFiles);
    ExpectUsableAfterCloseAndOpen(3);
}

TEST_F(FaultMatrix, HugeFileCountIsStoppedAndClosedWithinTheSafetyNet) {
    // A stopped counted run closes out its remaining files; twenty million of
    // them outlast any wait, and the forced end must reach the close-out.
    Prepare();
    spectrometer_setScans(1);
    spectrometer_setFiles(20000000);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_GT(_coadd.Wait(20000), 0u);
    auto begin = Clock::now();
    EXPECT_EQ(spectrometer_stop(), 0);
    EXPECT_LT(SecondsSince(begin), 6.5);  // 5 s, then 0.5 s for the forced end
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
    EXPECT_TRUE(State()._scanThread.load()->HasEnded());
    ExpectProgressFrozen();

    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_GT(_coadd.Wait(20000), 0u);
    begin = Clock::now();
    EXPECT_EQ(spectrometer_close(), 1);
    EXPECT_LT(SecondsSince(begin), 6.5);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
    ExpectProgressFrozen();
    spectrometer_setScans(kScans);
    ExpectUsableAfterCloseAndOpen();
}

}  // namespace
}  // namespace nadixq::test
