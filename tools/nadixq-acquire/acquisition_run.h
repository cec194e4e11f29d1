// One acquisition from start to end through the library's public exports:
// open, configure, initialize, calibrate, start (streaming or not), follow the
// run on the two host events, report every file, and stop and close cleanly,
// also on Ctrl-C.
#pragma once

#include "options.h"
#include "progress_display.h"
#include "run_events.h"

namespace acquire {

// Exit codes of the command.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // a counted run stopped by Ctrl-C

// Runs the acquisition the options describe; returns the exit code. Errors
// are printed to stderr as one line each.
int RunAcquisition(const Options& options, CProgressDisplay& display, CRunEvents& events);

}  // namespace acquire
