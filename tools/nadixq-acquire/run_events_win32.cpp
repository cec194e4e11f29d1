// The run's events on Windows: auto-reset Win32 events for the library to
// set, and a console control handler for Ctrl-C, Ctrl-Break and closing the
// console window.
//
// A Win32 event is only set or clear, so signals that come before a wait
// merge into one. The command needs the number of scans (to tell which file
// the newest data belongs to when a run is cut short), so a thread of its own
// waits on the scan event and counts: the library signals at most one scan
// per 5 ms poll, and the counting thread, waiting at a high priority, is back
// at its wait long before the next.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <initializer_list>

#include "run_events.h"

namespace acquire {
namespace {

// The handler runs on a thread of its own that the system creates.
HANDLE g_interruptEvent = nullptr;
std::atomic<int> g_interrupts{0};

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    // The first one stops the run; a second one ends the program the
    // system's way.
    if (g_interrupts.fetch_add(1) > 0 || g_interruptEvent == nullptr) return FALSE;
    SetEvent(g_interruptEvent);
    return TRUE;
}

HANDLE AutoResetEvent() {
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

}  // namespace

struct CRunEvents::System {
    HANDLE scan = AutoResetEvent();     // set by the library, per scan
    HANDLE coadd = AutoResetEvent();    // set by the library, per file
    HANDLE counted = AutoResetEvent();  // set by the counter, per scan counted
    HANDLE quit = AutoResetEvent();     // ends the counter
    HANDLE interrupt = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE counter = nullptr;
    std::atomic<long> scans{0};

    static DWORD WINAPI Count(LPVOID self) {
        auto* system = static_cast<System*>(self);
        const HANDLE events[2] = {system->quit, system->scan};
        while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            system->scans.fetch_add(1);
            SetEvent(system->counted);
        }
        return 0;
    }
};

CRunEvents::CRunEvents() : _system(std::make_unique<System>()) {
    if (!Ready() || _system->interrupt == nullptr) return;
    _system->counter = CreateThread(nullptr, 0, &System::Count, _system.get(), 0, nullptr);
    if (_system->counter != nullptr) SetThreadPriority(_system->counter, THREAD_PRIORITY_HIGHEST);
    g_interrupts.store(0);
    g_interruptEvent = _system->interrupt;
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

CRunEvents::~CRunEvents() {
    SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
    g_interruptEvent = nullptr;
    if (_system->counter != nullptr) {
        SetEvent(_system->quit);
        WaitForSingleObject(_system->counter, INFINITE);
        CloseHandle(_system->counter);
    }
    for (HANDLE h :
         {_system->scan, _system->coadd, _system->counted, _system->quit, _system->interrupt}) {
        if (h != nullptr) CloseHandle(h);
    }
}

bool CRunEvents::Ready() const {
    return _system->scan != nullptr && _system->coadd != nullptr && _system->counted != nullptr &&
           _system->quit != nullptr;
}

nadixq_handle CRunEvents::ScanHandle() const {
    return _system->scan;
}

nadixq_handle CRunEvents::CoaddHandle() const {
    return _system->coadd;
}

void CRunEvents::Wait(int timeoutMs) {
    // The file event is auto-reset: the wait that sees it consumes it, which
    // is all TakeFiles would do.
    const HANDLE events[3] = {_system->counted, _system->coadd, _system->interrupt};
    WaitForMultipleObjects(_system->interrupt != nullptr ? 3 : 2, events, FALSE,
                           static_cast<DWORD>(timeoutMs));
}

long CRunEvents::TakeScans() {
    // A signal the counter has not taken yet is counted here instead: the
    // event is auto-reset, so exactly one of the two waits consumes it.
    if (WaitForSingleObject(_system->scan, 0) == WAIT_OBJECT_0) _system->scans.fetch_add(1);
    return _system->scans.exchange(0);
}

void CRunEvents::TakeFiles() {
    WaitForSingleObject(_system->coadd, 0);
}

bool CRunEvents::Interrupted() {
    return _system->interrupt != nullptr &&
           WaitForSingleObject(_system->interrupt, 0) == WAIT_OBJECT_0;
}

}  // namespace acquire
