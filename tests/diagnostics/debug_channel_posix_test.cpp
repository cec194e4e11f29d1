// The debugger channel as a person's viewer sees it: a separate host process
// sends its lines as datagrams to the abstract socket, where this test listens.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "nadixq-dbgview/debug_listener.h"
#include "platform/platform.h"

namespace {

// The viewer's own listener, with a short receive time-out so that the test
// notices when the channel has gone quiet.
class DebugSocket {
  public:
    DebugSocket() : _listener(nadixq::platform::DebugChannelName(), 200) {}
    bool bound() const { return _listener.Bound(); }

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
            std::string text;
            pid_t sender = 0;
            if (!_listener.Receive(&text, &sender)) {
                ++quiet;
                continue;
            }
            quiet = 0;
            if (sender == pid) lines.push_back(std::move(text));
        }
        return lines;
    }

  private:
    nadixq::dbgview::CDebugListener _listener;
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
