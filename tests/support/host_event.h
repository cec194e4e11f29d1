// A host's event handle for tests, of the kind the exports take: an eventfd on
// POSIX, a Win32 event on Windows. The test hands Handle() to
// spectrometer_set...EventHandle (or Value() to the library-wide state) and
// waits on it like a host would.
//
// An eventfd counts every signal; a Win32 event is only set or clear, so
// signals that arrive before a wait coalesce into one. Tests state how many
// signals they expect through Seen(n), which is n where signals are counted
// and "at least one" (1) where they are not.
#pragma once

#include <cstdint>

#include "interface/nadixq.h"

namespace nadixq::test {

class HostEvent {
  public:
    HostEvent();  // clear; Valid() is false when the system had none left
    ~HostEvent();
    HostEvent(const HostEvent&) = delete;
    HostEvent& operator=(const HostEvent&) = delete;

    bool Valid() const { return _value != 0; }
    // The handle as spectrometer_setScanCompleteEventHandle and
    // spectrometer_setCoaddCompleteEventHandle take it.
    nadixq_handle Handle() const { return reinterpret_cast<nadixq_handle>(_value); }
    // The same handle as the library-wide state stores it.
    uintptr_t Value() const { return _value; }

    // Waits up to `timeoutMs` for a signal, then consumes every signal so far.
    // Returns how many (see Seen); 0 when none came in time.
    uint64_t Wait(uint32_t timeoutMs);
    // Consumes the signals so far without waiting.
    uint64_t Take() { return Wait(0); }

    // True where each signal is counted (eventfd).
    static bool CountsSignals();
    // What Wait or Take returns after `signals` signals.
    static uint64_t Seen(uint64_t signals) { return CountsSignals() || signals == 0 ? signals : 1; }

  private:
    uintptr_t _value = 0;
};

}  // namespace nadixq::test
