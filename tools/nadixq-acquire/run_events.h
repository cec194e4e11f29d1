// What the command waits on during a run, the system's part of it: the two
// host events that the library signals (scan and file complete) and the
// user's interrupt (Ctrl-C), waited for together in one call. One
// implementation per system: eventfds, a self-pipe and SIGINT/SIGTERM on
// POSIX (run_events_posix.cpp); Win32 events and a console control handler
// on Windows (run_events_win32.cpp).
#pragma once

#include <memory>

#include "interface/nadixq.h"

namespace acquire {

class CRunEvents {
  public:
    // Creates the events and installs the interrupt handler. A second
    // interrupt falls back to the system's default action, so a stuck
    // program can still be ended.
    CRunEvents();
    ~CRunEvents();
    CRunEvents(const CRunEvents&) = delete;
    CRunEvents& operator=(const CRunEvents&) = delete;

    // False when the system had no events left; nothing else works then.
    bool Ready() const;
    // The handles for spectrometer_set{Scan,Coadd}CompleteEventHandle.
    nadixq_handle ScanHandle() const;
    nadixq_handle CoaddHandle() const;

    // Waits until a scan or a file is signalled, the user interrupts, or
    // `timeoutMs` has passed, whichever comes first.
    void Wait(int timeoutMs);
    // The scan signals since the last call, each counted once.
    long TakeScans();
    // Clears the file signals so far.
    void TakeFiles();
    // Whether an interrupt has arrived (it stays so).
    bool Interrupted();

  private:
    struct System;
    std::unique_ptr<System> _system;
};

}  // namespace acquire
