// The simulator build of the Windows DLL: the simulated instrument answers
// both interface classes where SetupDi finds no board, so that a host opens
// models 1 to 5 on a machine without the hardware, while a board that is
// present is still the one opened. Never shipped in place of the production
// DLL; its first trace line after the load notification says what it is.
#include "device/driver_channel.h"
#include "device/driver_records.h"
#include "sim/sim_driver.h"

namespace nadixq {

void RegisterBuiltInDrivers() {
    RegisterFallbackDriver(GUID_ACQ_INTERFACE_A, &sim::TheSimDriver());
    RegisterFallbackDriver(GUID_ACQ_INTERFACE_B, &sim::TheSimDriver());
}

const char* BuiltInDriversNotice() {
    return "nadixq: simulated instrument";
}

}  // namespace nadixq
