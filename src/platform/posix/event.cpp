// Manual-reset events on POSIX. All events share one mutex and one condition
// variable: events change rarely (start, stop, kill), and one shared pair makes
// waiting for any of several events as simple as waiting for one.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/platform.h"

namespace nadixq::platform {
namespace {

struct PosixEvent {
    bool set = false;
};

std::mutex& EventMutex() {
    static std::mutex mutex;
    return mutex;
}

std::condition_variable& EventChanged() {
    static std::condition_variable changed;
    return changed;
}

// Index of the lowest set event, or -1. Called with the mutex held.
int FirstSet(const Event* events, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (static_cast<PosixEvent*>(events[i])->set) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

Event CreateManualResetEvent() {
    return new (std::nothrow) PosixEvent;
}

void CloseEvent(Event event) {
    delete static_cast<PosixEvent*>(event);
}

bool SetEvent(Event event) {
    if (event == nullptr) return false;
    {
        std::lock_guard<std::mutex> lock(EventMutex());
        static_cast<PosixEvent*>(event)->set = true;
    }
    EventChanged().notify_all();
    return true;
}

bool ResetEvent(Event event) {
    if (event == nullptr) return false;
    std::lock_guard<std::mutex> lock(EventMutex());
    static_cast<PosixEvent*>(event)->set = false;
    return true;
}

uint32_t WaitForEvent(Event event, uint32_t timeoutMs) {
    return WaitForAnyEvent(&event, 1, timeoutMs);
}

uint32_t WaitForAnyEvent(const Event* events, uint32_t count, uint32_t timeoutMs) {
    if (events == nullptr || count == 0) return kWaitFailed;
    for (uint32_t i = 0; i < count; ++i) {
        if (events[i] == nullptr) return kWaitFailed;
    }
    std::unique_lock<std::mutex> lock(EventMutex());
    int index = FirstSet(events, count);
    if (index < 0 && timeoutMs != 0) {
        auto ready = [&] { return (index = FirstSet(events, count)) >= 0; };
        if (timeoutMs == kInfinite) {
            EventChanged().wait(lock, ready);
        } else {
            EventChanged().wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        }
    }
    return index < 0 ? kWaitTimeout : kWaitObject0 + static_cast<uint32_t>(index);
}

void SignalHostEvent(uintptr_t hostEvent, uint32_t signals) {
    if (hostEvent == 0 || signals == 0) return;
    const uint64_t one = signals;
    // An eventfd takes exactly 8 bytes; a counter at its limit refuses, which
    // only means the host has not read its earlier signals yet.
    ssize_t written = write(static_cast<int>(hostEvent), &one, sizeof one);
    (void)written;
}

}  // namespace nadixq::platform
