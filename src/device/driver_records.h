// Everything that crosses the boundary to the board's kernel driver: the two
// device-interface classes, their control codes and the fixed records, all
// little-endian and packed at the offsets the driver uses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace nadixq {

// ------------------------------------------------------ interface classes --
// {E5A4FD92-FAC9-466D-AC2B-CCBE49660144}: models 1 and 3.
constexpr platform::Guid GUID_ACQ_INTERFACE_A = {
    0xE5A4FD92, 0xFAC9, 0x466D, {0xAC, 0x2B, 0xCC, 0xBE, 0x49, 0x66, 0x01, 0x44}};
// {B78D7A92-8C5E-4083-881C-0BC40A553FBD}: models 2, 4 and 5.
constexpr platform::Guid GUID_ACQ_INTERFACE_B = {
    0xB78D7A92, 0x8C5E, 0x4083, {0x88, 0x1C, 0x0B, 0xC4, 0x0A, 0x55, 0x3F, 0xBD}};

inline bool SameGuid(const platform::Guid& a, const platform::Guid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.data4[i] != b.data4[i]) return false;
    }
    return true;
}

// ---------------------------------------------------------- control codes --
// CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr uint32_t DriverControlCode(uint32_t function) {
    return (0x22u << 16) | (function << 2);
}

// Interface A (SingleADC1, DualADC3).
constexpr uint32_t IOCTL_A_INITIALIZE = DriverControlCode(0x803);
constexpr uint32_t IOCTL_A_GET_CAL_STATUS = DriverControlCode(0x804);
constexpr uint32_t IOCTL_A_GET_IFG = DriverControlCode(0x807);
constexpr uint32_t IOCTL_A_CALSCAN = DriverControlCode(0x80B);
constexpr uint32_t IOCTL_A_READ_FIBER = DriverControlCode(0x80C);
constexpr uint32_t IOCTL_A_WRITE_FIBER = DriverControlCode(0x80D);
constexpr uint32_t IOCTL_A_WRITE_AUX = DriverControlCode(0x80E);
// Interface B (SingleADC2, DualADC4, SingleADC5). The same numbers mean other
// operations than on A (0x22200C, 0x222010): a board never mixes the sets.
constexpr uint32_t IOCTL_B_INITIALIZE = DriverControlCode(0x801);
constexpr uint32_t IOCTL_B_GET_CAL_STATUS = DriverControlCode(0x803);
constexpr uint32_t IOCTL_B_GET_IFG = DriverControlCode(0x804);
constexpr uint32_t IOCTL_B_CALSCAN = DriverControlCode(0x805);
constexpr uint32_t IOCTL_B_WRITE_AUX = DriverControlCode(0x806);

static_assert(IOCTL_A_INITIALIZE == 0x22200C);
static_assert(IOCTL_A_GET_CAL_STATUS == 0x222010);
static_assert(IOCTL_A_GET_IFG == 0x22201C);
static_assert(IOCTL_A_CALSCAN == 0x22202C);
static_assert(IOCTL_A_READ_FIBER == 0x222030);
static_assert(IOCTL_A_WRITE_FIBER == 0x222034);
static_assert(IOCTL_A_WRITE_AUX == 0x222038);
static_assert(IOCTL_B_INITIALIZE == 0x222004);
static_assert(IOCTL_B_GET_CAL_STATUS == 0x22200C);
static_assert(IOCTL_B_GET_IFG == 0x222010);
static_assert(IOCTL_B_CALSCAN == 0x222014);
static_assert(IOCTL_B_WRITE_AUX == 0x222018);

// The control codes of one interface.
struct DriverCodes {
    uint32_t initialize;
    uint32_t getCalStatus;
    uint32_t getIfg;
    uint32_t calScan;
    uint32_t writeAux;
    uint32_t readFiber;   // 0: the interface has no fiber link
    uint32_t writeFiber;  // 0: the interface has no fiber link
};

constexpr DriverCodes InterfaceACodes() {
    DriverCodes codes{};
    codes.initialize = IOCTL_A_INITIALIZE;
    codes.getCalStatus = IOCTL_A_GET_CAL_STATUS;
    codes.getIfg = IOCTL_A_GET_IFG;
    codes.calScan = IOCTL_A_CALSCAN;
    codes.writeAux = IOCTL_A_WRITE_AUX;
    codes.readFiber = IOCTL_A_READ_FIBER;
    codes.writeFiber = IOCTL_A_WRITE_FIBER;
    return codes;
}

constexpr DriverCodes InterfaceBCodes() {
    DriverCodes codes{};
    codes.initialize = IOCTL_B_INITIALIZE;
    codes.getCalStatus = IOCTL_B_GET_CAL_STATUS;
    codes.getIfg = IOCTL_B_GET_IFG;
    codes.calScan = IOCTL_B_CALSCAN;
    codes.writeAux = IOCTL_B_WRITE_AUX;
    // No fiber link on interface B: readFiber and writeFiber stay 0.
    return codes;
}

constexpr DriverCodes kInterfaceACodes = InterfaceACodes();
constexpr DriverCodes kInterfaceBCodes = InterfaceBCodes();

// ---------------------------------------------------------- status values --
constexpr uint32_t I_COMPLETE = 1;  // a new interferogram is in the buffer
constexpr uint32_t I_ERROR = 4;     // the acquisition failed
// Any other ifg_complete value: not ready yet, poll again.

#pragma pack(push, 1)

// Sent by CalScan.
struct calParms {
    uint32_t time;  // calendar time, seconds since 1970
    uint16_t cal_scan_length;
    uint16_t gain;
    uint16_t eos_polarity;
    uint8_t padding[2];
};
static_assert(sizeof(calParms) == 12);
static_assert(offsetof(calParms, time) == 0);
static_assert(offsetof(calParms, cal_scan_length) == 4);
static_assert(offsetof(calParms, gain) == 6);
static_assert(offsetof(calParms, eos_polarity) == 8);
static_assert(offsetof(calParms, padding) == 10);

// Calibration record of the dual boards (72 bytes); they read only errorvalue,
// imax_pos and board_type.
struct calInfo72 {
    calParms parms;
    uint32_t errorvalue;  // 0: the calibration succeeded
    int16_t max_pos;
    int16_t max_neg;
    int16_t imax_pos;  // index of the centre burst
    int16_t imax_neg;
    int16_t datastart;
    int16_t reserved[21];  // not read by the dual boards
    int16_t board_type;    // 0 from a driver too old to report it
    uint8_t padding[2];
};
static_assert(sizeof(calInfo72) == 72);
static_assert(offsetof(calInfo72, errorvalue) == 12);
static_assert(offsetof(calInfo72, imax_pos) == 20);
static_assert(offsetof(calInfo72, board_type) == 68);

// Calibration record of SingleADC1 and SingleADC2 (60 bytes).
struct calInfo60 {
    calParms parms;
    uint32_t errorvalue;
    int16_t max_pos;
    int16_t max_neg;
    int16_t imax_pos;
    int16_t imax_neg;
    int16_t datastart;
    int16_t zpd_region[15];
    int16_t board_type;
    uint8_t padding[2];
};
static_assert(sizeof(calInfo60) == 60);
static_assert(offsetof(calInfo60, parms) == 0);
static_assert(offsetof(calInfo60, errorvalue) == 12);
static_assert(offsetof(calInfo60, max_pos) == 16);
static_assert(offsetof(calInfo60, max_neg) == 18);
static_assert(offsetof(calInfo60, imax_pos) == 20);
static_assert(offsetof(calInfo60, imax_neg) == 22);
static_assert(offsetof(calInfo60, datastart) == 24);
static_assert(offsetof(calInfo60, zpd_region) == 26);
static_assert(offsetof(calInfo60, board_type) == 56);
static_assert(offsetof(calInfo60, padding) == 58);

// Calibration record of SingleADC5 (56 bytes); errorvalue is 16-bit signed.
struct calInfo56 {
    calParms parms;
    int16_t errorvalue;
    int16_t max_pos;
    int16_t max_neg;
    int16_t imax_pos;
    int16_t imax_neg;
    int16_t datastart;
    int16_t zpd_region[15];
    int16_t unused;  // offset 54: not read
};
static_assert(sizeof(calInfo56) == 56);
static_assert(offsetof(calInfo56, parms) == 0);
static_assert(offsetof(calInfo56, errorvalue) == 12);
static_assert(offsetof(calInfo56, max_pos) == 14);
static_assert(offsetof(calInfo56, max_neg) == 16);
static_assert(offsetof(calInfo56, imax_pos) == 18);
static_assert(offsetof(calInfo56, imax_neg) == 20);
static_assert(offsetof(calInfo56, datastart) == 22);
static_assert(offsetof(calInfo56, zpd_region) == 24);
static_assert(offsetof(calInfo56, unused) == 54);

// Sent by Initialize.
struct initParms {
    uint16_t respts;  // low 16 bits of the point count
    uint16_t gain;    // GainCode: 7, 6 or 5
    uint16_t option;  // always 64
    uint16_t reserved;
};
static_assert(sizeof(initParms) == 8);
static_assert(offsetof(initParms, respts) == 0);
static_assert(offsetof(initParms, gain) == 2);
static_assert(offsetof(initParms, option) == 4);
static_assert(offsetof(initParms, reserved) == 6);

// Header of every GetIFG transfer.
struct istate {
    uint32_t ifg_complete;
    uint32_t ram_start;
    uint16_t scan_num;
    uint16_t time_count;
    uint32_t ram_end;
    int32_t pts;
    uint32_t tttt;
    uint32_t safe;
    uint32_t err_cnt;
    uint32_t err_adr;
    int16_t try_1;
    int16_t try_2;
    int16_t try_3;
    uint8_t padding[2];
};
static_assert(sizeof(istate) == 44);
static_assert(offsetof(istate, ifg_complete) == 0);
static_assert(offsetof(istate, ram_start) == 4);
static_assert(offsetof(istate, scan_num) == 8);
static_assert(offsetof(istate, time_count) == 10);
static_assert(offsetof(istate, ram_end) == 12);
static_assert(offsetof(istate, pts) == 16);
static_assert(offsetof(istate, tttt) == 20);
static_assert(offsetof(istate, safe) == 24);
static_assert(offsetof(istate, err_cnt) == 28);
static_assert(offsetof(istate, err_adr) == 32);
static_assert(offsetof(istate, try_1) == 36);
static_assert(offsetof(istate, try_2) == 38);
static_assert(offsetof(istate, try_3) == 40);
static_assert(offsetof(istate, padding) == 42);

constexpr int kChannelSamples = 32768;

// GetIFG transfer of a single board: one channel.
struct SingleTransfer {
    istate header;
    int16_t samples[kChannelSamples];
};
static_assert(sizeof(SingleTransfer) == 65580);
static_assert(offsetof(SingleTransfer, samples) == 44);

// GetIFG transfer of a dual board: the low-gain, then the high-gain channel.
struct DualTransfer {
    istate header;
    int16_t low[kChannelSamples];
    int16_t high[kChannelSamples];
};
static_assert(sizeof(DualTransfer) == 131116);
static_assert(offsetof(DualTransfer, low) == 44);
static_assert(offsetof(DualTransfer, high) == 65580);

// IOCTL_A_WRITE_FIBER request; the reply is one uint16 status word.
struct FiberRequest {
    uint8_t unused[4];
    uint32_t frames[16];
};
static_assert(sizeof(FiberRequest) == 68);
static_assert(offsetof(FiberRequest, frames) == 4);

// IOCTL_A_READ_FIBER reply.
struct FiberReply {
    uint16_t status;
    uint8_t unused[2];
    uint32_t frames[16];
};
static_assert(sizeof(FiberReply) == 68);
static_assert(offsetof(FiberReply, status) == 0);
static_assert(offsetof(FiberReply, frames) == 4);

#pragma pack(pop)

constexpr uint32_t kCalInfoDualSize = sizeof(calInfo72);
constexpr uint32_t kCalInfoSingleSize = sizeof(calInfo60);
constexpr uint32_t kCalInfoSingle5Size = sizeof(calInfo56);

}  // namespace nadixq
