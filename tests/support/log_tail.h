// Reading the library's log file from tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/driver_channel.h"

namespace nadixq::test {

// The log lines written since construction, without their time stamps.
// The log is "nadixq_log.txt" in the working directory, and ctest may run the
// cases of one program side by side in one directory: each case reads the log
// in a directory of its own, entered for the tail's lifetime.
class LogTail {
  public:
    LogTail();
    ~LogTail();
    LogTail(const LogTail&) = delete;
    LogTail& operator=(const LogTail&) = delete;

    std::vector<std::string> Lines() const;

  private:
    std::filesystem::path _previous;
    std::streamoff _start = 0;
};

// Gives an interface class back to the operating system for the object's
// lifetime, even when a built-in driver is registered for it or stands behind
// it: on a machine without the board the class is then empty.
class EmptyClass {
  public:
    explicit EmptyClass(const platform::Guid& cls);
    ~EmptyClass();
    EmptyClass(const EmptyClass&) = delete;
    EmptyClass& operator=(const EmptyClass&) = delete;

  private:
    platform::Guid _cls;
    IDriver* _previous;
    IDriver* _previousFallback;
};

}  // namespace nadixq::test
