// A host developed without a board: it links the shared library alone
// (libnadixq.so, or the simulator build of nadixq.dll on a machine with no
// driver installed) and reaches the simulated instrument only through the
// exports and the simulator's controls. Every model opens, scans come at the
// board's pace, each file's centre burst lies where the Linux build puts it,
// aux and fiber state reach the board, and the fault controls end a run as a
// failing board would.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <thread>
#include <vector>

#include "interface/nadixq.h"
#include "sim/nadixq_sim.h"
#include "support/host_event.h"
#include "support/host_settings_fixture.h"

namespace {

using nadixq::test::HostEvent;

constexpr int kPoints = 2048;

class SimHost : public nadixq::test::HostSettingsFixture<> {
  protected:
    void SetUp() override {
        nadixq_sim_reset();
        ASSERT_TRUE(_scanEvent.Valid() && _coaddEvent.Valid());
        spectrometer_setScanCompleteEventHandle(_scanEvent.Handle());
        spectrometer_setCoaddCompleteEventHandle(_coaddEvent.Handle());
        spectrometer_setPoints(kPoints);
        spectrometer_setScans(4);
        spectrometer_setFiles(2);
    }
    void TearDown() override {
        spectrometer_stop();
        HostSettingsFixture::TearDown();
        nadixq_sim_reset();
    }

    // Waits, on the co-add event, for the run to end by itself.
    bool WaitForRunEnd() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (spectrometer_getStatus() != NADIXQ_STATUS_READY) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            _coaddEvent.Wait(50);
        }
        return true;
    }

    HostEvent _scanEvent;
    HostEvent _coaddEvent;
};

TEST_F(SimHost, EveryModelAcquiresFilesWithTheBurstWhereItBelongs) {
    for (int model = 1; model <= 5; ++model) {
        SCOPED_TRACE(model);
        ASSERT_EQ(spectrometer_open(model), 0);
        EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
        EXPECT_EQ(spectrometer_getCapabilities(), model == 3 ? 4 : 2);
        ASSERT_EQ(spectrometer_initialize(), 0);
        ASSERT_EQ(spectrometer_calibrationScan(), 0);

        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(spectrometer_startCoadd(), 0);
        ASSERT_GT(_coaddEvent.Wait(30000), 0u);  // the first file
        std::vector<double> ifg(kPoints);
        double stamp = 0.0;
        ASSERT_EQ(spectrometer_getData(ifg.data(), kPoints, &stamp), 0);
        EXPECT_GT(stamp, 1.6e12);
        const auto burst = std::max_element(ifg.begin(), ifg.end()) - ifg.begin();
        EXPECT_NEAR(burst, 256, 2);
        ASSERT_EQ(BaselineCorrectIfg(ifg.data(), kPoints, 0), 1);
        EXPECT_NEAR(FindZPD(ifg.data(), kPoints, 0, -1, -1), 256, 2);

        ASSERT_TRUE(WaitForRunEnd());
        EXPECT_EQ(spectrometer_getFileProgress(), 2);
        EXPECT_EQ(nadixq_sim_scan_count(), 8);
        // Eight scans of 2048 points at 100 kHz, 5 ms turnaround each.
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        EXPECT_GE(ms, 8 * 25.48 - 30.0);

        EXPECT_EQ(spectrometer_writeAux(0x00FF, 0x000F), 0);
        EXPECT_EQ(nadixq_sim_aux_state(), 0x000Fu);
        if (model == 3) {
            unsigned int frames[16], readBack[16] = {};
            for (int i = 0; i < 16; ++i) frames[i] = 0xF1BE0000u + i;
            EXPECT_EQ(spectrometer_writeFiber(frames), 0);
            EXPECT_EQ(spectrometer_readFiber(readBack), 0);
            EXPECT_TRUE(std::equal(frames, frames + 16, readBack));
        }
        spectrometer_close();
        nadixq_sim_reset();
    }
}

TEST_F(SimHost, FaultControlsEndTheRunAsAFailingBoardWould) {
    // The fourth scan fails: file 1 is complete, file 2 is closed out with the
    // one scan it got, file 3 with none; the last good data is still there.
    spectrometer_setScans(2);
    spectrometer_setFiles(3);
    ASSERT_EQ(spectrometer_open(4), 0);
    ASSERT_EQ(spectrometer_initialize(), 0);
    ASSERT_EQ(spectrometer_calibrationScan(), 0);
    nadixq_sim_error_at_scan(4);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(spectrometer_getFileProgress(), 3);
    EXPECT_EQ(nadixq_sim_scan_count(), 3);
    std::vector<double> ifg(kPoints);
    double stamp = 0.0;
    EXPECT_EQ(spectrometer_getData(ifg.data(), kPoints, &stamp), 0);

    // Unplugged, the board no longer opens; plugged back in, it does.
    nadixq_sim_unplug();
    EXPECT_EQ(spectrometer_open(1), NADIXQ_OPEN_FAILED);
    nadixq_sim_reset();
    EXPECT_EQ(spectrometer_open(1), 0);
}

TEST_F(SimHost, ReadersOfEveryGetterMeetOpenAndCloseCyclesSafely) {
    // Host threads that poll everything a host may call at any time, against a
    // driving thread that opens, runs, stops and closes as fast as it can:
    // getData and getTimestamp must never use a scan-thread object that close
    // frees (run under the address and thread sanitizers).
    nadixq_sim_set_scan_rate(1e9, 0.01);
    spectrometer_setScans(1);
    spectrometer_setFiles(3);
    std::atomic<bool> done{false};
    std::atomic<long> copies{0};
    std::atomic<long> oddities{0};
    auto reader = [&] {
        std::vector<double> ifg(kPoints);
        while (!done.load()) {
            const int status = spectrometer_getStatus();
            if (status != NADIXQ_STATUS_READY && status != NADIXQ_STATUS_ACQUIRING) ++oddities;
            if (spectrometer_getScanProgress() < 0 || spectrometer_getFileProgress() < 0)
                ++oddities;
            const double before = spectrometer_getTimestamp();
            double stamp = 0.0;
            const int result = spectrometer_getData(ifg.data(), kPoints, &stamp);
            if (result == 0) {
                ++copies;
                if (!(stamp > 1.6e12) || !(before == 0.0 || before > 1.6e12)) ++oddities;
            } else if (result != 1) {
                ++oddities;
            }
        }
    };
    ASSERT_EQ(spectrometer_open(1), 0);  // the readers' first status is a ready one
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) readers.emplace_back(reader);

    int cycles = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (cycles < 20 || std::chrono::steady_clock::now() < end) {
        const int model = 1 + cycles % 5;
        if (spectrometer_open(model) != 0) break;
        spectrometer_initialize();
        spectrometer_calibrationScan();
        if (spectrometer_startCoadd() != 0) break;
        _coaddEvent.Wait(2000);
        // Every other cycle the run is closed while it goes, without a stop.
        if (cycles % 2 == 0) spectrometer_stop();
        spectrometer_close();
        ++cycles;
    }
    done.store(true);
    for (std::thread& thread : readers) thread.join();
    EXPECT_GE(cycles, 20);
    EXPECT_GT(copies.load(), 0);
    EXPECT_EQ(oddities.load(), 0);
}

TEST_F(SimHost, UnpluggedBoardEndsARunOfAnyFileCountAtOnce) {
    // The files left after the failure are closed out without data; however
    // many there are, the run is over well within a second of the unplug, and
    // the host has one co-add signal per file: an eventfd counts them all.
    spectrometer_setScans(2);
    for (const int files : {5, 20000000, INT_MAX}) {
        SCOPED_TRACE(files);
        spectrometer_setFiles(files);
        ASSERT_EQ(spectrometer_open(2), 0);
        ASSERT_EQ(spectrometer_initialize(), 0);
        ASSERT_EQ(spectrometer_calibrationScan(), 0);
        ASSERT_EQ(spectrometer_startCoadd(), 0);
        const uint64_t before = _coaddEvent.Wait(30000);  // file 1 done
        ASSERT_GT(before, 0u);
        nadixq_sim_unplug();
        const auto unplugged = std::chrono::steady_clock::now();
        while (spectrometer_getStatus() != NADIXQ_STATUS_READY &&
               std::chrono::steady_clock::now() - unplugged < std::chrono::seconds(20)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - unplugged).count();
        EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
        // Generous: the close-out itself takes milliseconds.
        EXPECT_LT(seconds, 5.0);
        EXPECT_EQ(spectrometer_getFileProgress(), files);
        const uint64_t after = _coaddEvent.Take();
        if (HostEvent::CountsSignals()) {
            EXPECT_EQ(before + after, static_cast<uint64_t>(files));
        } else {
            EXPECT_EQ(after, 1u);
        }
        spectrometer_close();
        nadixq_sim_reset();
    }
}

TEST_F(SimHost, ThePointCountSeenForTheFinestSettingSelectsIt) {
    // The host names the finest setting 32768 everywhere: set so, the run's
    // files have 30000 points, and getData hands them out for 32768.
    spectrometer_setFiles(1);
    spectrometer_setScans(1);
    EXPECT_EQ(spectrometer_setPoints(32768), 32768);
    EXPECT_EQ(spectrometer_getPoints(), 32768);
    ASSERT_EQ(spectrometer_open(1), 0);
    ASSERT_EQ(spectrometer_initialize(), 0);
    ASSERT_EQ(spectrometer_calibrationScan(), 0);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(WaitForRunEnd());
    std::vector<double> ifg(32768, -1.0);
    double stamp = 0.0;
    ASSERT_EQ(spectrometer_getData(ifg.data(), 32768, &stamp), 0);
    EXPECT_GT(stamp, 1.6e12);
    EXPECT_NE(ifg[256], 0.0);
    EXPECT_TRUE(std::all_of(ifg.begin() + 30000, ifg.end(), [](double v) { return v == 0.0; }));
    EXPECT_EQ(spectrometer_getData(ifg.data(), 30000, &stamp), 0);
}

}  // namespace
