// The board's kernel driver as Windows offers it: found through SetupDi,
// opened with CreateFileA, spoken to with synchronous DeviceIoControl.
#include <cstring>

#include "platform/platform.h"
#include "platform/win32/device_interface.h"

namespace nadixq::platform {
namespace {

static_assert(sizeof(Guid) == sizeof(GUID), "Guid has GUID's layout");

GUID ToGuid(const Guid& value) {
    GUID guid;
    std::memcpy(&guid, &value, sizeof guid);
    return guid;
}

}  // namespace

SystemDevice OpenSystemDevice(const Guid& interfaceClass, uint32_t memberIndex, uint32_t* error) {
    uint32_t status = 0;
    HANDLE device = win32::OpenDeviceInterface(ToGuid(interfaceClass), memberIndex, &status);
    if (error != nullptr) *error = status;
    return device == INVALID_HANDLE_VALUE ? InvalidSystemDevice() : device;
}

bool SystemDeviceControl(SystemDevice device, uint32_t code, const void* in, uint32_t inSize,
                         void* out, uint32_t outSize, uint32_t* error) {
    DWORD returned = 0;  // never examined: the records have fixed sizes
    // No OVERLAPPED: the handle was opened without FILE_FLAG_OVERLAPPED, so the
    // request completes before the call returns.
    BOOL ok = ::DeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize,
                                &returned, nullptr);
    if (!ok && error != nullptr) *error = ::GetLastError();
    return ok != FALSE;
}

void CloseSystemDevice(SystemDevice device) {
    if (device != nullptr && device != InvalidSystemDevice()) ::CloseHandle(device);
}

}  // namespace nadixq::platform
