#include <io.h>

#include <cstdio>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace nadixq::platform {

bool CommitFile(std::FILE* file) {
    if (file == nullptr) return false;
    // The runtime's own flush to the disk (FlushFileBuffers underneath).
    return _commit(_fileno(file)) == 0;
}

uint32_t LastError() {
    return ::GetLastError();
}

void SetLastError(uint32_t error) {
    ::SetLastError(error);
}

}  // namespace nadixq::platform
