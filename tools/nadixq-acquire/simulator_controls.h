// The --sim-* options reach the simulated instrument through its control
// functions, which only a library with the simulator has. One implementation
// per kind of library: simulator_controls_linked.cpp calls them,
// simulator_controls_absent.cpp (the production Windows DLL) refuses.
#pragma once

#include <string>

#include "options.h"

namespace acquire {

// Applies the options' simulator settings. False, with a one-line `error`,
// when the library has no simulated instrument.
bool ApplySimulatorOptions(const Options& options, std::string* error);

}  // namespace acquire
