// The debugger channel as a person's viewer sees it: a separate host process
// sends its lines as datagrams to the abstract socket, where this test listens.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

class DebugSocket {
  public:
    DebugSocket() {
        _fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(_fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
        timeval timeout{0, 200000};
        setsockopt(_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const char* name = nadixq::platform::DebugChannelName();
        std::memcpy(address.sun_path + 1, name, std::strlen(name));
        auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + std::strlen(name));
        _bound = bind(_fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    }
    ~DebugSocket() { close(_fd); }
    bool bound() const { return _bound; }

    // Receives while the child runs and until nothing more arrives after it
    // ended; keeps the messages of `pid`. Sets *exitStatus.
    std::vector<std::string> ReceiveFrom(pid_t pid, int* exitStatus) {
        std::vector<std::string> lines;
        int quiet = 0;
        bool ended = false;
        // The child's lines are all queued once it has ended; other processes
        // of the user may keep the channel busy, so the draining is bounded.
        std::chrono::steady_clock::time_point drained{};
        while (!ended || (quiet < 3 && std::chrono::steady_clock::now() < drained)) {
            if (!ended && waitpid(pid, exitStatus, WNOHANG) == pid) {
                ended = true;
                drained = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            }
            char text[2048];
            char control[CMSG_SPACE(sizeof(ucred))];
            iovec part{text, sizeof text};
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            ssize_t received = recvmsg(_fd, &message, 0);
            if (received < 0) {
                ++quiet;
                continue;
            }
            quiet = 0;
            ucred credentials{};
            cmsghdr* header = CMSG_FIRSTHDR(&message);
            if (header != nullptr && header->cmsg_type == SCM_CREDENTIALS) {
                std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
            }
            if (credentials.pid == pid) lines.emplace_back(text, static_cast<size_t>(received));
        }
        return lines;
    }

  private:
    int _fd = -1;
    bool _bound = false;
};

pid_t RunHost(const char* path, const std::vector<std::string>& arguments) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(path)};
        for (auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execv(path, argv.data());
        _exit(127);
    }
    return pid;
}

TEST(DebugChannel, HostLinesArriveAsOneDatagramEachWithLoadAndUnload) {
    DebugSocket socket;
    if (!socket.bound()) GTEST_SKIP() << "another viewer listens on the debug channel";
    const std::string host = std::string(NADIXQ_TEST_BINARY_DIR) + "/hosts/settings_host";
    pid_t pid = RunHost(host.c_str(), {"2", "0.5", "8", "3"});
    ASSERT_GT(pid, 0);
    int status = 0;
    auto lines = socket.ReceiveFrom(pid, &status);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<std::string> expected{"nadixq: DLL PROCESS ATTACH\n",
                                      "nadixq setGain 2.000000\n",
                                      "nadixq setResolution 0.500000\n",
                                      "nadixq setScans 8\n",
                                      "nadixq setFiles 3\n",
                                      "nadixq: DLL PROCESS DETACH\n"};
    EXPECT_EQ(lines, expected);
}

TEST(DebugChannel, HostThatNeverUnloadsStillSendsTheDetachLine) {
    // The library is unloaded during the exit, after its static destructors:
    // the detach line must find the channel still open.
    DebugSocket socket;
    if (!socket.bound()) GTEST_SKIP() << "another viewer listens on the debug channel";
    const std::string host = std::string(NADIXQ_TEST_BINARY_DIR) + "/hosts/late_binding_posix_host";
    pid_t pid = RunHost(host.c_str(), {NADIXQ_SHARED_LIBRARY});
    ASSERT_GT(pid, 0);
    int status = 0;
    auto lines = socket.ReceiveFrom(pid, &status);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"nadixq: DLL PROCESS ATTACH\n", "nadixq setScans 7\n",
                                        "nadixq: DLL PROCESS DETACH\n"}));
}

}  // namespace
