// The system's own words for the system errors inside the library's
// 0x8007xxxx results. Which error a result carries depends on the system:
// on Windows every one is a Win32 error, described by the system's message
// table; on POSIX the stream file's errors are the C library's errno values,
// while the board's are Win32 codes from its driver, for which the system has
// no words. One implementation per system.
#pragma once

#include <cstdint>
#include <string>

namespace acquire {

// The text of the error with which the stream file was not created, without
// a final period or line end; empty when the system has none.
std::string FileErrorText(uint32_t error);
// The text of an error that the board's driver reported; empty when the
// system has none.
std::string DriverErrorText(uint32_t error);

}  // namespace acquire
