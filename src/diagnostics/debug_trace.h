// The debugger trace: one formatted line per call on the platform's debug
// output channel, with no file, no time stamp and no lock.
#pragma once

#include "platform/platform.h"

namespace nadixq {

// Formats with printf conventions into a buffer of its own (at most 1022
// characters; a longer text is cut), appends "\n" and sends it in one call.
// Returns the formatter's result: the length of the full text, or a negative
// value on a formatting error.
int DebugTrace(const char* format, ...) NADIXQ_PRINTF_FORMAT(1, 2);

}  // namespace nadixq
