// The fields of a transfer header as the boards' error dumps print them.
#pragma once

#include "device/driver_records.h"
#include "diagnostics/log_file.h"

namespace nadixq {

// Writes one log line per istate field, in header order; the 16-bit try
// fields are signed and printed sign-extended.
void WriteIstateDump(CLogFile& log, const istate& header);

}  // namespace nadixq
