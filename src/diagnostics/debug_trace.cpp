#include "diagnostics/debug_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace nadixq {

int DebugTrace(const char* format, ...) {
    constexpr size_t kBufferSize = 1024;
    constexpr size_t kMaxText = 1022;
    char buffer[kBufferSize];
    va_list arguments;
    va_start(arguments, format);
    // kMaxText + 1 leaves room for the terminator after at most 1022 characters.
    int result = std::vsnprintf(buffer, kMaxText + 1, format, arguments);
    va_end(arguments);
    if (result < 0) buffer[0] = '\0';
    size_t length = std::strlen(buffer);
    buffer[length] = '\n';
    buffer[length + 1] = '\0';
    platform::DebugOutput(buffer);
    return result;
}

}  // namespace nadixq
