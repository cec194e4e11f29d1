// Discovery of the board through the Windows device-installation functions:
// the present devices of one device-interface class, one member of it and
// its device path, and the opened device.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/win32/win32.h"
// setupapi.h needs the full windows.h declarations first.
#include <setupapi.h>

namespace nadixq::platform::win32 {

// The present devices of one interface class (a device-information set).
// Construction asks SetupDi for them; _error holds 0 or the Win32 error.
class CDeviceInfoList {
  public:
    explicit CDeviceInfoList(const GUID& interfaceClass);
    ~CDeviceInfoList();
    CDeviceInfoList(const CDeviceInfoList&) = delete;
    CDeviceInfoList& operator=(const CDeviceInfoList&) = delete;

    bool IsValid() const { return _set != INVALID_HANDLE_VALUE; }

    HDEVINFO _set = INVALID_HANDLE_VALUE;
    GUID _guid;
    uint32_t _error = ERROR_INVALID_PARAMETER;
};

// Member `memberIndex` of a list and its device path. Construction enumerates
// the member and reads its detail; _error holds 0 or the Win32 error.
class CDeviceInterface {
  public:
    CDeviceInterface(CDeviceInfoList& list, uint32_t memberIndex);
    ~CDeviceInterface();
    CDeviceInterface(const CDeviceInterface&) = delete;
    CDeviceInterface& operator=(const CDeviceInterface&) = delete;

    // The device path, or null when the detail could not be read.
    const char* GetDevicePath() const;

    CDeviceInfoList& _list;
    SP_DEVICE_INTERFACE_DATA _data;
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* _detail = nullptr;  // owned, malloc'd
    uint32_t _error = ERROR_INVALID_PARAMETER;
};

// Opens member `memberIndex` of the class for reading and writing. Returns the
// handle, or INVALID_HANDLE_VALUE with *error the Win32 error of the step that
// failed (ERROR_NO_MORE_ITEMS when no such device is present).
HANDLE OpenDeviceInterface(const GUID& interfaceClass, uint32_t memberIndex, uint32_t* error);

}  // namespace nadixq::platform::win32
