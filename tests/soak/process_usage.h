// What the soak watches of its own process: resident memory, the heap in use
// and the open descriptors. One file per system (process_usage_posix.cpp).
#pragma once

#include <cstddef>

namespace nadixq::soak {

// Resident set size in bytes (0 when unknown).
size_t ResidentBytes();
// Bytes the C heap has handed out and not yet taken back (0 when unknown).
size_t HeapInUse();
// Open file descriptors or handles of the process (0 when unknown).
size_t OpenDescriptors();

}  // namespace nadixq::soak
