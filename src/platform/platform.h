// The operating-system boundary of the library. Everything that differs between
// Windows and POSIX sits behind these declarations; src/platform/win32/ and
// src/platform/posix/ each implement all of them, and CMake compiles the one
// that fits the target. No other folder includes an operating-system header.
//
// Each operation says which thread calls it, what it may block on and what it
// returns. Unless stated, an operation may be called from any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

// printf-style argument checking where the compiler offers it.
#if defined(__GNUC__)
#define NADIXQ_PRINTF_FORMAT(format_index, first_argument) \
    __attribute__((format(printf, format_index, first_argument)))
#else
#define NADIXQ_PRINTF_FORMAT(format_index, first_argument)
#endif

namespace nadixq::platform {

// ---------------------------------------------------------------- events --
// Manual-reset events, unnamed, initially clear (Win32 event objects; on POSIX
// a flag each, under one mutex and condition variable that all events share).
// The worker thread and its host hand over through them.
using Event = void*;

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kWaitObject0 = 0;           // first (or only) event set
constexpr uint32_t kWaitTimeout = 258;         // WAIT_TIMEOUT
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;  // WAIT_FAILED

// Creates an event. Returns null when the system has no resources left.
Event CreateManualResetEvent();
// Closes an event; null is ignored. No thread may wait on it any more.
void CloseEvent(Event event);
// Sets or clears the event. Never blocks. False for a null event.
bool SetEvent(Event event);
bool ResetEvent(Event event);
// Waits until the event is set or `timeoutMs` passed (0 tests without waiting,
// kInfinite waits for ever). Returns kWaitObject0, kWaitTimeout or kWaitFailed.
uint32_t WaitForEvent(Event event, uint32_t timeoutMs);
// Waits until any of `count` events is set. Returns kWaitObject0 + the index of
// the lowest set event, kWaitTimeout or kWaitFailed.
uint32_t WaitForAnyEvent(const Event* events, uint32_t count, uint32_t timeoutMs);

// A host's event handle, as passed through the exports: a Win32 event handle on
// Windows, an eventfd descriptor on POSIX. 0 means none. Signalling is one set
// (Win32 SetEvent, or writing the 8-byte value `signals` to the eventfd, which
// counts them all at once; a Win32 event set many times in a row is one signal
// to its waiter anyway); it never blocks the caller for long and its failure
// is ignored.
void SignalHostEvent(uintptr_t hostEvent, uint32_t signals = 1);

// --------------------------------------------------------------- threads --
using Thread = void*;
using ThreadEntry = uint32_t (*)(void* argument);

// Creates a runnable thread that calls entry(argument); the entry's result is
// the thread's exit code. Returns null when the thread could not be created.
// The library stays in memory while the thread runs, whatever the host
// unloads meanwhile: on Windows the thread holds a reference on the module,
// taken here and given back as it ends (FreeLibraryAndExitThread), so the DLL
// leaves with the last of the host's and the thread's references; on POSIX,
// where a thread cannot give back its own reference safely, the first thread
// makes the shared object resident until the process exits.
Thread CreateThread(ThreadEntry entry, void* argument);
// Raises the thread above the normal threads: THREAD_PRIORITY_TIME_CRITICAL
// on Windows, the highest level of the normal priority classes; on POSIX the
// lowest priority of the SCHED_RR real-time policy, where the process may set
// it, otherwise nothing. Best effort.
void RaiseThreadPriority(Thread thread);
// Ends the thread by force, without waiting: the thread ends at its next
// PollSleep or TerminationPoint, the places where it holds no lock (POSIX: a
// deferred cancellation, taken only before or after the sleep itself, so a
// request that arrives mid-sleep waits for the sleep to finish; Windows: a
// user APC that cuts the alertable poll sleep short, rather than
// TerminateThread, which could stop it inside a lock). A thread that reaches
// neither is not ended.
void TerminateThread(Thread thread);
// Waits up to `timeoutMs` for the thread to have ended. True when it has.
bool WaitForThread(Thread thread, uint32_t timeoutMs);
// Releases the handle. A thread that is still running keeps running detached.
void CloseThread(Thread thread);
// The worker's poll sleep (5 ms in the scan loop). A point where
// TerminateThread may end the thread, on entry or on return. Blocks the
// calling thread.
void PollSleep(uint32_t milliseconds);
// The same point without the sleep, for a worker's loop that may run long
// without polling. Never blocks (Windows: an alertable yield).
void TerminationPoint();
// Plain sleep of the calling thread.
void Sleep(uint32_t milliseconds);

// ----------------------------------------------------------------- locks --
// A re-entrant lock (a critical section on Windows).
class RecursiveLock {
  public:
    RecursiveLock();
    ~RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void Enter();
    void Leave();

  private:
    void* _impl;
};

// Holds a RecursiveLock for a scope.
class LockGuard {
  public:
    explicit LockGuard(RecursiveLock& lock) : _lock(lock) { _lock.Enter(); }
    ~LockGuard() { _lock.Leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

  private:
    RecursiveLock& _lock;
};

// ---------------------------------------------------------- debug output --
// Sends one complete message (newline included) to the debugger channel in one
// call: OutputDebugStringA on Windows; on POSIX one datagram to the abstract
// Unix socket "nadixq-debug-<uid>", silently dropped when nobody listens.
// Never blocks and takes no lock, unless a sink is installed.
void DebugOutput(const char* message);

// An in-process receiver of every DebugOutput message, for tests. The sink is
// called on the emitting thread, in addition to the channel. Null removes it.
using DebugSink = void (*)(const char* message, void* context);
void SetDebugSink(DebugSink sink, void* context);

// The POSIX channel's socket name (without the leading NUL of the abstract
// namespace), for the debug viewer and tests.
const char* DebugChannelName();

// ---------------------------------------------------------------- clocks --
// Monotonic high-resolution counter and its ticks per second (0 when the
// platform has none). Never blocks.
int64_t QueryCounter();
int64_t QueryCounterFrequency();
// UTC system time in milliseconds since 1970: whole seconds times 1000 plus the
// millisecond part.
double WallClockMs();
// Local calendar time of `seconds` since 1970. False when it cannot convert.
bool LocalTime(int64_t seconds, std::tm* out);

// ----------------------------------------------------------------- files --
// Opens the log file `path` for text output, creating it when it is missing:
// appending with `append`, else truncated. Refuses (null, with the system
// error set) a path that names a symbolic link, dangling or not, or another
// reparse point, and anything but a regular file: a link planted under the
// log's name must not send the library's lines into another file (POSIX:
// O_NOFOLLOW; Windows: the reparse point is opened, not followed, and
// refused). Blocks on the disk.
std::FILE* OpenLogFile(const char* path, bool append);
// Commits a stream's operating-system buffers to the disk (after fflush).
// Returns true on success. Blocks on the disk.
bool CommitFile(std::FILE* file);
// Moves a stream's position to `offset` bytes from its start, or from its end
// with `fromEnd`. Positions are 64-bit on every build (POSIX fseeko with a
// 64-bit off_t, Windows _fseeki64: the runtime's fseek takes a long and fails
// past 2 GiB), so a file may grow past 4 GiB. True on success, otherwise the
// system error is set. Blocks on the disk.
bool SeekFile(std::FILE* file, int64_t offset, bool fromEnd = false);
// Removes `path` when it is a regular file of fewer than `size` bytes: what a
// failed creation left behind. Never a device, a link or a folder, so that a
// path such as /dev/full stays. True when it removed the file. Keeps the
// calling thread's last system error.
bool RemoveShortFile(const char* path, int64_t size);
// The calling thread's last system error code (GetLastError / errno).
uint32_t LastError();
void SetLastError(uint32_t error);
// The system's text for an error code as LastError returns it, on one line
// without a final full stop, cut to fit `size` bytes (terminator included).
void ErrorText(uint32_t error, char* text, size_t size);

// ------------------------------------------------------------ driver I/O --
// The board's kernel driver, as the operating system offers it. The device
// layer (src/device/driver_channel.h) puts its registry of in-process drivers
// in front of this.
struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

using SystemDevice = void*;
// Win32 INVALID_HANDLE_VALUE.
inline SystemDevice InvalidSystemDevice() {
    return reinterpret_cast<SystemDevice>(~uintptr_t{0});
}

// Finds member `memberIndex` of the device-interface class and opens it for
// reading and writing. Returns the handle, or InvalidSystemDevice() with
// *error set to the Win32 error of the failing step. Windows: SetupDi and
// CreateFileA. POSIX has no such drivers: always ERROR_NO_MORE_ITEMS (259).
// Host thread; may block on the system's device database.
SystemDevice OpenSystemDevice(const Guid& interfaceClass, uint32_t memberIndex, uint32_t* error);
// One synchronous DeviceIoControl request without OVERLAPPED. Returns true on
// success; on failure *error is the system error. Blocks until the driver
// answers.
bool SystemDeviceControl(SystemDevice device, uint32_t code, const void* in, uint32_t inSize,
                         void* out, uint32_t outSize, uint32_t* error);
// Closes the handle; failures are ignored.
void CloseSystemDevice(SystemDevice device);

// ---------------------------------------------------------------- loader --
// The loader's notification reasons (the DllMain values).
constexpr int kProcessDetach = 0;
constexpr int kProcessAttach = 1;
constexpr int kThreadAttach = 2;
constexpr int kThreadDetach = 3;
}  // namespace nadixq::platform

namespace nadixq {

// Implemented by the library core (src/interface), hence outside namespace
// platform: the platform's entry point (DllMain on Windows, load and unload of
// the shared object on POSIX) calls it with each notification, one of the
// platform::k*Attach/k*Detach reasons. Runs on the loader's thread.
void LoaderNotification(int reason);

}  // namespace nadixq
