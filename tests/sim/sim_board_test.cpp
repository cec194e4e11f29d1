// The simulated board through the driver channel, as a board class sees it:
// record sizes and values per interface, the centre burst, gain and clipping,
// noise, pacing, the aux word and fiber link, and the fault controls.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "device/driver_channel.h"
#include "device/driver_records.h"
#include "platform/platform.h"
#include "sim/nadixq_sim.h"
#include "support/sim_install.h"

namespace {

using namespace nadixq;

constexpr int kLowOffset = 18;  // the low-gain converter's offset in counts

class SimBoard : public ::testing::Test {
  protected:
    void SetUp() override { nadixq_sim_reset(); }
    void TearDown() override {
        for (DeviceHandle handle : _open) CloseDevice(handle);
        nadixq_sim_reset();
    }

    DeviceHandle Open(const platform::Guid& guid) {
        uint32_t error = 0;
        DeviceHandle handle = OpenDeviceInterface(guid, 0, &error);
        EXPECT_EQ(error, 0u);
        EXPECT_TRUE(IsValidDeviceHandle(handle));
        _open.push_back(handle);
        return handle;
    }

    // One request; returns 0 on success, else the request's error.
    static uint32_t Request(DeviceHandle handle, uint32_t code, const void* in, uint32_t inSize,
                            void* out, uint32_t outSize) {
        if (DeviceControl(handle, code, in, inSize, out, outSize)) return 0;
        const uint32_t error = platform::LastError();
        return error != 0 ? error : 0xFFFFFFFFu;
    }

    static uint32_t Initialize(DeviceHandle handle, uint32_t code, int points, int gainCode) {
        initParms parms = {static_cast<uint16_t>(points), static_cast<uint16_t>(gainCode), 64, 0};
        return Request(handle, code, &parms, sizeof(parms), nullptr, 0);
    }

    template <typename Record>
    static Record Calibrate(DeviceHandle handle, uint32_t code, uint32_t* error = nullptr) {
        calParms parms = {1700000000u, 0xFFFF, 0xFFFF, 0xFFFF, {0, 0}};
        Record info;
        std::memset(&info, 0xA5, sizeof(info));
        const uint32_t result = Request(handle, code, &parms, sizeof(parms), &info, sizeof(info));
        if (error != nullptr)
            *error = result;
        else
            EXPECT_EQ(result, 0u);
        return info;
    }

    // Polls until a transfer reports something other than "not ready".
    template <typename Transfer>
    static uint32_t WaitForScan(DeviceHandle handle, uint32_t code, Transfer* transfer) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            const uint32_t error = Request(handle, code, nullptr, 0, transfer, sizeof(Transfer));
            if (error != 0) return 0;
            if (transfer->header.ifg_complete == I_COMPLETE ||
                transfer->header.ifg_complete == I_ERROR) {
                return transfer->header.ifg_complete;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return 0;
    }

    // Scans arrive quickly: 5 ms turnaround plus almost nothing per point.
    static void FastScans() { nadixq_sim_set_scan_rate(1e9, 0.5); }

    test::SimulatedInstrument _simulator;
    std::vector<DeviceHandle> _open;
};

TEST_F(SimBoard, OpensMemberZeroOfEitherClassAndNothingElse) {
    Open(GUID_ACQ_INTERFACE_A);
    Open(GUID_ACQ_INTERFACE_B);
    uint32_t error = 0;
    EXPECT_FALSE(IsValidDeviceHandle(OpenDeviceInterface(GUID_ACQ_INTERFACE_A, 1, &error)));
    EXPECT_EQ(error, 259u);
}

TEST_F(SimBoard, CalibrationRecordAdaptsToTheAskingBoardClass) {
    DeviceHandle a = Open(GUID_ACQ_INTERFACE_A);
    DeviceHandle b = Open(GUID_ACQ_INTERFACE_B);

    const calInfo72 dualA = Calibrate<calInfo72>(a, IOCTL_A_CALSCAN);
    EXPECT_EQ(dualA.errorvalue, 0u);
    EXPECT_EQ(dualA.board_type, 10);
    EXPECT_EQ(dualA.imax_pos, nadixq_sim_imax_pos());
    EXPECT_NEAR(dualA.imax_pos, 512, 8);
    // The request's parameters come back as used: 0xFFFF picks the defaults.
    EXPECT_EQ(dualA.parms.time, 1700000000u);
    EXPECT_NE(dualA.parms.cal_scan_length, 0xFFFF);
    EXPECT_EQ(dualA.parms.gain, 7);

    EXPECT_EQ(Calibrate<calInfo72>(b, IOCTL_B_CALSCAN).board_type, 12);
    EXPECT_EQ(Calibrate<calInfo60>(a, IOCTL_A_CALSCAN).board_type, 9);
    const calInfo60 singleB = Calibrate<calInfo60>(b, IOCTL_B_CALSCAN);
    EXPECT_EQ(singleB.board_type, 13);
    EXPECT_EQ(singleB.errorvalue, 0u);
    EXPECT_EQ(singleB.imax_pos, nadixq_sim_imax_pos());
    EXPECT_GT(singleB.max_pos, 5000);
    EXPECT_LT(singleB.max_neg, 0);
    EXPECT_EQ(singleB.zpd_region[7], singleB.max_pos);  // the burst is the middle entry

    const calInfo56 short56 = Calibrate<calInfo56>(b, IOCTL_B_CALSCAN);
    EXPECT_EQ(short56.errorvalue, 0);
    EXPECT_EQ(short56.imax_pos, nadixq_sim_imax_pos());

    // The status request answers with the same record, in the size asked for.
    calInfo60 status;
    std::memset(&status, 0, sizeof(status));
    ASSERT_EQ(Request(b, IOCTL_B_GET_CAL_STATUS, nullptr, 0, &status, sizeof(status)), 0u);
    EXPECT_EQ(status.imax_pos, nadixq_sim_imax_pos());
    EXPECT_EQ(status.board_type, 13);
}

TEST_F(SimBoard, PinnedBoardTypeAndCalibrationErrorReachEveryClass) {
    DeviceHandle a = Open(GUID_ACQ_INTERFACE_A);
    DeviceHandle b = Open(GUID_ACQ_INTERFACE_B);
    nadixq_sim_set_board_type(11);
    EXPECT_EQ(Calibrate<calInfo72>(a, IOCTL_A_CALSCAN).board_type, 11);
    EXPECT_EQ(Calibrate<calInfo60>(b, IOCTL_B_CALSCAN).board_type, 11);
    nadixq_sim_set_board_type(0);  // a driver too old to tell
    EXPECT_EQ(Calibrate<calInfo72>(b, IOCTL_B_CALSCAN).board_type, 0);

    const int imax = nadixq_sim_imax_pos();
    nadixq_sim_set_calibration_error(2);
    EXPECT_EQ(Calibrate<calInfo60>(a, IOCTL_A_CALSCAN).errorvalue, 2u);
    EXPECT_EQ(Calibrate<calInfo56>(b, IOCTL_B_CALSCAN).errorvalue, 2);
    nadixq_sim_set_calibration_error(-1);
    EXPECT_EQ(Calibrate<calInfo56>(b, IOCTL_B_CALSCAN).errorvalue, -1);
    // A failed calibration does not move the burst.
    EXPECT_EQ(nadixq_sim_imax_pos(), imax);

    nadixq_sim_reset();
    EXPECT_EQ(Calibrate<calInfo72>(a, IOCTL_A_CALSCAN).board_type, 10);
}

TEST_F(SimBoard, RejectsShortRecordsAndUnknownCodes) {
    DeviceHandle a = Open(GUID_ACQ_INTERFACE_A);
    DeviceHandle b = Open(GUID_ACQ_INTERFACE_B);
    uint8_t small[40] = {};
    EXPECT_EQ(Request(a, IOCTL_A_INITIALIZE, small, 4, nullptr, 0), 87u);
    EXPECT_EQ(Request(a, IOCTL_A_CALSCAN, small, 12, small, 40), 122u);
    std::vector<uint8_t> transfer(65579);
    EXPECT_EQ(Request(b, IOCTL_B_GET_IFG, nullptr, 0, transfer.data(), 65579), 122u);
    // Interface B has no fiber link; its numbers mean nothing there.
    FiberReply reply = {};
    EXPECT_EQ(Request(b, IOCTL_A_READ_FIBER, small, 2, &reply, sizeof(reply)), 1u);
    EXPECT_EQ(Request(a, 0x222040, nullptr, 0, nullptr, 0), 1u);
}

TEST_F(SimBoard, BurstSitsAtTheCalibratedIndexScaledByTheGainCode) {
    nadixq_sim_set_noise(0.0);
    FastScans();
    DeviceHandle b = Open(GUID_ACQ_INTERFACE_B);
    const calInfo60 info = Calibrate<calInfo60>(b, IOCTL_B_CALSCAN);
    auto transfer = std::make_unique<SingleTransfer>();

    std::vector<std::vector<int16_t>> byGain;
    for (int gainCode : {7, 6, 5}) {
        ASSERT_EQ(Initialize(b, IOCTL_B_INITIALIZE, 4096, gainCode), 0u);
        ASSERT_EQ(WaitForScan(b, IOCTL_B_GET_IFG, transfer.get()), I_COMPLETE);
        byGain.emplace_back(transfer->samples, transfer->samples + kChannelSamples);
        EXPECT_EQ(transfer->header.pts, 4096);
    }
    const std::vector<int16_t>& unity = byGain[0];
    int argmax = 0;
    for (int i = 0; i < kChannelSamples; ++i) {
        if (unity[i] > unity[argmax]) argmax = i;
    }
    EXPECT_EQ(argmax, info.imax_pos);
    EXPECT_EQ(unity[argmax], info.max_pos);
    // Gain code 6 doubles the signal, 5 quadruples it (offset aside, up to
    // the rounding of each sample).
    for (int i = 0; i < info.imax_pos + 4096; ++i) {
        ASSERT_NEAR(byGain[1][i] - kLowOffset, 2.0 * (unity[i] - kLowOffset), 1.5) << i;
        ASSERT_NEAR(byGain[2][i] - kLowOffset, 4.0 * (unity[i] - kLowOffset), 2.5) << i;
    }
    // Past the scan's extent the board's memory reads 0.
    EXPECT_EQ(unity[kChannelSamples - 1], 0);
}

TEST_F(SimBoard, FilmOutOfTheBeamLetsMoreLightThroughUntilReset) {
    auto burst = [](DeviceHandle b) {
        auto transfer = std::make_unique<SingleTransfer>();
        EXPECT_EQ(WaitForScan(b, IOCTL_B_GET_IFG, transfer.get()), I_COMPLETE);
        return *std::max_element(transfer->samples, transfer->samples + kChannelSamples);
    };
    nadixq_sim_set_noise(0.0);
    FastScans();
    DeviceHandle b = Open(GUID_ACQ_INTERFACE_B);
    ASSERT_EQ(Initialize(b, IOCTL_B_INITIALIZE, 4096, 7), 0u);
    const int16_t sample = burst(b);
    EXPECT_EQ(sample, 6000 + kLowOffset);  // the model's maximum, 1.0 at 1x gain

    nadixq_sim_set_sample_in_beam(0);
    const int16_t background = burst(b);
    // The film absorbs some 8% of the light that reaches the detector; the burst
    // stays within the converter's range even at 4x gain.
    EXPECT_NEAR(background - kLowOffset, 1.08 * (sample - kLowOffset), 30.0);
    EXPECT_LT(4.0 * (background - kLowOffset), 32767.0);
    nadixq_sim_set_sample_in_beam(1);
    EXPECT_EQ(burst(b), sample);

    nadixq_sim_set_sample_in_beam(0);
    nadixq_sim_reset();
    nadixq_sim_set_noise(0.0);
    FastScans();
    EXPECT_EQ(burst(b), sample);
}

TEST_F(SimBoard, DualBoardHighChannelIsAboutEightTimesLargerAndClipsAroundTheBurst) {
    nadixq_sim_set_noise(0.0);
    FastScans();
    DeviceHandle a = Open(GUID_ACQ_INTERFACE_A);
    const calInfo72 info = Calibrate<calInfo72>(a, IOCTL_A_CALSCAN);
    ASSERT_EQ(Initialize(a, IOCTL_A_INITIALIZE, 8192, 5), 0u);  // 4x gain
    auto transfer = std::make_unique<DualTransfer>();
    ASSERT_EQ(WaitForScan(a, IOCTL_A_GET_IFG, transfer.get()), I_COMPLETE);

    EXPECT_EQ(transfer->high[info.imax_pos], 32767);
    EXPECT_LT(transfer->low[info.imax_pos], 32767);
    EXPECT_GT(transfer->low[info.imax_pos], 20000);
    int clipped = 0;
    double ratioSum = 0.0;
    int ratioCount = 0;
    for (int i = 0; i < info.imax_pos + 8192; ++i) {
        ASSERT_GE(transfer->high[i], -32767);
        if (std::abs(transfer->high[i]) == 32767) {
            ++clipped;
            EXPECT_NEAR(i, info.imax_pos, 64);
        } else if (std::abs(transfer->low[i] - kLowOffset) > 500) {
            ratioSum += (transfer->high[i] + 45.0) / (transfer->low[i] - kLowOffset);
            ++ratioCount;
        }
    }
    EXPECT_GT(clipped, 1);
    ASSERT_GT(ratioCount, 5);
    EXPECT_NEAR(ratioSum / ratioCount, 7.94, 0.08);

    nadixq_sim_set_noise(0.0);
    std::vector<int16_t> high(kChannelSamples);
    EXPECT_EQ(nadixq_sim_last_transfer(1, high.data(), kChannelSamples), kChannelSamples);
    EXPECT_EQ(std::memcmp(high.data(), transfer->high, sizeof(transfer->high)), 0);
}

TEST_F(SimBoard, NoiseIsFreshPerScanIndependentPerChannelAndReproducibleFromTheSeed) {
    FastScans();
    DeviceHandle a = Open(GUID_ACQ_INTERFACE_A);
    Calibrate<calInfo72>(a, IOCTL_A_CALSCAN);
    ASSERT_EQ(Initialize(a, IOCTL_A_INITIALIZE, 16384, 7), 0u);
    auto clean = std::make_unique<DualTransfer>();
    auto first = std::make_unique<DualTransfer>();
    auto second = std::make_unique<DualTransfer>();
    auto again = std::make_unique<DualTransfer>();

    nadixq_sim_set_noise(0.0);
    ASSERT_EQ(WaitForScan(a, IOCTL_A_GET_IFG, clean.get()), I_COMPLETE);
    nadixq_sim_set_noise(3.0);
    nadixq_sim_set_seed(42);
    ASSERT_EQ(WaitForScan(a, IOCTL_A_GET_IFG, first.get()), I_COMPLETE);
    ASSERT_EQ(WaitForScan(a, IOCTL_A_GET_IFG, second.get()), I_COMPLETE);
    nadixq_sim_set_seed(42);
    ASSERT_EQ(WaitForScan(a, IOCTL_A_GET_IFG, again.get()), I_COMPLETE);

    EXPECT_EQ(std::memcmp(first->low, again->low, sizeof(first->low)), 0);
    EXPECT_EQ(std::memcmp(first->high, again->high, sizeof(first->high)), 0);
    EXPECT_NE(std::memcmp(first->low, second->low, sizeof(first->low)), 0);

    // Away from the burst (no clipping), the noise has the set deviation and
    // the two converters' noise is uncorrelated.
    double sumLow = 0, sumLowSq = 0, sumHighSq = 0, sumCross = 0;
    int n = 0;
    for (int i = 2000; i < 16000; ++i) {
        const double dl = first->low[i] - clean->low[i];
        const double dh = first->high[i] - clean->high[i];
        sumLow += dl;
        sumLowSq += dl * dl;
        sumHighSq += dh * dh;
        sumCross += dl * dh;
        ++n;
    }
    EXPECT_NEAR(sumLow / n, 0.0, 0.15);
    EXPECT_NEAR(std::sqrt(sumLowSq / n), 3.0, 0.3);
    EXPECT_NEAR(std::sqrt(sumHighSq / n), 3.0, 0.3);
    EXPECT_NEAR(sumCross / std::sqrt(sumLowSq * sumHighSq), 0.0, 0.05);
}

TEST_F(SimBoard, ScanCompletesOncePerPeriodAndReadsNotReadyMeanwhile) {
    DeviceHandle b = Open(GUID_ACQ_INTERFACE_B);
    // 4096 points at 100 kHz plus 5 ms: 45.96 ms per scan.
    ASSERT_EQ(Initialize(b, IOCTL_B_INITIALIZE, 4096, 7), 0u);
    const auto start = std::chrono::steady_clock::now();
    auto transfer = std::make_unique<SingleTransfer>();
    std::vector<double> completions;
    int notReady = 0;
    while (completions.size() < 3) {
        ASSERT_EQ(Request(b, IOCTL_B_GET_IFG, nullptr, 0, transfer.get(), sizeof(*transfer)), 0u);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (transfer->header.ifg_complete == I_COMPLETE) {
            completions.push_back(ms);
        } else {
            ASSERT_EQ(transfer->header.ifg_complete, 0u);
            ++notReady;
        }
        ASSERT_LT(ms, 5000.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Each scan completes one period after the previous one; a poll may see a
    // completion late, never early, so only the times since the start bound it.
    EXPECT_GE(completions[0], 45.0);
    EXPECT_GE(completions[1], 2 * 45.0);
    EXPECT_GE(completions[2], 3 * 45.0);
    EXPECT_LT(completions[2], 3 * 45.96 + 500.0);  // generous: a loaded machine
    EXPECT_GT(notReady, 3);
    EXPECT_EQ(nadixq_sim_scan_count(), 3);
}

// Any value is accepted; what lies outside the documented limits is clamped
// (under the sanitizers an unclamped rate overflows the period arithmetic).
// The transfer header reports the period the board then keeps, in us.
TEST_F(SimBoard, ControlsClampValuesOutsideTheirLimits) {
    DeviceHandle b = Open(GUID_ACQ_INTERFACE_B);
    ASSERT_EQ(Initialize(b, IOCTL_B_INITIALIZE, 4096, 7), 0u);
    auto transfer = std::make_unique<SingleTransfer>();
    auto periodUs = [&] {
        EXPECT_EQ(Request(b, IOCTL_B_GET_IFG, nullptr, 0, transfer.get(), sizeof(*transfer)), 0u);
        return static_cast<double>(transfer->header.tttt);
    };
    const struct {
        double rate, turnaroundMs, expectedUs;
    } cases[] = {
        {1e-12, 1e300,
         4096.0 / NADIXQ_SIM_MIN_SAMPLE_RATE * 1e6 + NADIXQ_SIM_MAX_TURNAROUND_MS * 1e3},
        {1e-3, 0.5, 4096.0 / NADIXQ_SIM_MIN_SAMPLE_RATE * 1e6 + 500.0},
        {INFINITY, INFINITY,
         4096.0 / NADIXQ_SIM_MAX_SAMPLE_RATE * 1e6 + NADIXQ_SIM_MAX_TURNAROUND_MS * 1e3},
        {NAN, -INFINITY,
         4096.0 / NADIXQ_SIM_DEFAULT_SAMPLE_RATE * 1e6 + NADIXQ_SIM_DEFAULT_TURNAROUND_MS * 1e3},
    };
    for (const auto& c : cases) {
        nadixq_sim_set_scan_rate(c.rate, c.turnaroundMs);
        EXPECT_NEAR(periodUs(), c.expectedUs, 2.0) << c.rate << " " << c.turnaroundMs;
    }

    // Noise beyond any full scale only clips; NaN is no noise.
    FastScans();
    nadixq_sim_set_noise(INFINITY);
    ASSERT_EQ(WaitForScan(b, IOCTL_B_GET_IFG, transfer.get()), I_COMPLETE);
    nadixq_sim_set_noise(NAN);
    nadixq_sim_set_board_type(1 << 20);
    EXPECT_EQ(Calibrate<calInfo60>(b, IOCTL_B_CALSCAN).board_type, 32767);
}

TEST_F(SimBoard, KeepsTheAuxWordAndEchoesTheFiberLink) {
    DeviceHandle a = Open(GUID_ACQ_INTERFACE_A);
    uint16_t word = 0x0F0F, reply = 0;
    ASSERT_EQ(Request(a, IOCTL_A_WRITE_AUX, &word, 2, &reply, 2), 0u);
    EXPECT_EQ(reply, 0x0F0F);
    EXPECT_EQ(nadixq_sim_aux_state(), 0x0F0Fu);

    FiberRequest request = {};
    for (int i = 0; i < 16; ++i) request.frames[i] = 0xC0DE0000u + i;
    uint16_t status = 0xFFFF;
    ASSERT_EQ(Request(a, IOCTL_A_WRITE_FIBER, &request, sizeof(request), &status, 2), 0u);
    EXPECT_EQ(status, 0);
    FiberReply readBack = {};
    uint16_t nothing = 0;
    ASSERT_EQ(Request(a, IOCTL_A_READ_FIBER, &nothing, 2, &readBack, sizeof(readBack)), 0u);
    EXPECT_EQ(std::memcmp(readBack.frames, request.frames, sizeof(request.frames)), 0);
}

TEST_F(SimBoard, InjectedFailureHitsTheRequestAfterTheGivenCalls) {
    DeviceHandle a = Open(GUID_ACQ_INTERFACE_A);
    nadixq_sim_fail_request(IOCTL_A_CALSCAN, 1, 31, 1);
    uint32_t error = 0;
    Calibrate<calInfo72>(a, IOCTL_A_CALSCAN, &error);
    EXPECT_EQ(error, 0u);
    Calibrate<calInfo72>(a, IOCTL_A_CALSCAN, &error);
    EXPECT_EQ(error, 31u);
    Calibrate<calInfo72>(a, IOCTL_A_CALSCAN, &error);
    EXPECT_EQ(error, 0u);

    // For ever, until cleared; other codes are not touched.
    nadixq_sim_fail_request(IOCTL_A_WRITE_AUX, 0, 1117, 0);
    uint16_t word = 1;
    EXPECT_EQ(Request(a, IOCTL_A_WRITE_AUX, &word, 2, nullptr, 0), 1117u);
    EXPECT_EQ(Request(a, IOCTL_A_WRITE_AUX, &word, 2, nullptr, 0), 1117u);
    EXPECT_EQ(Initialize(a, IOCTL_A_INITIALIZE, 512, 7), 0u);
    nadixq_sim_fail_request(0, 0, 0, 0);
    EXPECT_EQ(Request(a, IOCTL_A_WRITE_AUX, &word, 2, nullptr, 0), 0u);
}

TEST_F(SimBoard, ErrorAtScanReplacesThatScanOnce) {
    FastScans();
    DeviceHandle b = Open(GUID_ACQ_INTERFACE_B);
    ASSERT_EQ(Initialize(b, IOCTL_B_INITIALIZE, 1024, 7), 0u);
    nadixq_sim_error_at_scan(2);
    auto transfer = std::make_unique<SingleTransfer>();
    EXPECT_EQ(WaitForScan(b, IOCTL_B_GET_IFG, transfer.get()), I_COMPLETE);
    EXPECT_EQ(WaitForScan(b, IOCTL_B_GET_IFG, transfer.get()), I_ERROR);
    EXPECT_EQ(transfer->header.err_cnt, 1u);
    EXPECT_EQ(WaitForScan(b, IOCTL_B_GET_IFG, transfer.get()), I_COMPLETE);
    EXPECT_EQ(nadixq_sim_scan_count(), 2);
}

TEST_F(SimBoard, UnpluggedBoardFailsEveryRequestAndEveryOpen) {
    DeviceHandle b = Open(GUID_ACQ_INTERFACE_B);
    nadixq_sim_unplug();
    uint16_t word = 1;
    EXPECT_EQ(Request(b, IOCTL_B_WRITE_AUX, &word, 2, nullptr, 0), 1167u);
    auto transfer = std::make_unique<SingleTransfer>();
    EXPECT_EQ(Request(b, IOCTL_B_GET_IFG, nullptr, 0, transfer.get(), sizeof(*transfer)), 1167u);
    uint32_t error = 0;
    EXPECT_FALSE(IsValidDeviceHandle(OpenDeviceInterface(GUID_ACQ_INTERFACE_A, 0, &error)));
    EXPECT_EQ(error, 259u);
    nadixq_sim_reset();
    EXPECT_EQ(Request(b, IOCTL_B_WRITE_AUX, &word, 2, nullptr, 0), 0u);
}

struct HookLog {
    std::vector<int> scans;
    std::vector<int16_t> lastLow;
    bool sawHigh = false;
};

void NADIXQ_SIM_CALL RecordTransfer(void* context, int scan, const int16_t* low,
                                    const int16_t* high, int count) {
    auto* log = static_cast<HookLog*>(context);
    log->scans.push_back(scan);
    log->lastLow.assign(low, low + count);
    log->sawHigh = high != nullptr;
    // The hook may use the control functions without deadlocking.
    EXPECT_EQ(nadixq_sim_scan_count(), scan);
}

TEST_F(SimBoard, TransferHookSeesEveryDeliveredScan) {
    FastScans();
    HookLog log;
    nadixq_sim_set_transfer_hook(&RecordTransfer, &log);
    DeviceHandle b = Open(GUID_ACQ_INTERFACE_B);
    auto transfer = std::make_unique<SingleTransfer>();
    ASSERT_EQ(WaitForScan(b, IOCTL_B_GET_IFG, transfer.get()), I_COMPLETE);
    ASSERT_EQ(WaitForScan(b, IOCTL_B_GET_IFG, transfer.get()), I_COMPLETE);
    nadixq_sim_set_transfer_hook(nullptr, nullptr);
    ASSERT_EQ(WaitForScan(b, IOCTL_B_GET_IFG, transfer.get()), I_COMPLETE);

    EXPECT_EQ(log.scans, (std::vector<int>{1, 2}));
    EXPECT_FALSE(log.sawHigh);
    std::vector<int16_t> last(kChannelSamples);
    ASSERT_EQ(nadixq_sim_last_transfer(0, last.data(), kChannelSamples), kChannelSamples);
    EXPECT_EQ(std::memcmp(last.data(), transfer->samples, sizeof(transfer->samples)), 0);
    EXPECT_EQ(nadixq_sim_last_transfer(1, last.data(), kChannelSamples), 0);  // single board
}

}  // namespace
