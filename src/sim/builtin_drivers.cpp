// On POSIX there is no kernel driver for the board; the simulated instrument
// answers for both interface classes instead.
#include "device/driver_channel.h"

namespace nadixq {

void RegisterBuiltInDrivers() {
    // The simulated instrument registers itself here once it exists.
}

}  // namespace nadixq
