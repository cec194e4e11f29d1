// Runs streamed to disk through the exports, on a single-converter board of a
// scripted driver, and the files read back with the tests' own SPC reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/driver_records.h"
#include "interface/nadixq.h"
#include "spc/spc_date.h"
#include "spc_stream_run_fixture.h"
#include "support/spc_reader.h"
#include "support/system_error.h"

namespace nadixq {
namespace {

using test::Indices;
using test::kDone;
using test::kPoints;
using test::kSubfileBytes;
using test::MustRead;
using test::ReadFileBytes;
using test::SpcFile;
using test::StreamRunTest;

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
              static_cast<int>(0x80070000u | test::MissingFolderError()));
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

}  // namespace
}  // namespace nadixq
