#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace nadixq::platform {

std::FILE* OpenLogFile(const char* path, bool append) {
    if (path == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link or junction itself
    // rather than what it points to, so that it can be refused; a dangling
    // link is refused the same way and nothing is created at its target. The
    // sharing is the C runtime's for fopen.
    HANDLE handle =
        ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    DWORD error = ERROR_SUCCESS;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info)) {
        error = ERROR_ACCESS_DENIED;
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
               (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = ERROR_CANT_ACCESS_FILE;
    } else if (!append && !::SetEndOfFile(handle)) {
        error = ::GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        ::CloseHandle(handle);
        ::SetLastError(error);
        return nullptr;
    }
    // From here the runtime owns the handle: closing the stream closes it.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                   _O_WRONLY | _O_TEXT | (append ? _O_APPEND : 0));
    if (fd < 0) {
        ::CloseHandle(handle);
        ::SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, append ? "at" : "wt");
    if (file == nullptr) {
        _close(fd);
        ::SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    }
    return file;
}

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
