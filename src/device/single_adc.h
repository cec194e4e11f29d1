// The boards with one analogue-to-digital converter (models 1, 2 and 5). They
// share one implementation, SingleADC, and differ only in a variant record:
// which driver interface they speak, which calibration record the driver
// returns, and which board type a calibration must report.
#pragma once

#include <cstdint>
#include <memory>

#include "device/driver_records.h"
#include "device/nadix_device.h"

namespace nadixq {

// The calibration record a driver interface returns to a single board.
enum class SingleCalForm {
    kLong60,   // calInfo60: 32-bit errorvalue, board_type at offset 56
    kShort56,  // calInfo56: 16-bit signed errorvalue, no board type
};

// What distinguishes one single-converter model from another.
struct SingleAdcVariant {
    int32_t modelId;
    platform::Guid interfaceGuid;
    DriverCodes codes;
    SingleCalForm calForm;
    // The board type the first good calibration must report; only read when
    // the record carries a board type (kLong60).
    int32_t requiredBoardType;
};

extern const SingleAdcVariant kSingleADC1Variant;
extern const SingleAdcVariant kSingleADC2Variant;
extern const SingleAdcVariant kSingleADC5Variant;

class SingleADC : public CNadixDevice {
  public:
    explicit SingleADC(const SingleAdcVariant& variant);
    ~SingleADC() override;

    int32_t Initialize(int32_t pts, double gainMultiple) override;
    int32_t CalScan() override;
    // One poll of the driver, no waiting; co-adds a finished interferogram.
    int32_t GetIFG(int32_t* status) override;
    int32_t GetCalStatus(int32_t* callOk) override;
    int32_t Coadd() override;
    int32_t GetCapabilities(int32_t* caps) override;
    void ClearCoadd() override;
    // The samples of the last transfer; one channel, so `channel` is ignored.
    int16_t* GetRawIFG(int32_t channel) override;
    void PrepareData(int32_t scansDone) override;
    int32_t WriteAux(uint16_t data, uint16_t mask, uint16_t* reply) override;

    const SingleAdcVariant& Variant() const { return _variant; }

  protected:
    // The driver's transfer buffer, allocated once per board: every GetIFG
    // overwrites it and Coadd reads it in place. Null when the allocation
    // failed; GetIFG then reports a failed transfer.
    std::unique_ptr<SingleTransfer> _istate;

  private:
    void DumpTransfer(uint32_t lastError) const;

    const SingleAdcVariant& _variant;
};

class SingleADC1 : public SingleADC {
  public:
    SingleADC1() : SingleADC(kSingleADC1Variant) {}
};

class SingleADC2 : public SingleADC {
  public:
    SingleADC2() : SingleADC(kSingleADC2Variant) {}
};

class SingleADC5 : public SingleADC {
  public:
    SingleADC5() : SingleADC(kSingleADC5Variant) {}
};

CNadixDevice* CreateSingleADC1();
CNadixDevice* CreateSingleADC2();
CNadixDevice* CreateSingleADC5();

}  // namespace nadixq
