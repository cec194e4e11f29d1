// The debugger channel on Windows is OutputDebugStringA: a debugger attached to
// the host (or a system-wide viewer) sees every line; without one a line costs
// next to nothing. The in-process sink serves tests.
#include <atomic>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace nadixq::platform {
namespace {

// A slim reader/writer lock needs no construction, so the sink works from the
// first line of the library, which the loader's attach notification emits.
SRWLOCK g_sinkLock = SRWLOCK_INIT;
std::atomic<bool> g_sinkInstalled{false};
DebugSink g_sink = nullptr;
void* g_sinkContext = nullptr;

}  // namespace

void DebugOutput(const char* message) {
    if (message == nullptr) return;
    ::OutputDebugStringA(message);
    if (g_sinkInstalled.load(std::memory_order_acquire)) {
        // Exclusive, so that a sink sees one message at a time, as on POSIX.
        ::AcquireSRWLockExclusive(&g_sinkLock);
        if (g_sink != nullptr) g_sink(message, g_sinkContext);
        ::ReleaseSRWLockExclusive(&g_sinkLock);
    }
}

void SetDebugSink(DebugSink sink, void* context) {
    ::AcquireSRWLockExclusive(&g_sinkLock);
    g_sink = sink;
    g_sinkContext = context;
    g_sinkInstalled.store(sink != nullptr, std::memory_order_release);
    ::ReleaseSRWLockExclusive(&g_sinkLock);
}

// Windows has no socket channel; viewers attach to OutputDebugString instead.
const char* DebugChannelName() {
    return "OutputDebugString";
}

}  // namespace nadixq::platform
