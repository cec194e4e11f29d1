#include "interrupt_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace acquire {
namespace {

// The handler may only do async-signal-safe work: one write to the pipe.
volatile sig_atomic_t g_writeFd = -1;

void OnInterrupt(int) {
    const int saved = errno;
    const char byte = 1;
    if (g_writeFd >= 0) {
        ssize_t ignored = write(g_writeFd, &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

}  // namespace

CInterruptPipe::CInterruptPipe() {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
    _read = fds[0];
    _write = fds[1];
    g_writeFd = _write;
    struct sigaction action = {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

CInterruptPipe::~CInterruptPipe() {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    g_writeFd = -1;
    if (_read >= 0) close(_read);
    if (_write >= 0) close(_write);
}

bool CInterruptPipe::Interrupted() {
    char buffer[16];
    while (_read >= 0 && read(_read, buffer, sizeof buffer) > 0) _seen = true;
    return _seen;
}

}  // namespace acquire
