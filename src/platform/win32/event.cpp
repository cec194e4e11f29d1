// Manual-reset events on Windows are kernel event objects; the platform's
// Event is the event's HANDLE itself.
#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace nadixq::platform {
namespace {

static_assert(kWaitObject0 == WAIT_OBJECT_0, "wait results are Win32's");
static_assert(kWaitTimeout == WAIT_TIMEOUT, "wait results are Win32's");
static_assert(kWaitFailed == WAIT_FAILED, "wait results are Win32's");
static_assert(kInfinite == INFINITE, "the endless time-out is Win32's");

// Keeps the results to the three that callers know. WAIT_ABANDONED only
// exists for mutexes, and WAIT_IO_COMPLETION only for alertable waits; neither
// can come from these waits, but if one did it is no success.
uint32_t Known(DWORD result, DWORD count) {
    if (result == WAIT_TIMEOUT) return kWaitTimeout;
    if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count) return result;
    return kWaitFailed;
}

}  // namespace

Event CreateManualResetEvent() {
    return ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void CloseEvent(Event event) {
    if (event != nullptr) ::CloseHandle(event);
}

bool SetEvent(Event event) {
    return event != nullptr && ::SetEvent(event) != FALSE;
}

bool ResetEvent(Event event) {
    return event != nullptr && ::ResetEvent(event) != FALSE;
}

uint32_t WaitForEvent(Event event, uint32_t timeoutMs) {
    if (event == nullptr) return kWaitFailed;
    return Known(::WaitForSingleObject(event, timeoutMs), 1);
}

uint32_t WaitForAnyEvent(const Event* events, uint32_t count, uint32_t timeoutMs) {
    if (events == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
    for (uint32_t i = 0; i < count; ++i) {
        if (events[i] == nullptr) return kWaitFailed;
    }
    // Win32 reports the lowest index among the set events, as callers expect.
    return Known(::WaitForMultipleObjects(count, events, FALSE, timeoutMs), count);
}

void SignalHostEvent(uintptr_t hostEvent, uint32_t signals) {
    if (hostEvent == 0 || signals == 0) return;
    // The host owns the handle; a handle it closed meanwhile only fails here.
    ::SetEvent(reinterpret_cast<HANDLE>(hostEvent));
}

}  // namespace nadixq::platform
