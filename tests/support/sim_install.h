// Puts the simulated instrument behind both interface classes for the life of
// the object, and gives the classes back to what served them before.
//
// The POSIX library registers the simulator itself, so there this changes
// nothing. The Windows DLL leaves it out and opens boards through SetupDi;
// tests that run whole acquisitions on the simulator hold one of these (as a
// fixture member declared before anything that opens a board).
#pragma once

#include "device/driver_channel.h"

namespace nadixq::test {

class SimulatedInstrument {
  public:
    SimulatedInstrument();
    ~SimulatedInstrument();
    SimulatedInstrument(const SimulatedInstrument&) = delete;
    SimulatedInstrument& operator=(const SimulatedInstrument&) = delete;

  private:
    IDriver* _previousA;
    IDriver* _previousB;
};

}  // namespace nadixq::test
