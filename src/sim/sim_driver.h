// The simulated board as an in-process driver: registered for both interface
// classes where the system has no real driver, it opens member 0 of either
// class and hands every request to the one simulated board.
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

}  // namespace nadixq::sim
