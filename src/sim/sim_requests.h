// The simulated board's side of the driver's requests: a request's code is
// read against its interface (driver_operation.h), its records are checked
// and unpacked, the board's state follows, and the reply records are written
// in the form the asking board class reads (judged by their sizes). Called
// with CSimBoard's lock held.
#pragma once

#include <cstdint>

#include "platform/win32_errors.h"
#include "sim/nadixq_sim.h"
#include "sim/sim_board_state.h"

namespace nadixq::sim {

// Win32 errors the board answers with: a code the interface does not have, a
// request record too short, a reply buffer too short, no device at that
// index, and the unplugged board.
using platform::kErrorInsufficientBuffer;
using platform::kErrorInvalidFunction;
using platform::kErrorInvalidParameter;
using platform::kErrorNoMoreItems;
constexpr uint32_t kErrorNotConnected = NADIXQ_SIM_ERROR_NOT_CONNECTED;

// Each calibration finds the burst within this many samples of the nominal
// position, as the mirror's start position varies a little between sweeps.
constexpr int kImaxJitter = 8;

class CSimRequests {
  public:
    explicit CSimRequests(SimBoardState& state) : _s(state) {}
    CSimRequests(const CSimRequests&) = delete;
    CSimRequests& operator=(const CSimRequests&) = delete;

    // One driver request on interface A (`interfaceA`) or B. Returns true on
    // success; otherwise *error holds the Win32 error. Sets *delivered when
    // the transfer carries a new scan.
    bool Handle(bool interfaceA, uint32_t code, const void* in, uint32_t inSize, void* out,
                uint32_t outSize, uint32_t* error, bool* delivered);

  private:
    bool InjectedFault(uint32_t code, uint32_t* error);
    int16_t ReportedBoardType(bool interfaceA, uint32_t calInfoSize) const;
    void FillCalInfo(bool interfaceA, void* out, uint32_t outSize) const;

    bool Initialize(const void* in, uint32_t inSize, uint32_t* error);
    bool CalScan(bool interfaceA, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* error);
    bool GetCalStatus(bool interfaceA, void* out, uint32_t outSize, uint32_t* error);
    bool GetIfg(void* out, uint32_t outSize, uint32_t* error, bool* delivered);
    bool WriteAux(const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* error);
    bool WriteFiber(const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* error);
    bool ReadFiber(void* out, uint32_t outSize, uint32_t* error);

    SimBoardState& _s;
};

}  // namespace nadixq::sim
