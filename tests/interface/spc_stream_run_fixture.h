// The fixture of the stream-run tests: a single-converter board on a scripted
// driver, opened and initialized, whose scans a test queues one by one, and
// the trace of the run.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device/driver_records.h"
#include "interface/nadixq.h"
#include "support/scripted_driver.h"
#include "support/spc_reader.h"
#include "support/time_zone.h"
#include "support/trace_capture.h"

namespace nadixq::test {

constexpr int kPoints = 1024;
constexpr size_t kSubfileBytes = 32 + 4 * kPoints;
constexpr const char* kDone = "nadixq scanThread:DONE";

inline SpcFile MustRead(const std::string& path) {
    SpcFile file;
    std::string error;
    EXPECT_TRUE(ReadSpcFile(path, &file, &error)) << path << ": " << error;
    return file;
}

inline std::vector<int> Indices(const SpcFile& file) {
    std::vector<int> indices;
    for (const SpcSubfile& sub : file.subfiles) indices.push_back(sub.subindx);
    return indices;
}

class StreamRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Polls find no finished scan unless one was queued.
        _driver.SetDefault(IOCTL_A_GET_IFG, ScriptedDriver::SingleTransferReply(0));
        spectrometer_setPoints(kPoints);
        ASSERT_EQ(spectrometer_open(1), 0);
        ASSERT_EQ(spectrometer_initialize(), 0);
    }
    void TearDown() override { spectrometer_close(); }

    // Queues `count` finished scans, each with its own samples.
    void QueueScans(int count) {
        for (int n = 0; n < count; ++n, ++_queued) {
            std::vector<int16_t> samples(kPoints);
            for (int i = 0; i < kPoints; ++i) samples[i] = static_cast<int16_t>(i * 3 - _queued);
            _driver.Queue(IOCTL_A_GET_IFG,
                          ScriptedDriver::SingleTransferReply(I_COMPLETE, samples));
        }
    }
    // Waits until the scan thread has handled every queued scan: the poll
    // after the last one has been answered.
    void AwaitQueuedScans() {
        ASSERT_TRUE(_driver.WaitForRequests(IOCTL_A_GET_IFG, static_cast<size_t>(_queued) + 1));
    }
    void Configure(int scans, int files) {
        spectrometer_setScans(scans);
        spectrometer_setFiles(files);
    }
    // Time stamps of the stored files, in storing order, from the trace.
    std::vector<double> StoredStamps() const {
        std::vector<double> stamps;
        for (const std::string& line :
             _trace.TextsStartingWith("nadixq scanThread:PrepareData: buffer")) {
            double stamp = 0.0;
            const size_t at = line.find("timestamp= ");
            if (at != std::string::npos) std::sscanf(line.c_str() + at + 11, "%lf", &stamp);
            stamps.push_back(stamp);
        }
        return stamps;
    }

    // fdate is local time; pin the zone so the expected word is known.
    ScopedTimeZone _zone{"UTC0"};
    ScriptedDriver _driver;
    TraceCapture _trace;
    int _queued = 0;
};

}  // namespace nadixq::test
