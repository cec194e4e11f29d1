#include "support/sim_install.h"

#include "device/driver_records.h"
#include "sim/sim_driver.h"

namespace nadixq::test {

SimulatedInstrument::SimulatedInstrument()
    : _previousA(RegisteredDriver(GUID_ACQ_INTERFACE_A)),
      _previousB(RegisteredDriver(GUID_ACQ_INTERFACE_B)) {
    sim::InstallSimulatedInstrument();
}

SimulatedInstrument::~SimulatedInstrument() {
    RegisterDriver(GUID_ACQ_INTERFACE_A, _previousA);
    RegisterDriver(GUID_ACQ_INTERFACE_B, _previousB);
}

}  // namespace nadixq::test
