// The simulated acquisition board: one board that answers both driver
// interfaces, adapts to the board class that talks to it (judged by the sizes
// of the records it asks for), keeps the aux word and the fiber link as state,
// and delivers noisy scans of the model interferogram at the pace of a real
// mirror sweep. Its state is SimBoardState; the requests are decoded and
// answered by CSimRequests.
//
// Thread-safe: the scan thread's polls, the host's requests and the control
// functions may arrive at once; one lock orders them.
#pragma once

#include <cstdint>
#include <mutex>

#include "sim/nadixq_sim.h"
#include "sim/sim_board_state.h"
#include "sim/sim_requests.h"

namespace nadixq::sim {

class CSimBoard {
  public:
    CSimBoard();
    ~CSimBoard();
    CSimBoard(const CSimBoard&) = delete;
    CSimBoard& operator=(const CSimBoard&) = delete;

    // One driver request on interface A (`interfaceA`) or B. Returns true on
    // success; otherwise *error holds the Win32 error.
    bool Control(bool interfaceA, uint32_t code, const void* in, uint32_t inSize, void* out,
                 uint32_t outSize, uint32_t* error);
    // Whether an open of the board may succeed (false once unplugged).
    bool Present();

    // The control functions of nadixq_sim.h.
    void Reset();
    void SetBoardType(int type);
    void SetScanRate(double samplesPerSecond, double turnaroundMs);
    void SetNoise(double sigma);
    void SetSeed(uint64_t seed);
    void SetCalibrationError(int errorvalue);
    void FailRequest(uint32_t code, int afterCalls, uint32_t error, int times);
    void ErrorAtScan(int n);
    void SetSampleInBeam(bool inBeam);
    void Unplug();
    int ScanCount();
    int ImaxPos();
    unsigned AuxState();
    int LastTransfer(int channel, int16_t* samples, int count);
    void SetTransferHook(nadixq_sim_transfer_hook hook, void* context);

  private:
    std::mutex _mutex;
    SimBoardState _state;
    CSimRequests _requests;
};

// The one simulated board of the process, created on first use and never
// destroyed, so that a device still open at exit never meets a dead board.
CSimBoard& TheSimBoard();

}  // namespace nadixq::sim
