// What the benchmarks need from the operating system. Each system has its own
// file (bench_system_posix.cpp); the benchmarks are built on Linux.
#pragma once

#include <cstdint>

namespace nadixq::bench {

// Processor time the calling thread has used so far, in seconds (user and
// system time, as getrusage reports it for the thread).
double ThreadCpuSeconds();

// A host's event handle of the kind the library signals: an eventfd on POSIX.
class HostEvent {
  public:
    HostEvent();
    ~HostEvent();
    HostEvent(const HostEvent&) = delete;
    HostEvent& operator=(const HostEvent&) = delete;

    bool Valid() const { return _value != 0; }
    // The handle as the library-wide state stores it.
    uintptr_t Value() const { return _value; }
    // Waits up to `timeoutMs` until the event is readable, then consumes its
    // signals and returns how many there were; 0 when none came in time.
    uint64_t Wait(uint32_t timeoutMs);

  private:
    uintptr_t _value = 0;
};

}  // namespace nadixq::bench
