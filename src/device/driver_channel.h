// The one way a board reaches its driver: open member 0 of an interface class,
// send synchronous control requests, close. Behind it stand, in this order:
//  1. the driver registered in-process for the class (the simulated
//     instrument on POSIX, a test's scripted driver anywhere), or else the
//     operating system's own (SetupDi and DeviceIoControl on Windows; none on
//     POSIX);
//  2. where that finds no board at all, the class's fallback driver (the
//     simulated instrument of the Windows DLL built with it), so that real
//     hardware that is present always wins over the simulation.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace nadixq {

// One opened device of an in-process driver.
class IDriverSession {
  public:
    virtual ~IDriverSession() = default;
    // One synchronous request. Returns true on success; on failure sets *error
    // to the Win32 error the request ends with. The reply buffer holds
    // `outSize` bytes; what a driver leaves in it on failure is its own.
    // Called from the host's threads and the scan thread, possibly at once.
    virtual bool Control(uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* error) = 0;
};

// An in-process driver for one or more interface classes.
class IDriver {
  public:
    virtual ~IDriver() = default;
    // Opens member `memberIndex` of `interfaceClass`. Returns the session, or
    // null with *error set (259, ERROR_NO_MORE_ITEMS, when nothing is there).
    // Host thread.
    virtual std::unique_ptr<IDriverSession> Open(const platform::Guid& interfaceClass,
                                                 uint32_t memberIndex, uint32_t* error) = 0;
};

// The handle a board holds: null or InvalidDeviceHandle() when closed.
using DeviceHandle = void*;
inline DeviceHandle InvalidDeviceHandle() {
    return reinterpret_cast<DeviceHandle>(~uintptr_t{0});
}
inline bool IsValidDeviceHandle(DeviceHandle handle) {
    return handle != nullptr && handle != InvalidDeviceHandle();
}

// Finds and opens member `memberIndex` of the class. Returns a handle, or
// InvalidDeviceHandle() with *error the Win32 error of the failing step.
DeviceHandle OpenDeviceInterface(const platform::Guid& interfaceClass, uint32_t memberIndex,
                                 uint32_t* error);
// One synchronous request on the handle (DeviceIoControl). On failure the
// calling thread's last error (platform::LastError) holds the driver's error.
bool DeviceControl(DeviceHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                   uint32_t outSize);
void CloseDevice(DeviceHandle handle);

// The registry of in-process drivers, one per interface class. Not owned:
// a driver must outlive every device opened through it. Registering null, or
// Unregister, gives the class back to the operating system.
void RegisterDriver(const platform::Guid& interfaceClass, IDriver* driver);
void UnregisterDriver(const platform::Guid& interfaceClass);
IDriver* RegisteredDriver(const platform::Guid& interfaceClass);

// The driver that answers a class only where its own driver reports that no
// board is there (ERROR_NO_MORE_ITEMS); null removes it. Not owned.
void RegisterFallbackDriver(const platform::Guid& interfaceClass, IDriver* driver);
IDriver* FallbackDriver(const platform::Guid& interfaceClass);

// Registers the drivers that come with the library (the simulated instrument
// where the platform has no real one, or behind the real one in the
// simulator build of the Windows DLL). Called once, before the first lookup.
void RegisterBuiltInDrivers();
// The line the library traces after its load notification to say which
// drivers it brings, or null for none (the production Windows DLL).
const char* BuiltInDriversNotice();

}  // namespace nadixq
