// The run's events on POSIX: an eventfd per host event (it counts every
// signal), and SIGINT/SIGTERM turned into a readable self-pipe, all waited
// for with one poll().
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>

#include "run_events.h"

namespace acquire {
namespace {

// The handler may only do async-signal-safe work: one write to the pipe.
volatile sig_atomic_t g_interruptFd = -1;

void OnInterrupt(int) {
    const int saved = errno;
    const char byte = 1;
    if (g_interruptFd >= 0) {
        ssize_t ignored = write(g_interruptFd, &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

// Reads and clears an eventfd's count.
uint64_t Drain(int fd) {
    uint64_t count = 0;
    return fd >= 0 && read(fd, &count, sizeof count) == sizeof count ? count : 0;
}

nadixq_handle AsHandle(int fd) {
    return reinterpret_cast<nadixq_handle>(static_cast<intptr_t>(fd));
}

}  // namespace

struct CRunEvents::System {
    int scan = -1;
    int coadd = -1;
    int interruptRead = -1;
    int interruptWrite = -1;
    bool interrupted = false;
};

CRunEvents::CRunEvents() : _system(std::make_unique<System>()) {
    _system->scan = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    _system->coadd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
    _system->interruptRead = fds[0];
    _system->interruptWrite = fds[1];
    g_interruptFd = fds[1];
    struct sigaction action = {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

CRunEvents::~CRunEvents() {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    g_interruptFd = -1;
    for (int fd :
         {_system->scan, _system->coadd, _system->interruptRead, _system->interruptWrite}) {
        if (fd >= 0) close(fd);
    }
}

bool CRunEvents::Ready() const {
    return _system->scan >= 0 && _system->coadd >= 0;
}

nadixq_handle CRunEvents::ScanHandle() const {
    return AsHandle(_system->scan);
}

nadixq_handle CRunEvents::CoaddHandle() const {
    return AsHandle(_system->coadd);
}

void CRunEvents::Wait(int timeoutMs) {
    pollfd fds[3] = {{_system->scan, POLLIN, 0},
                     {_system->coadd, POLLIN, 0},
                     {_system->interruptRead, POLLIN, 0}};
    poll(fds, _system->interruptRead >= 0 ? 3 : 2, timeoutMs);
}

long CRunEvents::TakeScans() {
    return static_cast<long>(Drain(_system->scan));
}

void CRunEvents::TakeFiles() {
    Drain(_system->coadd);
}

bool CRunEvents::Interrupted() {
    char buffer[16];
    while (_system->interruptRead >= 0 && read(_system->interruptRead, buffer, sizeof buffer) > 0) {
        _system->interrupted = true;
    }
    return _system->interrupted;
}

}  // namespace acquire
