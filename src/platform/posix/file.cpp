#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace nadixq::platform {

bool CommitFile(std::FILE* file) {
    if (file == nullptr) return false;
    return fsync(fileno(file)) == 0;
}

uint32_t LastError() {
    return static_cast<uint32_t>(errno);
}

void SetLastError(uint32_t error) {
    errno = static_cast<int>(error);
}

}  // namespace nadixq::platform
