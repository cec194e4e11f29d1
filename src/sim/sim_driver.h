// The simulated board as an in-process driver: registered for both interface
// classes where the system has no real driver, it opens member 0 of either
// class and hands every request to the one simulated board.
//
// POSIX builds of the library register it themselves (builtin_drivers.cpp).
// The simulator build of the Windows DLL registers it behind SetupDi, as the
// classes' fallback (builtin_drivers_behind_system.cpp); the production DLL
// leaves it out, and its tests link it separately and install it where they
// want it in place of SetupDi.
#pragma once

#include <memory>

#include "device/driver_channel.h"

namespace nadixq::sim {

class CSimDriver : public IDriver {
  public:
    std::unique_ptr<IDriverSession> Open(const platform::Guid& interfaceClass, uint32_t memberIndex,
                                         uint32_t* error) override;
};

// The process's one simulated driver, never destroyed (devices opened through
// it may outlive any static object).
CSimDriver& TheSimDriver();

// Registers the simulated driver for both interface classes, replacing what
// was registered there. Opens that follow find the simulated board, whatever
// the system has.
void InstallSimulatedInstrument();

}  // namespace nadixq::sim
