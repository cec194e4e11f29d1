// nadixq-dbgview: shows the library's debugger trace on Linux. It binds the
// abstract datagram socket that the library sends each line to, and prints
// every line with the sender's pid and a local time stamp until Ctrl-C.
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

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
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("nadixq-dbgview: socket");
        return 1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    size_t length = std::strlen(name);
    std::memcpy(address.sun_path + 1, name, length);
    auto addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), addressLength) != 0) {
        std::fprintf(stderr,
                     "nadixq-dbgview: cannot listen on @%s: %s (is another viewer running?)\n",
                     name, std::strerror(errno));
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::fprintf(stderr, "nadixq-dbgview: listening on @%s (Ctrl-C to end)\n", name);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char text[4096];
    char control[CMSG_SPACE(sizeof(ucred))];
    while (!g_stop && limit != 0) {
        iovec part{text, sizeof text - 1};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t received = recvmsg(fd, &message, 0);
        if (received < 0) continue;  // interrupted by Ctrl-C, or a transient error
        text[received] = '\0';
        if (received > 0 && text[received - 1] == '\n') text[received - 1] = '\0';

        long pid = 0;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS) {
                ucred credentials{};
                std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
                pid = credentials.pid;
            }
        }
        timeval now{};
        gettimeofday(&now, nullptr);
        std::tm local{};
        localtime_r(&now.tv_sec, &local);
        std::printf("%02d:%02d:%02d.%03ld [%ld] %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                    static_cast<long>(now.tv_usec / 1000), pid, text);
        if (limit > 0) --limit;
    }
    close(fd);
    return 0;
}
