// Running code as a host does that unmasks the floating-point exceptions
// (Delphi and C++Builder hosts by default on Windows): an invalid operation,
// a division by zero or an overflow then stops the program with a processor
// exception instead of raising a flag. Linux: feenableexcept and SIGFPE;
// Windows: the masks cleared in MXCSR and in the x87 control word
// (_controlfp_s), and a vectored exception handler.
#pragma once

namespace nadixq::test {

// Runs body(context) with invalid-operation, division-by-zero and overflow
// traps enabled on the calling thread (Windows: on a thread of its own) and
// returns true when it ran to its end without a trap. The traps are masked
// again and the flags cleared afterwards.
bool RunsWithoutFloatingPointTraps(void (*body)(void*), void* context);

}  // namespace nadixq::test
