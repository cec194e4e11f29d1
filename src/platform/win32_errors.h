// The Win32 error numbers the library reports or looks for, and the HRESULT
// form in which it hands a system error to the host. They are plain numbers:
// the POSIX build reports the same ones where it stands in for a Win32 call
// (no device of a class, a closed handle), so they need no system header.
#pragma once

#include <cstdint>

namespace nadixq::platform {

constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorOpenFailed = 110;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorNoMoreItems = 259;

// 0x8007xxxx with the error in the low 16 bits (HRESULT_FROM_WIN32 for a
// nonzero error). Callers that may hold 0 decide themselves what it becomes:
// a failure must never read as success.
constexpr int32_t SystemErrorResult(uint32_t error) {
    return static_cast<int32_t>(0x80070000u | (error & 0xFFFFu));
}

}  // namespace nadixq::platform
