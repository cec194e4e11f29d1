// POSIX has no kernel driver for the board: every class is empty, as SetupDi
// reports it when no board is present. In-process drivers (the simulated
// instrument, a test's scripted driver) are found by the device layer's
// registry before it asks here.
#include "platform/platform.h"
#include "platform/win32_errors.h"

namespace nadixq::platform {

SystemDevice OpenSystemDevice(const Guid&, uint32_t, uint32_t* error) {
    if (error != nullptr) *error = kErrorNoMoreItems;
    return InvalidSystemDevice();
}

bool SystemDeviceControl(SystemDevice, uint32_t, const void*, uint32_t, void*, uint32_t,
                         uint32_t* error) {
    if (error != nullptr) *error = kErrorInvalidHandle;
    SetLastError(kErrorInvalidHandle);
    return false;
}

void CloseSystemDevice(SystemDevice) {}

}  // namespace nadixq::platform
