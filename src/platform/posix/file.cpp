#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace nadixq::platform {

std::FILE* OpenLogFile(const char* path, bool append) {
    if (path == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    // O_NOFOLLOW refuses a link in the last component (ELOOP), a dangling one
    // included, so nothing is created at its target. O_NONBLOCK keeps a FIFO
    // planted under the name from blocking the open; only a regular file is
    // taken, and it is written with blocking writes.
    const int flags =
        O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (append ? O_APPEND : O_TRUNC);
    const int fd = open(path, flags, 0666);
    if (fd < 0) return nullptr;
    int error = 0;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        error = EINVAL;
    } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        error = errno;
    }
    if (error != 0) {
        close(fd);
        errno = error;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, append ? "a" : "w");
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

bool CommitFile(std::FILE* file) {
    if (file == nullptr) return false;
    return fsync(fileno(file)) == 0;
}

static_assert(sizeof(off_t) >= 8, "stream files may grow past 4 GiB: a 64-bit off_t is needed");

bool SeekFile(std::FILE* file, int64_t offset, bool fromEnd) {
    if (file == nullptr) {
        errno = EINVAL;
        return false;
    }
    return fseeko(file, static_cast<off_t>(offset), fromEnd ? SEEK_END : SEEK_SET) == 0;
}

bool RemoveShortFile(const char* path, int64_t size) {
    if (path == nullptr) return false;
    const int error = errno;
    struct stat info {};
    const bool remove = lstat(path, &info) == 0 && S_ISREG(info.st_mode) && info.st_size < size;
    const bool removed = remove && unlink(path) == 0;
    errno = error;
    return removed;
}

namespace {

// strerror_r comes in two forms; each overload takes the result of one.
[[maybe_unused]] const char* ErrorResultText(int result, const char* buffer) {
    return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char* ErrorResultText(const char* result, const char*) {
    return result;
}

}  // namespace

void ErrorText(uint32_t error, char* text, size_t size) {
    if (text == nullptr || size == 0) return;
    char buffer[256] = {};
    const char* message =
        ErrorResultText(strerror_r(static_cast<int>(error), buffer, sizeof buffer), buffer);
    std::snprintf(text, size, "%s", message);
}

uint32_t LastError() {
    return static_cast<uint32_t>(errno);
}

void SetLastError(uint32_t error) {
    errno = static_cast<int>(error);
}

}  // namespace nadixq::platform
