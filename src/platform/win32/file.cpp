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

bool SeekFile(std::FILE* file, int64_t offset, bool fromEnd) {
    if (file == nullptr) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return _fseeki64(file, offset, fromEnd ? SEEK_END : SEEK_SET) == 0;
}

bool RemoveShortFile(const char* path, int64_t size) {
    if (path == nullptr) return false;
    const DWORD error = ::GetLastError();
    WIN32_FILE_ATTRIBUTE_DATA info{};
    bool remove = false;
    if (::GetFileAttributesExA(path, GetFileExInfoStandard, &info)) {
        const DWORD special =
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
        const int64_t bytes = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        remove = (info.dwFileAttributes & special) == 0 && bytes < size;
    }
    const bool removed = remove && ::DeleteFileA(path) != 0;
    ::SetLastError(error);
    return removed;
}

void ErrorText(uint32_t error, char* text, size_t size) {
    if (text == nullptr || size == 0) return;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, text, static_cast<DWORD>(size), nullptr);
    if (length == 0) {
        std::snprintf(text, size, "system error %lu", static_cast<unsigned long>(error));
        return;
    }
    // The system's texts end in ".\r\n".
    size_t end = length < size ? length : size - 1;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ' ||
                       text[end - 1] == '.')) {
        --end;
    }
    text[end] = '\0';
    for (size_t i = 0; i < end; ++i) {
        if (text[i] == '\r' || text[i] == '\n') text[i] = ' ';
    }
}

uint32_t LastError() {
    return ::GetLastError();
}

void SetLastError(uint32_t error) {
    ::SetLastError(error);
}

}  // namespace nadixq::platform
