// The library's background thread: one operating-system thread per run, five
// manual-reset events to hand over between the thread and its host, a bounded
// stop with forced termination as the last resort.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace nadixq {

class CWorkerThread {
  public:
    // How long Stop waits for the body to end by itself before forcing it.
    static constexpr uint32_t kStopWaitMs = 5000;
    // How long Stop then gives a forced end to take the thread. The body
    // reaches a termination point within one poll; so Stop returns within
    // kStopWaitMs + kTerminateWaitMs whatever the body does.
    static constexpr uint32_t kTerminateWaitMs = 500;

    CWorkerThread();
    // Waits for a thread that may still run before releasing the handles; a
    // thread that cannot be ended keeps them (see the .cpp).
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Resets the events, creates the thread at a raised priority and waits
    // until its body set the started (true) or the start-failed event (false).
    // Refuses (false) while an earlier thread of this object is still running.
    // Host thread.
    virtual bool Start();
    // The thread's body; its result is the thread's exit code. Must set
    // _startedEvent (or _startFailedEvent) first and _stoppedEvent last.
    virtual uint32_t ThreadProc() = 0;

    // Sets the kill event and waits up to kStopWaitMs for the stopped event;
    // terminates the thread when it does not come, and waits up to
    // kTerminateWaitMs for it to end. Does nothing when the object was never
    // started. Host thread.
    void Stop();
    // True once a Start succeeded; stays true after the run ended.
    bool IsRunning() const { return _running; }
    // True while a started thread has neither reported its end nor ended.
    bool IsActive();
    // True when no thread exists or the last one has ended.
    bool HasEnded(uint32_t timeoutMs = 0);
    // Closes the events and the thread handle. Only safe once the thread ended.
    void CloseHandles();

  protected:
    // Called by Stop after it had to end the thread by force, once the thread
    // is gone: the body did not get to its own clean-up.
    virtual void OnTerminated() {}

    platform::Thread _thread = nullptr;
    platform::Event _startedEvent = nullptr;
    platform::Event _startFailedEvent = nullptr;
    platform::Event _killEvent = nullptr;
    platform::Event _stoppedEvent = nullptr;
    // Kept for the board interface; nothing in the library sets or waits on it.
    platform::Event _workEvent = nullptr;
    platform::RecursiveLock _lock;
    // Host thread only: written by Start, read by Stop and the exports.
    bool _running = false;

  private:
    static uint32_t Entry(void* self);
    bool ReapPreviousThread();
};

}  // namespace nadixq
