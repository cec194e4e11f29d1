#include "acquisition/worker_thread.h"

namespace nadixq {

namespace {

bool IsSet(platform::Event event) {
    return platform::WaitForEvent(event, 0) == platform::kWaitObject0;
}

}  // namespace

CWorkerThread::CWorkerThread()
    : _startedEvent(platform::CreateManualResetEvent()),
      _startFailedEvent(platform::CreateManualResetEvent()),
      _killEvent(platform::CreateManualResetEvent()),
      _stoppedEvent(platform::CreateManualResetEvent()),
      _workEvent(platform::CreateManualResetEvent()) {}

// A derived class ends its thread in its own destructor, while the body's
// object still exists. What is left here is a thread that could not be ended
// at all (it never reached its poll sleep): its events and handle are leaked
// on purpose, because the thread may still set them, and freeing them would
// turn a stuck thread into memory corruption.
CWorkerThread::~CWorkerThread() {
    if (HasEnded(kStopWaitMs)) CloseHandles();
}

bool CWorkerThread::Start() {
    if (_startedEvent == nullptr || _startFailedEvent == nullptr || _killEvent == nullptr ||
        _stoppedEvent == nullptr || _workEvent == nullptr) {
        return false;
    }
    // Two bodies on one object would share every member; the old thread must be
    // gone before a new one may begin.
    if (!ReapPreviousThread()) return false;

    platform::ResetEvent(_startedEvent);
    platform::ResetEvent(_startFailedEvent);
    platform::ResetEvent(_killEvent);
    platform::ResetEvent(_stoppedEvent);
    platform::ResetEvent(_workEvent);

    _thread = platform::CreateThread(&CWorkerThread::Entry, this);
    if (_thread == nullptr) return false;
    platform::RaiseThreadPriority(_thread);

    const platform::Event started[2] = {_startedEvent, _startFailedEvent};
    if (platform::WaitForAnyEvent(started, 2, platform::kInfinite) != platform::kWaitObject0) {
        return false;
    }
    _running = true;
    return true;
}

void CWorkerThread::Stop() {
    if (_thread == nullptr) return;
    // Already gone (ended by itself and reaped, or terminated earlier): nothing
    // to ask and nothing to wait for.
    if (platform::WaitForThread(_thread, 0)) return;

    platform::SetEvent(_killEvent);
    if (platform::WaitForEvent(_stoppedEvent, kStopWaitMs) == platform::kWaitObject0) {
        // The body has only its return left; waiting for it means nothing of the
        // run still moves once Stop returns (the caller patches files next).
        platform::WaitForThread(_thread, kStopWaitMs);
        return;
    }
    platform::TerminateThread(_thread);
    // The thread ends at its next termination point, at most a poll away; one
    // that never gets there (stuck in a driver request) is not ended and
    // stays running.
    if (platform::WaitForThread(_thread, kTerminateWaitMs)) OnTerminated();
}

bool CWorkerThread::IsActive() {
    if (_thread == nullptr) return false;
    if (IsSet(_stoppedEvent) || IsSet(_startFailedEvent)) return false;
    return !platform::WaitForThread(_thread, 0);
}

bool CWorkerThread::HasEnded(uint32_t timeoutMs) {
    return _thread == nullptr || platform::WaitForThread(_thread, timeoutMs);
}

void CWorkerThread::CloseHandles() {
    platform::Event* events[] = {&_startedEvent, &_startFailedEvent, &_killEvent, &_stoppedEvent,
                                 &_workEvent};
    for (platform::Event* event : events) {
        if (*event != nullptr) {
            platform::CloseEvent(*event);
            *event = nullptr;
        }
    }
    if (_thread != nullptr) {
        platform::CloseThread(_thread);
        _thread = nullptr;
    }
}

uint32_t CWorkerThread::Entry(void* self) {
    return static_cast<CWorkerThread*>(self)->ThreadProc();
}

bool CWorkerThread::ReapPreviousThread() {
    if (_thread == nullptr) return true;
    // A body that reported its end (or its failed start) is about to return.
    uint32_t waitMs = (IsSet(_stoppedEvent) || IsSet(_startFailedEvent)) ? kStopWaitMs : 0;
    if (!platform::WaitForThread(_thread, waitMs)) return false;
    platform::CloseThread(_thread);
    _thread = nullptr;
    return true;
}

}  // namespace nadixq
