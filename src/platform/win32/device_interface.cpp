#include "platform/win32/device_interface.h"

#include <cstdlib>

namespace nadixq::platform::win32 {
namespace {

// The record sizes the 32-bit DLL hands to setupapi; a different packing here
// would make every discovery fail with ERROR_INVALID_USER_BUFFER.
#if !defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "32-bit interface data");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "32-bit detail header");
#endif

}  // namespace

CDeviceInfoList::CDeviceInfoList(const GUID& interfaceClass) : _guid(interfaceClass) {
    // A C++ exception from the system call leaves the error as it stood and the
    // set invalid; faults in the system code are not the library's to catch.
    try {
        _set =
            ::SetupDiGetClassDevsA(&_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        _error = _set == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    } catch (...) {
        _set = INVALID_HANDLE_VALUE;
    }
}

CDeviceInfoList::~CDeviceInfoList() {
    if (IsValid()) ::SetupDiDestroyDeviceInfoList(_set);
}

CDeviceInterface::CDeviceInterface(CDeviceInfoList& list, uint32_t memberIndex)
    : _list(list), _data{} {
    _data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    try {
        if (!::SetupDiEnumDeviceInterfaces(_list._set, nullptr, &_list._guid, memberIndex,
                                           &_data)) {
            _error = ::GetLastError();
            return;
        }
        DWORD required = 0;
        ::SetupDiGetDeviceInterfaceDetailA(_list._set, &_data, nullptr, 0, &required, nullptr);
        _error = ::GetLastError();
        if (_error != ERROR_INSUFFICIENT_BUFFER) return;

        _detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(required));
        if (_detail == nullptr) {
            _error = ERROR_NOT_ENOUGH_MEMORY;
            return;
        }
        // cbSize is the size of the fixed header (5 on 32-bit Windows), not of
        // the buffer.
        _detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (::SetupDiGetDeviceInterfaceDetailA(_list._set, &_data, _detail, required, nullptr,
                                               nullptr)) {
            _error = 0;
        } else {
            _error = ::GetLastError();
            std::free(_detail);
            _detail = nullptr;
        }
    } catch (...) {
        // The error stays at the value it had reached.
    }
}

CDeviceInterface::~CDeviceInterface() {
    std::free(_detail);
}

const char* CDeviceInterface::GetDevicePath() const {
    return _detail != nullptr ? _detail->DevicePath : nullptr;
}

HANDLE OpenDeviceInterface(const GUID& interfaceClass, uint32_t memberIndex, uint32_t* error) {
    uint32_t status = 0;
    HANDLE device = INVALID_HANDLE_VALUE;
    {
        CDeviceInfoList list(interfaceClass);
        status = list._error;
        if (status == 0) {
            // Declared after the list, so it is released first.
            CDeviceInterface member(list, memberIndex);
            status = member._error;
            if (status == 0) {
                device = ::CreateFileA(member.GetDevicePath(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
                if (device == INVALID_HANDLE_VALUE) status = ::GetLastError();
            }
        }
    }
    if (error != nullptr) *error = status;
    return device;
}

}  // namespace nadixq::platform::win32
