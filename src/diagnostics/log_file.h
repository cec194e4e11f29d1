// The library's log file: time-stamped lines appended to "nadixq_log.txt" in
// the host's current directory, each also echoed to the debugger channel.
// Device code writes its error dumps here, and its detailed lines only while
// the device's _verbose member is set.
#pragma once

#include <cstdio>

#include "platform/platform.h"

namespace nadixq {

class CLogFile {
  public:
    CLogFile();
    virtual ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Appends "[MM-DD hh:mm:ss]  message\n" and commits it to the disk before it
    // returns; echoes the message to the debugger. 1 when the line reached the
    // file, 0 otherwise (then OnWriteFailure is called). Any thread; blocks on
    // the lock and the disk.
    int Write(const char* format, ...) NADIXQ_PRINTF_FORMAT(2, 3);

    std::FILE* OpenFile();
    void CloseFile();

    // Called after a line failed to reach the file, outside the lock.
    virtual void OnWriteFailure() {}

    // Settings, as constructed: close after every line, echo, append.
    int _closeAfterWrite = 1;
    int _echoToDebugger = 1;
    int _append = 1;
    std::FILE* _file = nullptr;
    int _isOpen = 0;
    char _fileName[260] = {};
    platform::RecursiveLock _lock;
    int _disabled = 0;
    static constexpr int kMaxMessage = 2048;
    // The message cut at kMaxMessage characters, its newline and terminator.
    char _message[kMaxMessage + 2] = {};

    static constexpr const char* kDefaultFileName = "nadixq_log.txt";
};

// The one log of the library, built on first use (at the latest when the
// library is loaded) and destroyed after the unload notification.
CLogFile& TheLog();
void DestroyTheLog();

}  // namespace nadixq
