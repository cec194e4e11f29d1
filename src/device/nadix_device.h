// The abstract acquisition board. One object of a class derived from it stands
// for one board; everything above (the exports, the scan thread) talks to the
// board only through these virtual operations.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/driver_channel.h"
#include "device/driver_records.h"
#include "interface/nadixq.h"
#include "platform/platform.h"
#include "platform/win32_errors.h"

namespace nadixq {

// Samples before the centre burst at which every co-added window begins.
constexpr int32_t kBurstLeadIn = 256;

class CNadixDevice {
  public:
    CNadixDevice();
    // Releases nothing of the base; in particular it does not close the handle.
    virtual ~CNadixDevice();
    CNadixDevice(const CNadixDevice&) = delete;
    CNadixDevice& operator=(const CNadixDevice&) = delete;

    // Opens member 0 of _interfaceGuid. 0, or ERROR_OPEN_FAILED (110) when it
    // did not open.
    virtual int32_t Open();
    // Closes the handle if it is open. Always 0.
    virtual int32_t Close();
    // Sends the point count and the gain code. Host thread.
    virtual int32_t Initialize(int32_t pts, double gainMultiple) = 0;
    // Runs the board's calibration; fixes _imaxPos. Host thread.
    virtual int32_t CalScan() = 0;
    // One non-blocking poll; co-adds a finished interferogram. Scan thread.
    virtual int32_t GetIFG(int32_t* status) = 0;
    virtual int32_t GetCalStatus(int32_t* callOk) = 0;
    virtual int32_t Coadd() = 0;
    virtual int32_t GetCapabilities(int32_t* caps) = 0;
    virtual void ClearCoadd() = 0;
    virtual int16_t* GetRawIFG(int32_t channel) = 0;
    // Turns the co-added sum of `scansDone` scans into the mean. Scan thread.
    virtual void PrepareData(int32_t scansDone) = 0;
    virtual int32_t WriteFiber(const uint32_t frames[16], uint16_t* status);
    virtual int32_t ReadFiber(uint32_t frames[16], uint16_t* status);
    // Part of the board interface; nothing in the library calls it.
    virtual int32_t GetFiberFrame(uint32_t frames[16], int32_t unused);
    virtual int32_t WriteAux(uint16_t data, uint16_t mask, uint16_t* reply);
    // The aux word the last WriteAux sent. Part of the board interface;
    // nothing in the library calls it.
    uint16_t GetAuxState(int32_t /*unused*/) const { return _auxState; }
    virtual double* GetDataBuffer();
    virtual bool IsOpen();
    virtual int32_t GetImaxPos();

    int32_t GetPoints() const { return _pts.load(std::memory_order_relaxed); }

    DeviceHandle _handle;
    // Written by CalScan on the host's thread, read by the scan thread.
    std::atomic<int32_t> _imaxPos{0};
    // Written by Initialize on the host's thread, read by the scan thread.
    std::atomic<int32_t> _pts{0};
    // On a cache line of its own, so that the passes over it run on aligned
    // vectors.
    alignas(64) double _data[NADIXQ_MAX_POINTS];
    int32_t _boardType = -1;
    platform::Guid _interfaceGuid = {};
    uint16_t _auxState = 0;
    int32_t _verbose = 0;

  protected:
    // The WriteAux of both board families: only the lines in `mask` take the
    // value of `data`, the others keep what earlier calls set, and the new word
    // stays even when the request fails, so the next write builds on what the
    // host intended. Sends the word with `code`; `family` names the board
    // family in the verbose log. False when the driver refused the request.
    bool SendAuxWord(uint32_t code, const char* family, uint16_t data, uint16_t mask,
                     uint16_t* reply);

    // The part of a transferred channel that Coadd sums: `requestedPoints`
    // samples from kBurstLeadIn before the calibrated burst. Neither the
    // driver's burst index nor the host's count is trusted, so the window is
    // clamped to lie inside the channel.
    struct CoaddWindow {
        int32_t start;
        int32_t count;
    };
    CoaddWindow CoaddWindowFor(int32_t requestedPoints) const;

    // The request of Initialize: the point count's low 16 bits and the gain
    // code of `gainMultiple`.
    static initParms InitRequest(int32_t pts, double gainMultiple);
    // The request of CalScan: the calendar time, and the driver's defaults for
    // length, gain and polarity (the board chooses them itself).
    static calParms CalRequest();
};

// The board object for a model id (1 to 5), not yet opened; null otherwise.
CNadixDevice* CreateDevice(int32_t id);

// The driver's gain code of a gain multiple: exactly 1.0 gives 7, 2.0 gives 6,
// 4.0 gives 5; everything else 7.
int32_t GainCode(double gainMultiple);

}  // namespace nadixq
