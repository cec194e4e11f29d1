// The dual-converter boards (models 3 and 4). Each interferogram arrives
// twice, through a high-gain converter that resolves the weak wings but clips
// around the centre burst and a low-gain converter that never clips. The board
// co-adds both channels separately and, at the end of each file, merges the
// two sums into one interferogram on the low-gain scale (HighLowCombiner).
//
// CDualADC holds everything the two models share; DualADC3 and DualADC4 add
// their driver interface, the board types they accept, the fiber link (model 3
// only) and, through CDualADCModel, their own class-wide merge state.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "device/driver_records.h"
#include "device/nadix_device.h"
#include "processing/high_low_combiner.h"

namespace nadixq {

// E_POINTER: the host handed no frame array. The exports refuse a null frame
// before it gets here, so no host sees it.
constexpr int32_t kNullPointerResult = static_cast<int32_t>(0x80004003u);

class CDualADC : public CNadixDevice {
  public:
    ~CDualADC() override;

    int32_t Initialize(int32_t pts, double gainMultiple) override;
    int32_t CalScan() override;
    int32_t GetIFG(int32_t* status) override;
    int32_t GetCalStatus(int32_t* callOk) override;
    int32_t Coadd() override;
    int32_t GetCapabilities(int32_t* caps) override;
    void ClearCoadd() override;
    int16_t* GetRawIFG(int32_t channel) override;
    void PrepareData(int32_t scansDone) override;
    int32_t GetFiberFrame(uint32_t frames[16], int32_t unused) override;
    int32_t WriteAux(uint16_t data, uint16_t mask, uint16_t* reply) override;

    // Merges with the limits and weights of this board's class.
    void CombineHighLow(double* high, const double* low, double* out, int32_t pts, int32_t scount,
                        int32_t findLimits);

    // False only when the transfer buffer could not be allocated; the factory
    // then hands out no board.
    bool HasTransferBuffer() const { return _istate != nullptr; }

    // Transfer buffer of GetIFG: header, low-gain channel, high-gain channel.
    std::unique_ptr<DualTransfer> _istate;
    // Nonzero: GetCapabilities reports 4, else 2.
    int32_t _extendedCaps;
    // The frame words of the last fiber write or read. Host thread only.
    uint32_t _fiberFrames[16] = {};
    // Co-added channels of the current file, aligned like _data. Scan thread
    // only during a run.
    alignas(64) double _highSum[NADIXQ_MAX_POINTS];
    alignas(64) double _lowSum[NADIXQ_MAX_POINTS];
    // Nonzero: the next merge recomputes its limits. Set at construction and
    // by each good CalScan on the host's thread, taken by PrepareData on the
    // scan thread.
    std::atomic<int32_t> _recomputeLimits{1};

  protected:
    CDualADC(const platform::Guid& interfaceGuid, const DriverCodes& codes, int32_t extendedCaps);

    // Whether a board type reported by the driver belongs to this class.
    virtual bool AcceptsBoardType(int32_t boardType) const = 0;
    // The class-wide merge state of this board's class.
    virtual HighLowCombiner& Combiner() = 0;

    const int16_t* LowChannel() const;
    const int16_t* HighChannel() const;

    // The control codes of this board's driver interface.
    const DriverCodes& _codes;
};

// A dual model's class-wide merge state: one per `Model`, shared by every
// board object of that model and kept across files and acquisitions.
template <typename Model>
class CDualADCModel : public CDualADC {
  public:
    static HighLowCombiner& ClassCombiner() { return _combiner; }

  protected:
    using CDualADC::CDualADC;
    HighLowCombiner& Combiner() override { return _combiner; }

  private:
    // Constant-initialised (zero), so it is ready before any dynamic
    // initialisation could reach a board.
    static inline HighLowCombiner _combiner;
};

// Model 3: interface A, board types 10 and 11, fiber link, 4 capabilities.
class DualADC3 final : public CDualADCModel<DualADC3> {
  public:
    DualADC3();
    int32_t WriteFiber(const uint32_t frames[16], uint16_t* status) override;
    int32_t ReadFiber(uint32_t frames[16], uint16_t* status) override;

  protected:
    bool AcceptsBoardType(int32_t boardType) const override;
};

// Model 4: interface B, board type 12 only, 2 capabilities. No fiber link:
// the fiber calls are CNadixDevice's refusal (NADIXQ_NOT_IMPLEMENTED), which leaves
// the frame cache alone.
class DualADC4 final : public CDualADCModel<DualADC4> {
  public:
    DualADC4();

  protected:
    bool AcceptsBoardType(int32_t boardType) const override;
};

}  // namespace nadixq
