// What a streamed run left on disk, read back after the stop: the subfile
// count of the SPC file's header, and the library's log line that says why
// streaming ended early, if it did.
#pragma once

#include <cstdint>
#include <string>

namespace acquire {

// The library's log file, in the current directory.
constexpr const char* kLibraryLog = "nadixq_log.txt";

// The size of the library's log now (0 when there is none): lines after it
// belong to the run that starts next.
std::int64_t LogSize();

// The subfile count in the header of the SPC file at `path`; -1 when the file
// cannot be read or is too short for a header.
long SubfileCount(const std::string& path);

// The reason of the last "stream ended after N subfiles: ..." line of the
// library's log after byte `from` (the system error's text and code, as
// "No space left on device (0x8007001C)"); empty when there is none.
std::string StreamEndReason(std::int64_t from);

}  // namespace acquire
