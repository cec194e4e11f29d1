#include "diagnostics/log_file.h"

#include <cstdarg>
#include <cstring>
#include <ctime>
#include <new>

namespace nadixq {

CLogFile::CLogFile() = default;

CLogFile::~CLogFile() {
    CloseFile();
}

std::FILE* CLogFile::OpenFile() {
    if (_fileName[0] == '\0') {
        std::strncpy(_fileName, kDefaultFileName, sizeof _fileName - 1);
    }
    platform::LockGuard guard(_lock);
    if (_file != nullptr) std::fclose(_file);
    // As fopen with "at" or "wt", except that a link planted under the name
    // is refused rather than followed: the open then fails like any other.
    _file = platform::OpenLogFile(_fileName, _append != 0);
    _isOpen = _file != nullptr;
    return _file;
}

void CLogFile::CloseFile() {
    if (_file == nullptr) return;
    std::fflush(_file);
    platform::CommitFile(_file);
    std::fclose(_file);
    _file = nullptr;
}

int CLogFile::Write(const char* format, ...) {
    if (_disabled) return 0;
    int result = 0;
    {
        platform::LockGuard guard(_lock);
        if (_closeAfterWrite) CloseFile();
        if (_file == nullptr) OpenFile();

        va_list arguments;
        va_start(arguments, format);
        int formatted = std::vsnprintf(_message, kMaxMessage + 1, format, arguments);
        va_end(arguments);
        if (formatted < 0) _message[0] = '\0';
        _message[kMaxMessage] = '\0';
        size_t length = std::strlen(_message);
        _message[length] = '\n';
        _message[length + 1] = '\0';

        if (_file != nullptr) {
            std::tm local{};
            platform::LocalTime(static_cast<int64_t>(std::time(nullptr)), &local);
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "[%02d-%02d %02d:%02d:%02d] ", local.tm_mon + 1,
                          local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
            if (std::fprintf(_file, "%s %s", stamp, _message) > 0) result = 1;
            if (_closeAfterWrite) {
                CloseFile();
            } else {
                std::fflush(_file);
                platform::CommitFile(_file);
            }
        }
        if (_echoToDebugger) platform::DebugOutput(_message);
    }
    if (result == 0) OnWriteFailure();
    return result;
}

namespace {
alignas(CLogFile) unsigned char g_logStorage[sizeof(CLogFile)];
CLogFile* g_log = nullptr;
}  // namespace

CLogFile& TheLog() {
    // Built on first use (the library's load at the latest), so that it exists
    // before any other static code of the library may log.
    static CLogFile* const created = (g_log = new (g_logStorage) CLogFile);
    (void)created;
    // A line after the unload gets a fresh object rather than the destroyed
    // one. Nothing of the library logs then, and nothing else runs: the
    // unload leaves no log behind that it would have to free.
    if (g_log == nullptr) g_log = new (g_logStorage) CLogFile;
    return *g_log;
}

void DestroyTheLog() {
    TheLog();
    g_log->~CLogFile();
    g_log = nullptr;
}

}  // namespace nadixq
