// A host's view of a whole run, end to end: it opens a single-converter board
// on the scripted driver, initializes and calibrates it, runs 3 files of 2
// scans, waits on its own event handles, and reads every file with its values
// and time stamp through the exported calls only.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "device/driver_records.h"
#include "interface/nadixq.h"
#include "support/host_event.h"
#include "support/host_settings_fixture.h"
#include "support/scripted_driver.h"

namespace nadixq {
namespace {

using test::HostEvent;
using test::ScriptedDriver;

constexpr int kPoints = 16;
constexpr int kFiles = 3;
constexpr int kScans = 2;
constexpr int kCentreBurst = 300;  // co-adding starts 256 samples before it
constexpr int kPendingPolls = 20;  // in-progress polls before every scan completes

double HostNowMs() {
    using namespace std::chrono;
    return static_cast<double>(
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

// Sample i of scan `scan` of file `file`, placed where the board co-adds from.
int16_t SampleValue(int file, int scan, int i) {
    return static_cast<int16_t>(file * 1000 + scan * 100 + i);
}

class EngineHostTest : public test::HostSettingsFixture<> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(_scanEvent.Valid());
        ASSERT_TRUE(_coaddEvent.Valid());
    }

    void ScriptTheBoard() {
        calInfo60 cal{};
        cal.imax_pos = kCentreBurst;
        cal.board_type = 9;
        driver.Queue(IOCTL_A_CALSCAN, ScriptedDriver::Reply::Of(cal));

        // An in-progress poll only rewrites the transfer header.
        istate pending{};
        driver.SetDefault(IOCTL_A_GET_IFG, ScriptedDriver::Reply::Of(pending));
        for (int file = 0; file < kFiles; ++file) {
            for (int scan = 0; scan < kScans; ++scan) {
                for (int i = 0; i < kPendingPolls; ++i) {
                    driver.Queue(IOCTL_A_GET_IFG, ScriptedDriver::Reply::Of(pending));
                }
                std::vector<int16_t> samples(kCentreBurst - 256 + kPoints, 0);
                for (int i = 0; i < kPoints; ++i) {
                    samples[kCentreBurst - 256 + i] = SampleValue(file, scan, i);
                }
                driver.Queue(IOCTL_A_GET_IFG,
                             ScriptedDriver::SingleTransferReply(I_COMPLETE, samples));
            }
        }
    }

    ScriptedDriver driver;
    HostEvent _scanEvent;
    HostEvent _coaddEvent;
};

TEST_F(EngineHostTest, ThreeFilesArriveThroughEventsWithTheirValuesAndTimeStamps) {
    ScriptTheBoard();
    spectrometer_setScanCompleteEventHandle(_scanEvent.Handle());
    spectrometer_setCoaddCompleteEventHandle(_coaddEvent.Handle());
    spectrometer_setPoints(kPoints);
    spectrometer_setScans(kScans);
    spectrometer_setFiles(kFiles);

    ASSERT_EQ(spectrometer_open(1), 0);
    ASSERT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
    ASSERT_EQ(spectrometer_initialize(), 0);
    ASSERT_EQ(spectrometer_calibrationScan(), 0);
    auto init = driver.RequestsWith(IOCTL_A_INITIALIZE);
    ASSERT_EQ(init.size(), 1u);
    initParms sent{};
    std::memcpy(&sent, init[0].in.data(), sizeof sent);
    EXPECT_EQ(sent.respts, kPoints);
    EXPECT_EQ(sent.gain, 7);

    double runStart = HostNowMs();
    ASSERT_EQ(spectrometer_startCoadd(), 0);

    double previousStamp = 0.0;
    for (int file = 0; file < kFiles; ++file) {
        ASSERT_EQ(_coaddEvent.Wait(20000), 1u) << "file " << file;
        double seen = HostNowMs();
        EXPECT_EQ(spectrometer_getFileProgress(), file + 1);

        std::vector<double> data(kPoints, -1.0);
        double stamp = 0.0;
        ASSERT_EQ(spectrometer_getData(data.data(), kPoints, &stamp), 0) << "file " << file;
        for (int i = 0; i < kPoints; ++i) {
            // The mean of the file's two scans.
            EXPECT_EQ(data[i], file * 1000 + 50 + i) << "file " << file << " point " << i;
        }
        EXPECT_EQ(stamp, spectrometer_getTimestamp());

        // Stamped at the file's first scan: at least the second scan's pending
        // polls (5 ms each) before the host heard of the file, and a whole
        // file's worth of polls after the previous file's stamp.
        EXPECT_GE(stamp, runStart - 2.0);
        EXPECT_LE(stamp, seen - kPendingPolls * 5 + 2.0) << "file " << file;
        if (file > 0) {
            EXPECT_GE(stamp - previousStamp, 2.0 * (kPendingPolls + 1) * 5 - 2.0);
        }
        previousStamp = stamp;
    }

    EXPECT_EQ(spectrometer_stop(), 0);  // the run ended by itself
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
    EXPECT_EQ(spectrometer_getFileProgress(), kFiles);
    EXPECT_EQ(_scanEvent.Take(), HostEvent::Seen(kFiles * kScans));
    EXPECT_EQ(_coaddEvent.Take(), 0u);
    EXPECT_EQ(spectrometer_close(), 1);
}

}  // namespace
}  // namespace nadixq
