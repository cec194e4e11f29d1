// Counts the process's heap allocations (malloc, calloc, realloc and the
// aligned forms, which operator new and the C runtime use alike) while
// counting is on. Each system has its own file (allocation_counter_posix.cpp
// interposes glibc's allocator); a program that links it has the hook in
// place from its start, counting off.
#pragma once

#include <cstdint>

namespace nadixq::bench {

void StartCountingAllocations();
// Stops counting and returns the allocations since StartCountingAllocations.
uint64_t StopCountingAllocations();

}  // namespace nadixq::bench
