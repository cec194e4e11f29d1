// Threads on Windows, and how a thread is ended by force.
//
// TerminateThread would stop a thread wherever it is. Stopped inside the log
// file's lock, a scan buffer's lock, the C runtime's stream lock or the heap,
// it would leave that lock held for ever and the next caller would hang;
// stopped inside a driver request, the request could complete later into a
// transfer buffer that close has freed meanwhile. So the forced end is done the
// way POSIX does it: a user APC marks the thread, the thread's alertable poll
// sleep wakes up at once, sees the mark and leaves with ExitThread(0) at that
// point, where it holds no lock and has no request outstanding. The library's
// worker only polls its kill event and sleeps in PollSleep, and passes
// TerminationPoint in its loop that does not poll, so a worker that ignores
// its kill event still ends within one poll. A thread that never gets there
// (blocked in a driver request that never returns) is not ended: the caller
// sees it still running and keeps its objects alive for it.
//
// A thread also holds a reference on the module whose code it runs (this DLL,
// or the program the library is linked into), taken before the thread exists
// and given back by FreeLibraryAndExitThread as the thread's very last act.
// A host that calls FreeLibrary during a run, without closing the instrument
// first, then only drops its own reference: the DLL stays mapped while its
// thread runs, a LoadLibrary gets the same instance back (the run, its
// settings and its instrument), and the DLL leaves when the last of the host
// and the thread lets go of it.
#include <new>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace nadixq::platform {
namespace {

struct StartBlock {
    ThreadEntry entry;
    void* argument;
    HMODULE module;  // the reference the thread gives back as it ends
};

// Set on a thread by the APC of TerminateThread; read only by that thread.
thread_local bool t_endRequested = false;
// The module reference of the running thread, for its way out.
thread_local HMODULE t_module = nullptr;

// Ends the calling thread of this layer. When the thread holds the last
// reference, the module is unloaded inside this call, after which no code of
// it runs: FreeLibraryAndExitThread returns into neither.
[[noreturn]] void LeaveThread(DWORD code) {
    HMODULE module = t_module;
    if (module != nullptr) ::FreeLibraryAndExitThread(module, code);
    ::ExitThread(code);
}

DWORD WINAPI ThreadStart(LPVOID raw);

// A counted reference on the module that holds this code.
HMODULE ReferenceOwnModule() {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&ThreadStart), &module)) {
        return nullptr;
    }
    return module;
}

// The platform's entry takes the C calling convention, Win32's the standard
// one (they differ on 32-bit Windows), hence this trampoline.
DWORD WINAPI ThreadStart(LPVOID raw) {
    StartBlock start = *static_cast<StartBlock*>(raw);
    delete static_cast<StartBlock*>(raw);
    t_module = start.module;
    LeaveThread(start.entry(start.argument));
}

void CALLBACK RequestEnd(ULONG_PTR) {
    t_endRequested = true;
}

bool HasEnded(HANDLE thread, DWORD timeoutMs) {
    return ::WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace

Thread CreateThread(ThreadEntry entry, void* argument) {
    if (entry == nullptr) return nullptr;
    // Taken here, on the caller's thread, so that no FreeLibrary between this
    // call and the thread's first instruction can unmap the code it starts in.
    // Without a reference (the system refused one) the thread still runs, as
    // it would have without this protection.
    HMODULE module = ReferenceOwnModule();
    HANDLE thread = nullptr;
    auto* start = new (std::nothrow) StartBlock;
    if (start != nullptr) {
        start->entry = entry;
        start->argument = argument;
        start->module = module;
        thread = ::CreateThread(nullptr, 0, &ThreadStart, start, 0, nullptr);
    }
    if (thread == nullptr) {
        delete start;
        if (module != nullptr) ::FreeLibrary(module);
    }
    return thread;
}

void RaiseThreadPriority(Thread thread) {
    if (thread != nullptr) ::SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
}

void TerminateThread(Thread thread) {
    // Like TerminateThread, this returns without waiting; the thread ends at
    // its next poll sleep, or at once if it sleeps there now.
    if (thread != nullptr && !HasEnded(thread, 0)) ::QueueUserAPC(&RequestEnd, thread, 0);
}

bool WaitForThread(Thread thread, uint32_t timeoutMs) {
    return thread == nullptr || HasEnded(thread, timeoutMs);
}

void CloseThread(Thread thread) {
    if (thread != nullptr) ::CloseHandle(thread);
}

void PollSleep(uint32_t milliseconds) {
    // Alertable: a pending end request runs its APC here and cuts the sleep
    // short. Any other APC only shortens one poll interval.
    if (!t_endRequested) ::SleepEx(milliseconds, TRUE);
    // The exit code of a forced end is 0. The frames above are left without
    // their destructors running, as with TerminateThread; the worker's body
    // keeps nothing there that needs one.
    if (t_endRequested) LeaveThread(0);
}

void TerminationPoint() {
    // A zero alertable sleep runs a queued end request's APC, or yields.
    PollSleep(0);
}

void Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

}  // namespace nadixq::platform
