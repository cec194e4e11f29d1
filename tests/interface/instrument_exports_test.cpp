// The instrument and run exports: results, traces, refusals, and a run driven
// through them on a driverless fake board attached to the library-wide state.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/run_counters.h"
#include "acquisition/scan_thread.h"
#include "device/nadix_device.h"
#include "interface/library_state.h"
#include "interface/nadixq.h"
#include "platform/platform.h"
#include "support/engine_fake_device.h"
#include "support/host_event.h"
#include "support/scripted_driver.h"
#include "support/trace_capture.h"

namespace nadixq {
namespace {

using test::EngineFakeDevice;

class InstrumentExportsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        spectrometer_close();
        LibraryState& state = State();
        state._scans = 2;
        state._files = 1;
        state._points = 8;
        state._gain = 1.0;
        state._resolution = 1.0;
        Counters().scanCompleteEvent.store(0);
        Counters().coaddCompleteEvent.store(0);
        capture.Clear();
    }
    void TearDown() override {
        spectrometer_close();
        State()._scans = 16;
        State()._points = 16384;
    }

    // Attaches a fake board as if spectrometer_open had opened it, with its
    // scan-thread object (owned from then on by the library-wide state).
    EngineFakeDevice* AttachFake(int32_t points = 8, CScanThread* scan = new CScanThread()) {
        auto* device = new EngineFakeDevice(points);
        scan->SetDevice(device);
        State()._device = device;
        State()._scanThread = scan;
        Counters()._status.store(STATUS_READY);
        return device;
    }
    bool WaitForRunEnd() { return State()._scanThread.load()->HasEnded(20000); }

    test::TraceCapture capture;
};

TEST_F(InstrumentExportsTest, WithNothingOpenEveryCallRefusesOrDoesNothing) {
    EXPECT_EQ(spectrometer_close(), 1);
    EXPECT_EQ(spectrometer_startCoadd(), 1);
    EXPECT_EQ(spectrometer_stop(), 1);
    double data[8];
    double stamp = -1.0;
    EXPECT_EQ(spectrometer_getData(data, 8, &stamp), 1);
    EXPECT_EQ(stamp, -1.0);
    EXPECT_EQ(spectrometer_getTimestamp(), 0.0);
    EXPECT_EQ(spectrometer_calibrationScan(), 1);
    EXPECT_EQ(spectrometer_getCapabilities(), 0);
    unsigned int frame[16] = {};
    EXPECT_EQ(spectrometer_writeFiber(frame), 0);
    EXPECT_EQ(spectrometer_readFiber(frame), 0);
    EXPECT_EQ(spectrometer_writeAux(1, 1), 0);
    EXPECT_EQ(capture.Texts(),
              (std::vector<std::string>{"nadixq close", "nadixq startCoadd", "nadix stop",
                                        "nadixq getData returns 1", "nadixq getTimestamp",
                                        "nadix calibrationScan", "nadix getCapabilities"}));
    capture.Clear();
    EXPECT_EQ(spectrometer_initialize(), 1);
    EXPECT_TRUE(capture.Texts().empty());  // no line without a device
}

TEST_F(InstrumentExportsTest, UnknownModelsLeaveNoDevice) {
    for (int id : {0, 6, -1}) {
        EXPECT_EQ(spectrometer_open(id), NADIXQ_NO_BOARD_CLASS) << id;
        EXPECT_EQ(State()._device, nullptr);
        EXPECT_EQ(State()._scanThread, nullptr);
    }
    EXPECT_TRUE(capture.Contains("nadixq open(id = 6)"));
}

TEST_F(InstrumentExportsTest, OpenCreatesTheScanThreadAndReopeningClosesFirst) {
    test::ScriptedDriver driver;
    Counters()._status.store(STATUS_UNOPENED);
    EXPECT_EQ(spectrometer_open(1), 0);
    ASSERT_NE(State()._device, nullptr);
    ASSERT_NE(State()._scanThread, nullptr);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
    EXPECT_EQ(spectrometer_getCapabilities(), 2);

    capture.Clear();
    EXPECT_EQ(spectrometer_open(2), 0);
    EXPECT_EQ(capture.Texts(), (std::vector<std::string>{"nadixq open(id = 2)", "nadixq close",
                                                         "nadixq Open returned 0 (0x0)"}));
    EXPECT_EQ(driver.OpenCount(), 2);
}

TEST_F(InstrumentExportsTest, FailedOpenKeepsTheDeviceForClose) {
    test::ScriptedDriver driver;
    driver.SetOpenError(2);
    Counters()._status.store(STATUS_UNOPENED);
    EXPECT_EQ(spectrometer_open(1), NADIXQ_OPEN_FAILED);
    EXPECT_NE(State()._device, nullptr);
    EXPECT_EQ(State()._scanThread, nullptr);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_UNOPENED);
    EXPECT_TRUE(capture.Contains("nadixq Open returned 110 (0x6E)"));
    EXPECT_TRUE(capture.Contains("nadixq spectrometer_open returns -2147024786 (0x8007006E)"));
    // Calls that need a device reach it and get its own refusal.
    EXPECT_EQ(spectrometer_calibrationScan(), 1);
    EXPECT_EQ(spectrometer_startCoadd(), 1);
    EXPECT_EQ(spectrometer_close(), 1);
    EXPECT_EQ(State()._device, nullptr);
}

TEST_F(InstrumentExportsTest, RunThroughTheExports) {
    EngineFakeDevice* device = AttachFake();
    State()._files = 2;
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    EXPECT_TRUE(capture.Contains("startCoadd OK"));
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
    EXPECT_EQ(spectrometer_getFileProgress(), 2);
    EXPECT_EQ(spectrometer_getScanProgress(), 2);

    double data[8];
    double stamp = 0.0;
    ASSERT_EQ(spectrometer_getData(data, 8, &stamp), 0);
    EXPECT_EQ(data[7], 2007.0);
    EXPECT_EQ(stamp, spectrometer_getTimestamp());
    EXPECT_TRUE(capture.Contains("nadixq getData returns 0"));

    // A run that ended by itself: stop has nothing to wait for.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(spectrometer_stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(device->polls.load(), 4);
}

// Holds the thread of its first run after the run's last file, until the
// test lets it go, and then a while longer, as a thread that is slow to end.
class HeldScanThread : public CScanThread {
  public:
    void Release() {
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _released = true;
        }
        _changed.notify_all();
    }

  protected:
    void BeforeRunEnds() override {
        if (_runs++ > 0) return;
        std::unique_lock<std::mutex> lock(_mutex);
        _changed.wait_for(lock, std::chrono::seconds(20), [&] { return _released; });
        lock.unlock();
        platform::Sleep(100);  // the host's restart is under way meanwhile
    }

  private:
    std::mutex _mutex;
    std::condition_variable _changed;
    bool _released = false;
    int _runs = 0;
};

TEST_F(InstrumentExportsTest, RestartWokenByTheLastFileWaitsForTheRunToEnd) {
    auto* held = new HeldScanThread();
    EngineFakeDevice* device = AttachFake(8, held);
    test::HostEvent coadd;
    Counters().coaddCompleteEvent.store(coadd.Value());
    State()._files = 2;
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    while (spectrometer_getFileProgress() < 2) ASSERT_GT(coadd.Wait(20000), 0u);

    // Everything is delivered, and the thread has yet to report its end.
    held->Release();
    EXPECT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(spectrometer_getFileProgress(), 2);
    EXPECT_EQ(device->prepares.load(), 4);
    Counters().coaddCompleteEvent.store(0);
}

TEST_F(InstrumentExportsTest, StopBeforeAnyStartIsRefused) {
    AttachFake();
    EXPECT_EQ(spectrometer_stop(), 1);
}

TEST_F(InstrumentExportsTest, NegativeFileCountRunsUntilStopped) {
    EngineFakeDevice* device = AttachFake();
    State()._files = -3;
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(device->WaitForPolls(7));  // beyond any counted run of 2-scan files
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_ACQUIRING);
    EXPECT_EQ(spectrometer_stop(), 0);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
    EXPECT_GE(spectrometer_getFileProgress(), 3);
}

TEST_F(InstrumentExportsTest, ScanCountBelowOneIsRefused) {
    AttachFake();
    for (int scans : {0, -2}) {
        State()._scans = scans;
        EXPECT_EQ(spectrometer_startCoadd(), 1);
    }
    EXPECT_FALSE(State()._scanThread.load()->IsRunning());
    EXPECT_TRUE(capture.Contains("nadixq startCoadd: refused, scans= 0"));
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);
}

TEST_F(InstrumentExportsTest, BoardSettingsAndSecondStartAreRefusedDuringARun) {
    EngineFakeDevice* device = AttachFake();
    device->SetScript(EngineFakeDevice::FirstPolls(0));
    device->initializeResult.store(0x1234);
    device->calScanResult.store(0x5678);
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(device->WaitForPolls(1));

    EXPECT_EQ(spectrometer_initialize(), 1);
    EXPECT_EQ(spectrometer_calibrationScan(), 1);
    EXPECT_EQ(spectrometer_startCoadd(), 1);
    EXPECT_EQ(device->initializes.load(), 0);
    EXPECT_EQ(device->calScans.load(), 0);
    EXPECT_TRUE(capture.Contains("nadix initialize: refused while a run is going"));
    EXPECT_TRUE(capture.Contains("nadix calibrationScan: refused while a run is going"));
    EXPECT_TRUE(capture.Contains("nadixq startCoadd: refused while a run is going"));

    EXPECT_EQ(spectrometer_stop(), 0);
    // Once the run is over the board's own results come back unchanged.
    State()._points = 4096;
    State()._gain = 2.0;
    capture.Clear();
    EXPECT_EQ(spectrometer_initialize(), 0x1234);
    EXPECT_TRUE(
        capture.Contains("nadix initialize: _gain= 2.000000; points= 4096; resolution= 1.000000"));
    EXPECT_EQ(device->GetPoints(), 4096);
    EXPECT_EQ(spectrometer_calibrationScan(), 0x5678);
}

TEST_F(InstrumentExportsTest, GetDataRefusesUnsafeArgumentsWithoutTouchingMemory) {
    AttachFake();
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(WaitForRunEnd());
    double data[8] = {5, 5, 5, 5, 5, 5, 5, 5};
    double stamp = -1.0;
    EXPECT_EQ(spectrometer_getData(nullptr, 8, &stamp), 1);
    EXPECT_EQ(spectrometer_getData(data, 8, nullptr), 1);
    EXPECT_EQ(spectrometer_getData(data, -1, &stamp), 1);
    EXPECT_EQ(spectrometer_getData(data, 32769, &stamp), 1);
    EXPECT_EQ(data[0], 5.0);
    EXPECT_EQ(stamp, -1.0);
    EXPECT_EQ(Counters().filesRetrieved.load(), 0);
}

TEST_F(InstrumentExportsTest, BoardInputAndOutputPassThrough) {
    EngineFakeDevice* device = AttachFake();
    device->capabilities = 4;
    device->fiberResult = 0x77;
    device->auxResult = 0x33;
    EXPECT_EQ(spectrometer_getCapabilities(), 4);
    unsigned int frame[16] = {};
    EXPECT_EQ(spectrometer_writeFiber(frame), 0x77);
    EXPECT_EQ(device->lastFrame.load(), frame);
    EXPECT_EQ(spectrometer_readFiber(frame), 0x77);
    EXPECT_EQ(spectrometer_writeFiber(nullptr), 1);
    EXPECT_EQ(spectrometer_readFiber(nullptr), 1);
    EXPECT_EQ(spectrometer_writeAux(0x5, 0xF), 0x33);
    EXPECT_EQ(device->_auxState, 0x5);
}

TEST_F(InstrumentExportsTest, CloseDuringARunStopsItAndReleasesEverything) {
    EngineFakeDevice* device = AttachFake();
    device->SetScript(EngineFakeDevice::FirstPolls(0));
    State()._files = 0;
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(device->WaitForPolls(2));
    EXPECT_EQ(spectrometer_close(), 1);
    EXPECT_EQ(State()._device, nullptr);
    EXPECT_EQ(State()._scanThread, nullptr);
    EXPECT_TRUE(capture.Contains("nadixq scanThread:DONE"));
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);  // close leaves it as the run did
    EXPECT_EQ(spectrometer_stop(), 1);
}

TEST_F(InstrumentExportsTest, CloseLeavesAThreadThatCannotBeEndedWithItsObjects) {
    EngineFakeDevice* device = AttachFake();
    CScanThread* scan = State()._scanThread;
    device->SetScript(EngineFakeDevice::FirstPolls(0));
    device->BlockPolls();
    State()._files = 0;
    ASSERT_EQ(spectrometer_startCoadd(), 0);
    ASSERT_TRUE(device->WaitUntilBlocked());

    // Kill, 5 s, terminate, 0.5 s more: a host is never held longer, even by
    // a driver request that does not return.
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(spectrometer_close(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(6500));
    EXPECT_TRUE(
        capture.Contains("nadixq close: scan thread did not end; leaving it and the device"));
    EXPECT_EQ(State()._scanThread, nullptr);
    EXPECT_EQ(State()._device, nullptr);
    EXPECT_EQ(device->closes.load(), 0);

    // Both objects are still intact for the thread, which ends once it can.
    device->ReleasePolls();
    ASSERT_TRUE(scan->HasEnded(20000));
    delete scan;
    delete device;
}

}  // namespace
}  // namespace nadixq
