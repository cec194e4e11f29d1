// What the benchmarks need from the operating system. Each system has its own
// file (bench_system_posix.cpp); the benchmarks are built on Linux.
#pragma once

namespace nadixq::bench {

// Processor time the calling thread has used so far, in seconds (user and
// system time, as getrusage reports it for the thread).
double ThreadCpuSeconds();

}  // namespace nadixq::bench
