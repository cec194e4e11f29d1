// CScanThread on a driverless fake board: the trace of a run, the double
// buffer, progress counters and host events, stops and failures, getData.
#include "acquisition/scan_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/run_counters.h"
#include "support/engine_fake_device.h"
#include "support/host_event.h"
#include "support/trace_capture.h"

namespace nadixq {
namespace {

using test::EngineFakeDevice;
using test::HostEvent;

constexpr char kPrepareLine[] = "nadixq scanThread:PrepareData: buffer ";
constexpr char kNoScans[] = "nadixq scanThread:PrepareData: no scans!";

class ScanThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunCounters& counters = Counters();
        counters._status.store(STATUS_READY);
        counters._scansComplete.store(0);
        counters.filesComplete.store(0);
        counters.filesRetrieved.store(0);
        ASSERT_TRUE(_scanEvent.Valid());
        ASSERT_TRUE(_coaddEvent.Valid());
        SetHostEvents(true);
        device = std::make_unique<EngineFakeDevice>(8);
        scan = std::make_unique<CScanThread>();
        scan->SetDevice(device.get());
    }

    void TearDown() override {
        scan.reset();  // the thread ends before the board it polls goes away
        device.reset();
        SetHostEvents(false);
    }

    void SetHostEvents(bool on) {
        Counters().scanCompleteEvent.store(on ? _scanEvent.Value() : 0);
        Counters().coaddCompleteEvent.store(on ? _coaddEvent.Value() : 0);
    }

    void Start(int scans, int files) {
        scan->SetCounts(scans, files);
        ASSERT_TRUE(scan->Start());
    }
    void RunToEnd(int scans, int files) {
        Start(scans, files);
        ASSERT_TRUE(scan->HasEnded(20000));
    }

    // Signals received on a host event since the last call; compared with
    // Seen(n), since a Win32 event does not count them.
    uint64_t ScanSignals() { return _scanEvent.Take(); }
    uint64_t CoaddSignals() { return _coaddEvent.Take(); }
    static uint64_t Seen(uint64_t signals) { return HostEvent::Seen(signals); }

    std::vector<std::string> ScanLines() const {
        return capture.TextsStartingWith("nadixq scanThread");
    }
    size_t CountLines(const std::string& text) const {
        auto lines = capture.Texts();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
    }
    // The buffer index of every stored file, in order.
    std::vector<int> StoredBuffers() const {
        std::vector<int> buffers;
        for (const std::string& line : capture.TextsStartingWith(kPrepareLine)) {
            buffers.push_back(line[sizeof kPrepareLine - 1] - '0');
        }
        return buffers;
    }

    test::TraceCapture capture;
    std::unique_ptr<EngineFakeDevice> device;
    std::unique_ptr<CScanThread> scan;

  private:
    HostEvent _scanEvent;
    HostEvent _coaddEvent;
};

TEST_F(ScanThreadTest, OneFileOfTwoScansLeavesItsLinesInOrder) {
    RunToEnd(2, 1);
    std::vector<std::string> lines = ScanLines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "nadixq scanThread:entering ThreadProc");
    EXPECT_EQ(lines[1], "nadixq scanThread:files= 1; scans= 2");
    EXPECT_EQ(lines[2], "nadixq scanThread:_scansComplete= 1");
    EXPECT_EQ(lines[3], "nadixq scanThread: setting scanCompleteEvent");
    EXPECT_EQ(lines[4], "nadixq scanThread:_scansComplete= 2");
    EXPECT_EQ(lines[5], "nadixq scanThread: setting scanCompleteEvent");
    EXPECT_EQ(lines[6].rfind("nadixq scanThread:PrepareData: buffer 0; copying 8 points, "
                             "timestamp= ",
                             0),
              0u)
        << lines[6];
    EXPECT_EQ(lines[7], "nadixq scanThread: setting coaddCompleteEvent");
    EXPECT_EQ(lines[8], "nadixq scanThread:DONE");
    EXPECT_EQ(ScanSignals(), Seen(2));
    EXPECT_EQ(CoaddSignals(), Seen(1));
    EXPECT_EQ(Counters()._status.load(), STATUS_READY);
}

TEST_F(ScanThreadTest, ThreeFilesUseTheBuffersInTurn) {
    RunToEnd(2, 3);
    EXPECT_EQ(ScanSignals(), Seen(6));
    EXPECT_EQ(CoaddSignals(), Seen(3));
    EXPECT_EQ(Counters().filesComplete.load(), 3);
    EXPECT_EQ(StoredBuffers(), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(scan->ReadyScanBufferIndex(), 0);
    EXPECT_EQ(scan->WriteScanBufferIndex(), 1);
    EXPECT_EQ(device->clearCoadds.load(), 3);
    EXPECT_EQ(device->ScansPerPrepare(), (std::vector<int32_t>{2, 2, 2}));
}

TEST_F(ScanThreadTest, StopDuringSecondOfFiveFilesClosesOutEveryFile) {
    device->SetScript(EngineFakeDevice::FirstPolls(2));
    Start(2, 5);
    ASSERT_TRUE(device->WaitForPolls(4));  // poll 3 and on belong to file 2
    EXPECT_EQ(Counters()._status.load(), STATUS_ACQUIRING);
    scan->Stop();
    ASSERT_TRUE(scan->HasEnded());
    EXPECT_EQ(CountLines("nadixq scanThread: kill event received"), 1u);
    EXPECT_EQ(Counters().filesComplete.load(), 5);
    EXPECT_EQ(CoaddSignals(), Seen(5));
    EXPECT_EQ(CountLines(kNoScans), 4u);
    EXPECT_EQ(device->ScansPerPrepare(), (std::vector<int32_t>{2}));
    EXPECT_EQ(device->clearCoadds.load(), 5);
    EXPECT_EQ(scan->ReadyScanBufferIndex(), 0);
    EXPECT_EQ(Counters()._status.load(), STATUS_READY);
}

TEST_F(ScanThreadTest, ContinuousRunStoppedMidFileStoresThePartialFile) {
    device->SetScript(EngineFakeDevice::FirstPolls(4));
    Start(3, 0);
    ASSERT_TRUE(device->WaitForPolls(6));  // file 2 has its one scan
    scan->Stop();
    ASSERT_TRUE(scan->HasEnded());
    EXPECT_EQ(Counters().filesComplete.load(), 2);
    EXPECT_EQ(device->ScansPerPrepare(), (std::vector<int32_t>{3, 1}));
    EXPECT_EQ(CoaddSignals(), Seen(2));
    EXPECT_EQ(scan->ReadyScanBufferIndex(), 1);
}

TEST_F(ScanThreadTest, GetDataBeforeAnyFileRefusesQuietly) {
    double out[8] = {};
    double stamp = -1.0;
    EXPECT_EQ(scan->getData(out, 8, &stamp), 1);
    EXPECT_EQ(stamp, -1.0);
    EXPECT_EQ(Counters().filesRetrieved.load(), 0);
    EXPECT_TRUE(capture.Texts().empty());
    EXPECT_EQ(scan->GetTimestamp(), 0.0);
}

TEST_F(ScanThreadTest, GetDataCopiesTheLatestFileAndCountsEveryRead) {
    RunToEnd(2, 1);
    std::vector<double> first(8, -1.0), second(8, -2.0);
    double stampA = 0.0, stampB = 0.0;
    ASSERT_EQ(scan->getData(first.data(), 8, &stampA), 0);
    ASSERT_EQ(scan->getData(second.data(), 8, &stampB), 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(first[i], 1000.0 + i);
    EXPECT_EQ(first, second);
    EXPECT_EQ(stampA, stampB);
    EXPECT_EQ(stampA, scan->GetTimestamp());
    EXPECT_GT(stampA, 0.0);
    EXPECT_EQ(Counters().filesRetrieved.load(), 2);
    EXPECT_TRUE(
        capture.Contains("nadixq CScanThread::getData: readyScanBufferIndex= 0; filesComplete= 1; "
                         "filesRetrieved= 2"));
}

TEST_F(ScanThreadTest, GetDataWithAnotherPointCountZeroesAndFails) {
    RunToEnd(1, 1);
    std::vector<double> out(17, 7.0);
    double stamp = -1.0;
    EXPECT_EQ(scan->getData(out.data(), 16, &stamp), 1);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], 0.0) << i;
    EXPECT_EQ(out[16], 7.0);  // nothing beyond what was asked for
    EXPECT_EQ(stamp, -1.0);
    EXPECT_TRUE(capture.Contains("nadixq getData()::FAILED: state= 5; points= 8; pts= 16"));
    EXPECT_EQ(Counters().filesRetrieved.load(), 1);
}

TEST_F(ScanThreadTest, FinestSettingIsAskedForAs32768) {
    device->_pts.store(NADIXQ_FINEST_POINTS);
    RunToEnd(1, 1);
    std::vector<double> out(NADIXQ_MAX_POINTS, 7.0);
    double stamp = 0.0;
    ASSERT_EQ(scan->getData(out.data(), NADIXQ_MAX_POINTS, &stamp), 0);
    EXPECT_EQ(out[0], 1000.0);
    EXPECT_EQ(out[NADIXQ_FINEST_POINTS - 1], 1000.0 + NADIXQ_FINEST_POINTS - 1);
    EXPECT_EQ(std::count(out.begin() + NADIXQ_FINEST_POINTS, out.end(), 0.0), 2768);
}

TEST_F(ScanThreadTest, FileTooLargeForABufferIsNotStored) {
    device->_pts.store(NADIXQ_MAX_POINTS);
    RunToEnd(1, 1);
    EXPECT_EQ(scan->ReadyScanBufferIndex(), 0);  // moves all the same
    std::vector<double> out(NADIXQ_MAX_POINTS, 7.0);
    double stamp = 0.0;
    EXPECT_EQ(scan->getData(out.data(), NADIXQ_MAX_POINTS, &stamp), 1);
    EXPECT_TRUE(capture.Contains("nadixq getData()::FAILED: state= 1; points= 0; pts= 30000"));
}

TEST_F(ScanThreadTest, TimeStampIsTheFirstScanOfTheFile) {
    device->SetScript([](int poll, int32_t* state) {
        *state = (poll == 1 || poll == 40) ? static_cast<int32_t>(I_COMPLETE) : 0;
        return 0;
    });
    RunToEnd(2, 1);
    std::vector<double> times = device->CompletionTimesMs();
    ASSERT_EQ(times.size(), 2u);
    ASSERT_GE(times[1] - times[0], 150.0);  // 39 polls of at least 5 ms
    // Far nearer the first scan than the second, 150 ms later; generous for load.
    EXPECT_NEAR(scan->GetTimestamp(), times[0], 50.0);
}

TEST_F(ScanThreadTest, DriverFailureEndsTheScansOfACountedRun) {
    device->SetScript([](int poll, int32_t* state) {
        *state = static_cast<int32_t>(I_COMPLETE);
        return poll == 3 ? 1 : 0;
    });
    RunToEnd(2, 3);
    EXPECT_EQ(device->polls.load(), 3);
    EXPECT_EQ(CountLines("nadixq scanThread:GET_IFG returned FALSE"), 1u);
    EXPECT_EQ(CountLines(kNoScans), 2u);
    EXPECT_EQ(Counters().filesComplete.load(), 3);
    EXPECT_EQ(CoaddSignals(), Seen(3));
    EXPECT_EQ(Counters()._status.load(), STATUS_READY);
}

TEST_F(ScanThreadTest, ErrorStateEndsAContinuousRunAfterItsFile) {
    device->SetScript([](int poll, int32_t* state) {
        *state = static_cast<int32_t>(poll == 1 ? I_COMPLETE : I_ERROR);
        return 0;
    });
    RunToEnd(2, 0);
    EXPECT_EQ(CountLines("nadixq scanThread:GET_IFG returned I_ERROR"), 1u);
    EXPECT_EQ(device->ScansPerPrepare(), (std::vector<int32_t>{1}));
    EXPECT_EQ(Counters().filesComplete.load(), 1);
}

TEST_F(ScanThreadTest, CalibrationStatusErrorEndsTheRunAtOnce) {
    device->calStatusResult.store(1);
    Counters().filesComplete.store(7);
    Counters().filesRetrieved.store(7);
    RunToEnd(2, 3);
    EXPECT_EQ(ScanLines(),
              (std::vector<std::string>{
                  "nadixq scanThread:entering ThreadProc", "nadixq scanThread:files= 3; scans= 2",
                  "nadixq scanThread:GetCalStatus ERROR", "nadixq scanThread:DONE"}));
    EXPECT_EQ(Counters().filesComplete.load(), 7);
    EXPECT_EQ(Counters().filesRetrieved.load(), 7);
    EXPECT_EQ(device->polls.load(), 0);
    EXPECT_EQ(Counters()._status.load(), STATUS_READY);
}

TEST_F(ScanThreadTest, ClosedOrMissingDeviceEndsTheRunWithoutALine) {
    device->SetOpen(false);
    RunToEnd(2, 3);
    EXPECT_EQ(ScanLines(), (std::vector<std::string>{"nadixq scanThread:entering ThreadProc",
                                                     "nadixq scanThread:files= 3; scans= 2",
                                                     "nadixq scanThread:DONE"}));
    capture.Clear();
    scan->SetDevice(nullptr);
    RunToEnd(2, 3);
    EXPECT_EQ(ScanLines().size(), 3u);
    EXPECT_EQ(device->clearCoadds.load(), 0);
}

TEST_F(ScanThreadTest, WithoutHostEventsNothingIsSignalled) {
    SetHostEvents(false);
    RunToEnd(2, 2);
    EXPECT_EQ(CountLines("nadixq scanThread: setting scanCompleteEvent"), 0u);
    EXPECT_EQ(CountLines("nadixq scanThread: setting coaddCompleteEvent"), 0u);
    EXPECT_EQ(Counters().filesComplete.load(), 2);
}

TEST_F(ScanThreadTest, SecondRunOnTheSameObjectCarriesOnWithTheBuffers) {
    RunToEnd(1, 1);
    double out[8];
    double stamp = 0.0;
    ASSERT_EQ(scan->getData(out, 8, &stamp), 0);
    double firstStamp = stamp;
    capture.Clear();

    RunToEnd(1, 2);
    EXPECT_EQ(StoredBuffers(), (std::vector<int>{1, 0}));
    EXPECT_EQ(Counters().filesRetrieved.load(), 0);  // reset by the new run
    ASSERT_EQ(scan->getData(out, 8, &stamp), 0);
    EXPECT_EQ(out[0], 3000.0);  // the third file the board prepared
    EXPECT_GT(stamp, firstStamp);
}

TEST_F(ScanThreadTest, DestroyingTheObjectMidRunStopsTheThread) {
    device->SetScript(EngineFakeDevice::FirstPolls(0));
    Start(2, 0);
    ASSERT_TRUE(device->WaitForPolls(2));
    scan.reset();
    int polls = device->polls.load();
    platform::Sleep(30);
    EXPECT_EQ(device->polls.load(), polls);
    EXPECT_EQ(Counters()._status.load(), STATUS_READY);
}

}  // namespace
}  // namespace nadixq
