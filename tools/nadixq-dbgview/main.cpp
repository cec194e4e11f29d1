// nadixq-dbgview: shows the library's debugger trace on Linux. It binds the
// abstract datagram socket that the library sends each line to, and prints
// every line with the sender's pid and a local time stamp until Ctrl-C.
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "nadixq-dbgview/debug_listener.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

void PrintUsage() {
    std::printf(
        "usage: nadixq-dbgview [--count N]\n"
        "Prints the trace lines of every process using libnadixq under this user,\n"
        "with the sender's pid and the local time, until Ctrl-C (or N lines).\n");
}

}  // namespace

int main(int argc, char** argv) {
    long limit = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) {
            limit = std::strtol(argv[++i], nullptr, 10);
        } else {
            PrintUsage();
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }

    char name[64];
    std::snprintf(name, sizeof name, "nadixq-debug-%u", static_cast<unsigned>(getuid()));
    nadixq::dbgview::CDebugListener listener(name);
    if (!listener.Bound()) {
        std::fprintf(stderr,
                     "nadixq-dbgview: cannot listen on @%s: %s (is another viewer running?)\n",
                     name, std::strerror(listener.Error()));
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::fprintf(stderr, "nadixq-dbgview: listening on @%s (Ctrl-C to end)\n", name);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string text;
    pid_t pid = 0;
    while (!g_stop && limit != 0) {
        // A failure is a Ctrl-C's interruption or a transient error.
        if (!listener.Receive(&text, &pid)) continue;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        timeval now{};
        gettimeofday(&now, nullptr);
        std::tm local{};
        localtime_r(&now.tv_sec, &local);
        std::printf("%02d:%02d:%02d.%03ld [%ld] %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                    static_cast<long>(now.tv_usec / 1000), static_cast<long>(pid), text.c_str());
        if (limit > 0) --limit;
    }
    return 0;
}
