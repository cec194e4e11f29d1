// A board for the engine's tests that needs no driver: it completes scans on a
// script of poll numbers, records what the scan thread asked of it, and lets a
// test wait for a given number of polls. Every counter is atomic: the scan
// thread writes while the test reads.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "device/driver_records.h"
#include "device/nadix_device.h"
#include "platform/platform.h"

namespace nadixq::test {

class EngineFakeDevice : public CNadixDevice {
  public:
    // What GetIFG does on poll `poll` (1, 2, ...): returns its result and
    // writes the board's transfer state.
    using PollScript = std::function<int32_t(int poll, int32_t* ifgState)>;

    explicit EngineFakeDevice(int32_t points = 8) {
        // Any valid-looking handle makes IsOpen true; Close never hands it on.
        _handle = reinterpret_cast<DeviceHandle>(uintptr_t{0x10});
        _pts.store(points);
    }

    // Every poll completes a scan.
    static PollScript EveryPoll() {
        return [](int, int32_t* state) {
            *state = static_cast<int32_t>(I_COMPLETE);
            return 0;
        };
    }
    // Polls 1..count complete a scan; later polls stay in progress.
    static PollScript FirstPolls(int count) {
        return [count](int poll, int32_t* state) {
            *state = poll <= count ? static_cast<int32_t>(I_COMPLETE) : 0;
            return 0;
        };
    }

    // Set before the run starts.
    void SetScript(PollScript script) { _script = std::move(script); }
    void SetOpen(bool open) {
        _handle = open ? reinterpret_cast<DeviceHandle>(uintptr_t{0x10}) : InvalidDeviceHandle();
    }

    int32_t Open() override { return 0; }
    int32_t Close() override {
        closes.fetch_add(1);
        return 0;
    }
    int32_t Initialize(int32_t pts, double) override {
        initializes.fetch_add(1);
        _pts.store(pts);
        return initializeResult.load();
    }
    int32_t CalScan() override {
        calScans.fetch_add(1);
        return calScanResult.load();
    }
    int32_t GetIFG(int32_t* status) override {
        {
            // A board that hangs inside a request: the thread never gets back
            // to its poll sleep until the test lets it go.
            std::unique_lock<std::mutex> lock(_mutex);
            if (_blocking) {
                _blocked = true;
                _polled.notify_all();
                _polled.wait(lock, [&] { return !_blocking; });
            }
        }
        int poll = polls.load() + 1;
        int32_t result = _script(poll, status);
        if (*status == static_cast<int32_t>(I_COMPLETE) && result == 0) {
            std::lock_guard<std::mutex> lock(_mutex);
            completionTimesMs.push_back(platform::WallClockMs());
        }
        {
            std::lock_guard<std::mutex> lock(_mutex);
            polls.store(poll);
        }
        _polled.notify_all();
        return result;
    }
    int32_t GetCalStatus(int32_t* callOk) override {
        *callOk = 1;
        return calStatusResult.load();
    }
    int32_t Coadd() override { return 0; }
    int32_t GetCapabilities(int32_t* caps) override {
        *caps = capabilities;
        return 0;
    }
    void ClearCoadd() override { clearCoadds.fetch_add(1); }
    int16_t* GetRawIFG(int32_t) override { return nullptr; }
    // Fills the result with values that name the file: prepare number times
    // 1000 plus the point index.
    void PrepareData(int32_t scansDone) override {
        int number = prepares.fetch_add(1) + 1;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            scansPerPrepare.push_back(scansDone);
        }
        for (int32_t i = 0; i < GetPoints(); ++i) _data[i] = number * 1000.0 + i;
    }
    int32_t WriteFiber(const uint32_t frames[16], uint16_t*) override {
        lastFrame.store(frames);
        return fiberResult;
    }
    int32_t ReadFiber(uint32_t frames[16], uint16_t*) override {
        lastFrame.store(frames);
        return fiberResult;
    }
    int32_t WriteAux(uint16_t data, uint16_t mask, uint16_t*) override {
        auxCalls.fetch_add(1);
        _auxState = static_cast<uint16_t>((_auxState & ~mask) | (data & mask));
        return auxResult;
    }

    // Waits until at least `count` polls were answered.
    bool WaitForPolls(int count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(_mutex);
        return _polled.wait_for(lock, timeout, [&] { return polls.load() >= count; });
    }
    void BlockPolls() {
        std::lock_guard<std::mutex> lock(_mutex);
        _blocking = true;
    }
    void ReleasePolls() {
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _blocking = false;
        }
        _polled.notify_all();
    }
    bool WaitUntilBlocked(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(_mutex);
        return _polled.wait_for(lock, timeout, [&] { return _blocked; });
    }
    std::vector<int32_t> ScansPerPrepare() {
        std::lock_guard<std::mutex> lock(_mutex);
        return scansPerPrepare;
    }
    std::vector<double> CompletionTimesMs() {
        std::lock_guard<std::mutex> lock(_mutex);
        return completionTimesMs;
    }

    std::atomic<int> polls{0};
    std::atomic<int> clearCoadds{0};
    std::atomic<int> prepares{0};
    std::atomic<int> initializes{0};
    std::atomic<int> calScans{0};
    std::atomic<int> closes{0};
    std::atomic<int> auxCalls{0};
    std::atomic<int32_t> calStatusResult{0};
    std::atomic<int32_t> initializeResult{0};
    std::atomic<int32_t> calScanResult{0};
    std::atomic<const uint32_t*> lastFrame{nullptr};
    int32_t capabilities = 2;
    int32_t fiberResult = 0;
    int32_t auxResult = 0;

  private:
    PollScript _script = EveryPoll();
    std::mutex _mutex;
    std::condition_variable _polled;
    bool _blocking = false;
    bool _blocked = false;
    std::vector<int32_t> scansPerPrepare;
    std::vector<double> completionTimesMs;
};

}  // namespace nadixq::test
