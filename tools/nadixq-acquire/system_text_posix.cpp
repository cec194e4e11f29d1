#include <cstring>

#include "system_text.h"

namespace acquire {

std::string FileErrorText(uint32_t error) {
    return std::strerror(static_cast<int>(error));
}

// The driver's codes are Win32 errors, which mean something else as errno.
std::string DriverErrorText(uint32_t) {
    return "";
}

}  // namespace acquire
