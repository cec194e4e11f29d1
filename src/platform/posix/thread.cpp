// Threads on POSIX. A thread runs with cancellation disabled except in
// TerminationPoint (also around PollSleep), so that a forced termination can
// only end it there, where it holds no lock and is not half-way through a
// store. The handle and the thread share their state, so either may be
// released first.
//
// A thread runs the library's code, so the library must stay mapped while it
// runs, even when the host dlcloses it during a run without closing the
// instrument first. POSIX has no FreeLibraryAndExitThread: a thread that
// gives back its own reference with dlclose would return into unmapped code.
// So the first thread the library starts makes the library resident for the
// rest of the process (a second dlopen of itself with RTLD_NODELETE): a host
// that unloads during a run survives, a later dlopen gets the same instance
// back (the run, its settings and its instrument), and a host that never ran
// an acquisition still unloads the library completely.
#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/platform.h"

namespace nadixq::platform {
namespace {

struct ThreadState {
    ThreadEntry entry = nullptr;
    void* argument = nullptr;
    pthread_t id{};
    std::mutex mutex;
    std::condition_variable endedChanged;
    bool ended = false;
    bool reaped = false;  // joined or detached
};

// Marks the thread as ended on every way out of its routine, including the
// unwinding of a cancellation.
class EndMarker {
  public:
    explicit EndMarker(std::shared_ptr<ThreadState> state) : _state(std::move(state)) {}
    ~EndMarker() {
        {
            std::lock_guard<std::mutex> lock(_state->mutex);
            _state->ended = true;
        }
        _state->endedChanged.notify_all();
    }

  private:
    std::shared_ptr<ThreadState> _state;
};

void* ThreadRoutine(void* raw) {
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, nullptr);
    std::unique_ptr<std::shared_ptr<ThreadState>> owner(
        static_cast<std::shared_ptr<ThreadState>*>(raw));
    EndMarker marker(*owner);
    ThreadState& state = **owner;
    uint32_t code = state.entry(state.argument);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(code));
}

struct ThreadHandle {
    std::shared_ptr<ThreadState> state;
};

ThreadState& StateOf(Thread thread) {
    return *static_cast<ThreadHandle*>(thread)->state;
}

void MakeLibraryResident() {
    static std::once_flag once;
    std::call_once(once, [] {
        Dl_info self{};
        if (dladdr(reinterpret_cast<void*>(&ThreadRoutine), &self) == 0 ||
            self.dli_fname == nullptr) {
            return;
        }
        // RTLD_NOLOAD: only the object already in memory; in a program that
        // has the library linked in there is none to pin, and no need to.
        // The handle is kept for ever: closing it would only drop the count.
        dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    });
}

void SleepFor(uint32_t milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0) request = remaining;
}

}  // namespace

Thread CreateThread(ThreadEntry entry, void* argument) {
    // Before the thread exists, so that no dlclose can come between.
    MakeLibraryResident();
    auto handle = std::make_unique<ThreadHandle>();
    handle->state = std::make_shared<ThreadState>();
    handle->state->entry = entry;
    handle->state->argument = argument;
    auto* threadOwner = new std::shared_ptr<ThreadState>(handle->state);
    if (pthread_create(&handle->state->id, nullptr, ThreadRoutine, threadOwner) != 0) {
        delete threadOwner;
        return nullptr;
    }
    return handle.release();
}

// The lowest real-time priority: above every thread of the normal policy, so
// that the 5 ms poll keeps its pace on a busy machine, and below every other
// real-time thread, the kernel's own (interrupt threads at 50, watchdogs and
// migration at 99) and those of audio or control software. A scan thread that
// ran away there could still not hold off the kernel, and the kernel's
// real-time throttling leaves the normal threads their share.
void RaiseThreadPriority(Thread thread) {
    if (thread == nullptr) return;
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    // Refused without the privilege; the thread then keeps the normal policy.
    pthread_setschedparam(StateOf(thread).id, SCHED_RR, &param);
}

void TerminateThread(Thread thread) {
    if (thread == nullptr) return;
    ThreadState& state = StateOf(thread);
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.ended && !state.reaped) pthread_cancel(state.id);
}

bool WaitForThread(Thread thread, uint32_t timeoutMs) {
    if (thread == nullptr) return true;
    ThreadState& state = StateOf(thread);
    std::unique_lock<std::mutex> lock(state.mutex);
    auto ended = [&] { return state.ended; };
    if (timeoutMs == kInfinite) {
        state.endedChanged.wait(lock, ended);
    } else if (!state.endedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended)) {
        return false;
    }
    if (!state.reaped) {
        state.reaped = true;
        lock.unlock();
        pthread_join(state.id, nullptr);
    }
    return true;
}

void CloseThread(Thread thread) {
    if (thread == nullptr) return;
    auto* handle = static_cast<ThreadHandle*>(thread);
    ThreadState& state = *handle->state;
    std::unique_lock<std::mutex> lock(state.mutex);
    if (!state.reaped) {
        state.reaped = true;
        bool ended = state.ended;
        lock.unlock();
        if (ended) {
            pthread_join(state.id, nullptr);
        } else {
            pthread_detach(state.id);
        }
    } else {
        lock.unlock();
    }
    delete handle;
}

// The cancellation is acted on only in pthread_testcancel, never inside the
// sleep itself: a thread cancelled inside an intercepted system call leaves the
// thread sanitizer blind to its last locks. A pending request waits at most one
// sleep, and is taken on the way out.
void PollSleep(uint32_t milliseconds) {
    TerminationPoint();
    SleepFor(milliseconds);
    TerminationPoint();
}

// The one cancellation point of a thread: cancellation is enabled only here.
void TerminationPoint() {
    int previous = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous);
    pthread_testcancel();
    pthread_setcancelstate(previous, nullptr);
}

void Sleep(uint32_t milliseconds) {
    SleepFor(milliseconds);
}

}  // namespace nadixq::platform
