// The fault matrix's fixture: the simulated instrument behind the exports, a
// fast board (a scan at every poll), the host's co-add event, and the checks
// every fault case ends with: what the host sees once the fault has ended the
// run, and that the library still works after close and open.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "interface/nadixq.h"
#include "sim/nadixq_sim.h"
#include "support/delivered_scans.h"
#include "support/host_event.h"
#include "support/host_settings_fixture.h"
#include "support/sim_install.h"

namespace nadixq::test {

class FaultMatrix : public HostSettingsFixture<> {
  protected:
    static constexpr int kModel = 1;
    static constexpr int kPoints = 1024;
    static constexpr int kScans = 3;
    static constexpr int kFiles = 4;

    void SetUp() override {
        ResetBoard();
        ASSERT_TRUE(_coadd.Valid());
        spectrometer_setCoaddCompleteEventHandle(_coadd.Handle());
        spectrometer_setPoints(kPoints);
        spectrometer_setScans(kScans);
        spectrometer_setFiles(kFiles);
    }
    void TearDown() override {
        HostSettingsFixture::TearDown();
        _delivered.reset();
        nadixq_sim_reset();
    }

    static void FastBoard() { nadixq_sim_set_scan_rate(1e9, 0.001); }

    // Opens, initializes and calibrates model `model`.
    void Prepare(int model = kModel) {
        _model = model;
        ASSERT_EQ(spectrometer_open(model), 0);
        ASSERT_EQ(spectrometer_initialize(), 0);
        ASSERT_EQ(spectrometer_calibrationScan(), 0);
    }

    // Waits until the run has ended by itself (status back to 4), counting
    // the co-add signals on the way. False on a time-out.
    bool AwaitRunEnd(uint64_t* signals = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        uint64_t seen = 0;
        while (spectrometer_getStatus() != NADIXQ_STATUS_READY) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            seen += _coadd.Wait(20);
        }
        seen += _coadd.Take();
        if (signals != nullptr) *signals = seen;
        return true;
    }

    // A counted run signals every file once; a Win32 event coalesces
    // signals, so there it is at least one and at most one per file.
    static void ExpectCoaddSignals(uint64_t seen, int files) {
        if (HostEvent::CountsSignals()) {
            EXPECT_EQ(seen, static_cast<uint64_t>(files));
        } else {
            EXPECT_GE(seen, 1u);
            EXPECT_LE(seen, static_cast<uint64_t>(files));
        }
    }

    // The host still gets the last file that received scans: on a single
    // board the mean of the board's scans of that file (the run's first scan
    // is the board's first), on a dual board their merge, whose centre burst
    // sits where every file's does.
    void ExpectLastFileWithScansServed() {
        std::vector<double> data(kPoints, -1.0);
        double stamp = 0.0;
        ASSERT_EQ(spectrometer_getData(data.data(), kPoints, &stamp), 0);
        EXPECT_GT(stamp, 1.6e12);
        if (_model == 3 || _model == 4) {
            const auto burst = std::max_element(data.begin(), data.end()) - data.begin();
            EXPECT_NEAR(burst, 256, 2);
            return;
        }
        const int delivered = nadixq_sim_scan_count();
        ASSERT_GT(delivered, 0);
        const int file = (delivered - 1) / kScans;
        const int start = nadixq_sim_imax_pos() - 256;
        const std::vector<double> expected =
            _delivered->WindowMean(file * kScans + 1, delivered, start, kPoints, false);
        ASSERT_EQ(expected.size(), static_cast<size_t>(kPoints));
        EXPECT_TRUE(data == expected) << "file " << file << " of the run";
    }

    // Close, open and a one-file run: the library has nothing left of the fault.
    void ExpectUsableAfterCloseAndOpen(int model = kModel) {
        EXPECT_EQ(spectrometer_close(), 1);
        ResetBoard();
        Prepare(model);
        spectrometer_setFiles(1);
        _coadd.Take();  // what the faulty run signalled
        ASSERT_EQ(spectrometer_startCoadd(), 0);
        uint64_t signals = 0;
        ASSERT_TRUE(AwaitRunEnd(&signals));
        ExpectCoaddSignals(signals, 1);
        EXPECT_EQ(spectrometer_getFileProgress(), 1);
        EXPECT_EQ(nadixq_sim_scan_count(), kScans);
        ExpectLastFileWithScansServed();
        spectrometer_setFiles(kFiles);
    }

    // The board without faults, its scan counter at 0, recording again.
    void ResetBoard() {
        _delivered.reset();
        nadixq_sim_reset();
        FastBoard();
        _delivered = std::make_unique<DeliveredScans>();
    }

    SimulatedInstrument _simulator;
    HostEvent _coadd;
    int _model = kModel;
    std::unique_ptr<DeliveredScans> _delivered;
};

}  // namespace nadixq::test
