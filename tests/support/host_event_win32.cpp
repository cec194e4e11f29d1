#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "support/host_event.h"

namespace nadixq::test {

HostEvent::HostEvent() {
    // Auto-reset: the wait that sees the event also clears it, as a host's
    // wait for "the next file" would.
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event != nullptr) _value = reinterpret_cast<uintptr_t>(event);
}

HostEvent::~HostEvent() {
    if (Valid()) CloseHandle(reinterpret_cast<HANDLE>(_value));
}

uint64_t HostEvent::Wait(uint32_t timeoutMs) {
    if (!Valid()) return 0;
    return WaitForSingleObject(reinterpret_cast<HANDLE>(_value), timeoutMs) == WAIT_OBJECT_0 ? 1
                                                                                             : 0;
}

bool HostEvent::CountsSignals() {
    return false;
}

}  // namespace nadixq::test
