// A Windows host's whole run: a single-converter board on the scripted driver,
// the host's own Win32 event handles, the scan thread on a Win32 thread, the
// performance-counter time stamps and the run streamed into an SPC file, which
// must hold exactly its binary records (no text-mode line-end translation).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/driver_records.h"
#include "interface/nadixq.h"
#include "support/host_settings_fixture.h"
#include "support/scripted_driver.h"
#include "support/spc_reader.h"

namespace nadixq {
namespace {

using test::ScriptedDriver;

// 10 points: the header's point count then holds a 0x0A byte, which a stream
// opened in text mode would turn into 0x0D 0x0A.
constexpr int kPoints = 10;
constexpr int kScans = 2;
constexpr int kCentreBurst = 300;  // co-adding starts 256 samples before it
constexpr size_t kSubfileBytes = 32 + 4 * kPoints;

double NowMs() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks / 10000 - 11644473600000ULL);
}

int16_t SampleValue(int file, int scan, int i) {
    return static_cast<int16_t>(file * 1000 + scan * 100 + i);
}

class WindowsRunTest : public test::HostSettingsFixture<> {
  protected:
    void SetUp() override {
        _scanEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        _coaddEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // one wake per file
        ASSERT_NE(_scanEvent, nullptr);
        ASSERT_NE(_coaddEvent, nullptr);
        calInfo60 cal{};
        cal.imax_pos = kCentreBurst;
        cal.board_type = 9;
        _driver.Queue(IOCTL_A_CALSCAN, ScriptedDriver::Reply::Of(cal));
        _driver.SetDefault(IOCTL_A_GET_IFG, ScriptedDriver::SingleTransferReply(0));
        spectrometer_setPoints(kPoints);
        spectrometer_setScans(kScans);
        spectrometer_setScanCompleteEventHandle(_scanEvent);
        spectrometer_setCoaddCompleteEventHandle(_coaddEvent);
        ASSERT_EQ(spectrometer_open(1), 0);
        ASSERT_EQ(spectrometer_initialize(), 0);
        ASSERT_EQ(spectrometer_calibrationScan(), 0);
    }
    void TearDown() override {
        HostSettingsFixture::TearDown();
        CloseHandle(_scanEvent);
        CloseHandle(_coaddEvent);
    }

    void QueueFile(int file) {
        for (int scan = 0; scan < kScans; ++scan) {
            for (int i = 0; i < 3; ++i) {
                _driver.Queue(IOCTL_A_GET_IFG, ScriptedDriver::SingleTransferReply(0));
            }
            std::vector<int16_t> samples(kCentreBurst - 256 + kPoints, 0);
            for (int i = 0; i < kPoints; ++i) {
                samples[kCentreBurst - 256 + i] = SampleValue(file, scan, i);
            }
            _driver.Queue(IOCTL_A_GET_IFG,
                          ScriptedDriver::SingleTransferReply(I_COMPLETE, samples));
        }
    }

    test::SpcFile MustRead(const std::string& path) {
        test::SpcFile file;
        std::string error;
        EXPECT_TRUE(test::ReadSpcFile(path, &file, &error)) << path << ": " << error;
        return file;
    }

    ScriptedDriver _driver;
    HANDLE _scanEvent = nullptr;
    HANDLE _coaddEvent = nullptr;
};

TEST_F(WindowsRunTest, FilesArriveThroughWin32EventsAndLandInTheStreamFileByteExact) {
    constexpr int kFiles = 3;
    for (int file = 0; file < kFiles; ++file) QueueFile(file);
    spectrometer_setFiles(kFiles);
    DeleteFileA("windows_run.spc");

    double runStart = NowMs();
    ASSERT_EQ(spectrometer_streamToDisk("windows_run.spc"), 0);
    double previousStamp = 0.0;
    for (int file = 0; file < kFiles; ++file) {
        ASSERT_EQ(WaitForSingleObject(_coaddEvent, 20000), WAIT_OBJECT_0) << "file " << file;
        std::vector<double> data(kPoints, -1.0);
        double stamp = 0.0;
        ASSERT_EQ(spectrometer_getData(data.data(), kPoints, &stamp), 0);
        for (int i = 0; i < kPoints; ++i) {
            EXPECT_EQ(data[i], file * 1000 + 50 + i) << "file " << file << " point " << i;
        }
        EXPECT_GE(stamp, runStart - 2.0);
        EXPECT_LE(stamp, NowMs() + 2.0);
        EXPECT_GT(stamp, previousStamp);
        previousStamp = stamp;
    }
    EXPECT_EQ(WaitForSingleObject(_scanEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(spectrometer_stop(), 0);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);

    test::SpcFile spc = MustRead("windows_run.spc");
    EXPECT_EQ(spc.bytes.size(), 512 + kFiles * kSubfileBytes);
    EXPECT_EQ(spc.fnpts, static_cast<uint32_t>(kPoints));
    EXPECT_EQ(spc.fnsub, static_cast<uint32_t>(kFiles));
    ASSERT_EQ(spc.subfiles.size(), static_cast<size_t>(kFiles));
    for (int file = 0; file < kFiles; ++file) {
        EXPECT_EQ(spc.subfiles[file].subindx, file);
        EXPECT_EQ(spc.subfiles[file].values[1], static_cast<float>(file * 1000 + 51));
    }
}

TEST_F(WindowsRunTest, StopEndsAContinuousRunAndCountsItsFiles) {
    QueueFile(0);
    QueueFile(1);
    spectrometer_setFiles(0);
    DeleteFileA("windows_stop.spc");
    ASSERT_EQ(spectrometer_streamToDisk("windows_stop.spc"), 0);
    ASSERT_EQ(WaitForSingleObject(_coaddEvent, 20000), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(_coaddEvent, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_ACQUIRING);
    EXPECT_EQ(spectrometer_stop(), 0);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);

    test::SpcFile spc = MustRead("windows_stop.spc");
    // The two finished files; the third was stopped before its first scan.
    EXPECT_EQ(spc.fnsub, 2u);
    EXPECT_EQ(spc.bytes.size(), 512 + spc.fnsub * kSubfileBytes);
    EXPECT_EQ(spc.subfiles[1].values[0], 1050.0f);
}

}  // namespace
}  // namespace nadixq
