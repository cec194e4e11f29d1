// Runs streamed to disk through the exports, on a single-converter board of a
// scripted driver, and the files read back with the tests' own SPC reader.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "device/driver_records.h"
#include "interface/nadixq.h"
#include "spc/spc_date.h"
#include "support/scripted_driver.h"
#include "support/spc_reader.h"
#include "support/trace_capture.h"

namespace nadixq {
namespace {

using test::ReadFileBytes;
using test::ReadSpcFile;
using test::ScriptedDriver;
using test::SpcFile;
using test::TraceCapture;

constexpr int kPoints = 1024;
constexpr size_t kSubfileBytes = 32 + 4 * kPoints;
constexpr const char* kDone = "nadixq scanThread:DONE";

SpcFile MustRead(const std::string& path) {
    SpcFile file;
    std::string error;
    EXPECT_TRUE(ReadSpcFile(path, &file, &error)) << path << ": " << error;
    return file;
}

std::vector<int> Indices(const SpcFile& file) {
    std::vector<int> indices;
    for (const test::SpcSubfile& sub : file.subfiles) indices.push_back(sub.subindx);
    return indices;
}

class StreamRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
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

    ScriptedDriver _driver;
    TraceCapture _trace;
    int _queued = 0;
};

TEST_F(StreamRunTest, CountedRunHoldsEveryFile) {
    const std::string path = "counted.spc";
    Configure(2, 3);
    QueueScans(6);
    ASSERT_EQ(spectrometer_streamToDisk(path.c_str()), 0);
    ASSERT_TRUE(_trace.WaitFor(kDone));

    std::vector<double> last(kPoints);
    double lastStamp = 0.0;
    ASSERT_EQ(spectrometer_getData(last.data(), kPoints, &lastStamp), 0);
    EXPECT_EQ(spectrometer_stop(), 0);
    // Every file written is counted: none is lost to a reader.
    EXPECT_TRUE(_trace.Contains("patching fnsub= 3 in stream file"));

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.bytes.size(), 512 + 3 * kSubfileBytes);
    EXPECT_EQ(file.ftflgs, 0x14);
    EXPECT_EQ(file.fytype, 1);
    EXPECT_EQ(file.fnpts, static_cast<uint32_t>(kPoints));
    EXPECT_EQ(file.fnsub, 3u);
    EXPECT_EQ(Indices(file), (std::vector<int>{0, 1, 2}));
    const std::vector<double> stamps = StoredStamps();
    ASSERT_EQ(stamps.size(), 3u);
    EXPECT_EQ(file.fdate, PackSpcDate(stamps[0]));
    const test::SpcSubfile& third = file.subfiles[2];
    EXPECT_EQ(third.subtime, static_cast<float>(lastStamp / 1000.0));
    for (int i = 0; i < kPoints; ++i) {
        ASSERT_EQ(third.values[i], static_cast<float>(last[i])) << "point " << i;
    }
}

TEST_F(StreamRunTest, ContinuousRunStoppedDuringItsFourthFile) {
    const std::string path = "continuous_partial.spc";
    Configure(2, 0);
    QueueScans(7);  // three files and one scan of the fourth
    ASSERT_EQ(spectrometer_streamToDisk(path.c_str()), 0);
    AwaitQueuedScans();
    EXPECT_EQ(spectrometer_stop(), 0);
    EXPECT_TRUE(_trace.Contains("patching fnsub= 4 in stream file"));

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.fnsub, 4u);
    EXPECT_EQ(Indices(file), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(file.trailingBytes, 0u);
}

TEST_F(StreamRunTest, ContinuousRunStoppedBeforeTheFourthFilesFirstScan) {
    const std::string path = "continuous_whole.spc";
    Configure(2, 0);
    QueueScans(6);
    ASSERT_EQ(spectrometer_streamToDisk(path.c_str()), 0);
    AwaitQueuedScans();
    EXPECT_EQ(spectrometer_stop(), 0);

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.fnsub, 3u);
    EXPECT_EQ(Indices(file), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(file.bytes.size(), 512 + 3 * kSubfileBytes);
}

TEST_F(StreamRunTest, RunStoppedBeforeAnyDataLeavesAnEmptyValidFile) {
    const std::string path = "no_data.spc";
    Configure(2, 0);
    ASSERT_EQ(spectrometer_streamToDisk(path.c_str()), 0);
    ASSERT_TRUE(_driver.WaitForRequests(IOCTL_A_GET_IFG, 2));
    EXPECT_EQ(spectrometer_stop(), 0);
    EXPECT_TRUE(_trace.Contains("patching fnsub= 0 in stream file"));

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.bytes.size(), 512u);
    EXPECT_EQ(file.fnsub, 0u);
    EXPECT_EQ(file.fnpts, static_cast<uint32_t>(kPoints));
}

TEST_F(StreamRunTest, CountedRunKilledEarlyAddsNoSubfileForEmptyFiles) {
    const std::string path = "killed_early.spc";
    Configure(2, 5);
    QueueScans(3);  // file 0 whole, file 1 from one scan
    ASSERT_EQ(spectrometer_streamToDisk(path.c_str()), 0);
    AwaitQueuedScans();
    EXPECT_EQ(spectrometer_stop(), 0);
    EXPECT_EQ(spectrometer_getFileProgress(), 5);

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.fnsub, 2u);
    EXPECT_EQ(Indices(file), (std::vector<int>{0, 1}));
    EXPECT_EQ(file.trailingBytes, 0u);
}

TEST_F(StreamRunTest, RefusedStreamsStartNothing) {
    Configure(2, 1);
    EXPECT_EQ(spectrometer_streamToDisk(nullptr), 1);
    EXPECT_EQ(spectrometer_streamToDisk("no_such_folder/run.spc"),
              static_cast<int>(0x80070000u | ENOENT));
    EXPECT_FALSE(_trace.Contains("nadixq startCoadd"));
    EXPECT_EQ(spectrometer_getStatus(), 4);

    // A stream while a run is going would cut that run's file short.
    // Scans are queued before the start, so that the poll count tells when
    // both were handled.
    Configure(2, 0);
    QueueScans(2);
    ASSERT_EQ(spectrometer_streamToDisk("going.spc"), 0);
    EXPECT_EQ(spectrometer_streamToDisk("second_while_going.spc"), 1);
    EXPECT_TRUE(ReadFileBytes("second_while_going.spc").empty());
    AwaitQueuedScans();
    EXPECT_EQ(spectrometer_stop(), 0);
    EXPECT_EQ(MustRead("going.spc").fnsub, 1u);

    spectrometer_close();
    EXPECT_EQ(spectrometer_streamToDisk("closed.spc"), 1);
    EXPECT_TRUE(ReadFileBytes("closed.spc").empty());
}

TEST_F(StreamRunTest, StreamLeftOpenIsPatchedByTheNextStreamAndByClose) {
    Configure(1, 1);
    QueueScans(1);
    ASSERT_EQ(spectrometer_streamToDisk("left_open_1.spc"), 0);
    ASSERT_TRUE(_trace.WaitFor(kDone));
    _trace.Clear();
    // No stop: the next stream closes the first file with its count.
    QueueScans(1);
    ASSERT_EQ(spectrometer_streamToDisk("left_open_2.spc"), 0);
    EXPECT_EQ(MustRead("left_open_1.spc").fnsub, 1u);
    ASSERT_TRUE(_trace.WaitFor(kDone));
    spectrometer_close();
    EXPECT_TRUE(_trace.Contains("patching fnsub= 1 in stream file"));
    EXPECT_EQ(MustRead("left_open_2.spc").fnsub, 1u);
}

TEST_F(StreamRunTest, FullDiskEndsStreamingButNotTheRun) {
    // A file-size limit stands in for a full disk; it applies to the whole
    // process, so the run goes on in a child. No thread runs at the fork.
    const std::string path = "full_disk_run.spc";
    constexpr size_t kLimit = 512 + 2 * kSubfileBytes + 100;
    Configure(1, 5);
    QueueScans(5);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = kLimit;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
        if (spectrometer_streamToDisk(path.c_str()) != 0) _exit(3);
        if (!_trace.WaitFor(kDone)) _exit(4);
        std::vector<double> data(kPoints);
        double stamp = 0.0;
        if (spectrometer_getFileProgress() != 5) _exit(5);
        if (spectrometer_getData(data.data(), kPoints, &stamp) != 0) _exit(6);
        if (StoredStamps().size() != 5 || StoredStamps().back() == 0.0) _exit(7);
        // The stream ended with the failed write: nothing left to patch.
        if (spectrometer_stop() != 0) _exit(8);
        if (_trace.Contains("patching fnsub= 2 in stream file")) _exit(9);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.bytes.size(), kLimit);
    EXPECT_EQ(file.fnsub, 2u);
    EXPECT_EQ(Indices(file), (std::vector<int>{0, 1}));
    EXPECT_EQ(file.trailingBytes, 100u);
}

}  // namespace
}  // namespace nadixq
