// A host's view of a whole run, end to end: it opens a single-converter board
// on the scripted driver, initializes and calibrates it, runs 3 files of 2
// scans, waits on its own eventfds, and reads every file with its values and
// time stamp through the exported calls only.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "device/driver_records.h"
#include "interface/nadixq.h"
#include "support/scripted_driver.h"

namespace nadixq {
namespace {

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

// Waits until the eventfd has signals and returns how many.
uint64_t WaitForSignals(int fd, int timeoutMs = 20000) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) != 1) return 0;
    uint64_t count = 0;
    return read(fd, &count, sizeof count) == sizeof count ? count : 0;
}

nadixq_handle AsHandle(int fd) {
    return reinterpret_cast<nadixq_handle>(static_cast<intptr_t>(fd));
}

// Sample i of scan `scan` of file `file`, placed where the board co-adds from.
int16_t SampleValue(int file, int scan, int i) {
    return static_cast<int16_t>(file * 1000 + scan * 100 + i);
}

class EngineHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        _scanFd = eventfd(0, EFD_NONBLOCK);
        _coaddFd = eventfd(0, EFD_NONBLOCK);
        ASSERT_GE(_scanFd, 0);
        ASSERT_GE(_coaddFd, 0);
    }
    void TearDown() override {
        spectrometer_close();
        spectrometer_setScanCompleteEventHandle(nullptr);
        spectrometer_setCoaddCompleteEventHandle(nullptr);
        spectrometer_setPoints(16384);
        spectrometer_setScans(16);
        spectrometer_setFiles(1);
        close(_scanFd);
        close(_coaddFd);
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
    int _scanFd = -1;
    int _coaddFd = -1;
};

TEST_F(EngineHostTest, ThreeFilesArriveThroughEventsWithTheirValuesAndTimeStamps) {
    ScriptTheBoard();
    spectrometer_setScanCompleteEventHandle(AsHandle(_scanFd));
    spectrometer_setCoaddCompleteEventHandle(AsHandle(_coaddFd));
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
        ASSERT_EQ(WaitForSignals(_coaddFd), 1u) << "file " << file;
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
    EXPECT_EQ(WaitForSignals(_scanFd, 0), static_cast<uint64_t>(kFiles * kScans));
    EXPECT_EQ(WaitForSignals(_coaddFd, 0), 0u);
    EXPECT_EQ(spectrometer_close(), 1);
}

}  // namespace
}  // namespace nadixq
