// The system's error numbers for the failures tests provoke on purpose, as the
// library reports them (platform::LastError: errno on POSIX, the Win32 error
// on Windows), so that one expectation holds on both.
#pragma once

#include <cstdint>

namespace nadixq::test {

// Creating a file in a folder that does not exist (ENOENT, ERROR_PATH_NOT_FOUND).
uint32_t MissingFolderError();
// Opening a folder as a file for writing (EISDIR, ERROR_ACCESS_DENIED).
uint32_t FolderAsFileError();

}  // namespace nadixq::test
