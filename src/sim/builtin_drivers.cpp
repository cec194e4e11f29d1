// On POSIX there is no kernel driver for the board; the simulated instrument
// answers for both interface classes instead, so that every model opens.
#include "device/driver_channel.h"
#include "sim/sim_driver.h"

namespace nadixq {

void RegisterBuiltInDrivers() {
    sim::InstallSimulatedInstrument();
}

// The simulated board is all there is on POSIX; nothing to tell apart.
const char* BuiltInDriversNotice() {
    return nullptr;
}

}  // namespace nadixq
