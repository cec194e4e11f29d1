// A host process killed mid-run keeps every file it completed: the stream
// file is a valid SPC file at every file boundary, not only after the stop.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/spc_reader.h"

namespace {

using nadixq::test::ReadSpcFile;
using nadixq::test::SpcFile;

constexpr const char* kHost = NADIXQ_TEST_BINARY_DIR "/hosts/stream_kill_posix_host";

// The host as a child process whose stdout the test reads line by line.
class HostProcess {
  public:
    HostProcess(const std::string& path, int points) {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) return;
        _pid = fork();
        if (_pid == 0) {
            dup2(pipeEnds[1], STDOUT_FILENO);
            close(pipeEnds[0]);
            close(pipeEnds[1]);
            const std::string pointsText = std::to_string(points);
            execl(kHost, kHost, path.c_str(), pointsText.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeEnds[1]);
        _out = pipeEnds[0];
    }
    ~HostProcess() {
        if (_pid > 0 && !_reaped) {
            kill(_pid, SIGKILL);
            waitpid(_pid, nullptr, 0);
        }
        if (_out >= 0) close(_out);
    }

    // The next line of output, or "" when the host ended or said nothing for
    // a long time.
    std::string NextLine() {
        std::string line;
        for (;;) {
            pollfd ready{_out, POLLIN, 0};
            if (poll(&ready, 1, 20000) != 1) return "";
            char c;
            if (read(_out, &c, 1) != 1) return "";
            if (c == '\n') return line;
            line.push_back(c);
        }
    }
    // Kills the host without warning and returns its wait status.
    int Kill() {
        kill(_pid, SIGKILL);
        int status = 0;
        waitpid(_pid, &status, 0);
        _reaped = true;
        return status;
    }

  private:
    pid_t _pid = -1;
    int _out = -1;
    bool _reaped = false;
};

TEST(StreamKillTest, EveryFileCompletedBeforeTheKillIsReadable) {
    const std::string path = "killed_run.spc";
    constexpr int kPoints = 2048;
    HostProcess host(path, kPoints);
    ASSERT_EQ(host.NextLine(), "started");

    int reported = 0;
    while (reported < 3) {
        const std::string line = host.NextLine();
        ASSERT_EQ(line.rfind("files ", 0), 0u) << "host said: '" << line << "'";
        reported = std::stoi(line.substr(6));
    }
    const int status = host.Kill();
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(WTERMSIG(status), SIGKILL);

    SpcFile file;
    std::string error;
    ASSERT_TRUE(ReadSpcFile(path, &file, &error)) << error;
    EXPECT_EQ(file.fnpts, static_cast<uint32_t>(kPoints));
    // Files may have completed between the report and the kill, but never
    // fewer than were reported, and the count matches the subfiles present.
    EXPECT_GE(file.fnsub, static_cast<uint32_t>(reported));
    EXPECT_LT(file.trailingBytes, 32u + 4u * kPoints);
    for (size_t n = 0; n < file.subfiles.size(); ++n) {
        EXPECT_EQ(file.subfiles[n].subindx, n);
        EXPECT_EQ(file.subfiles[n].subexp, 0x80);
    }
}

}  // namespace
