// The acquisition command against the simulated instrument, run as a child
// process the way a user runs it: a counted run that streams and exports,
// a bad model, a run that a board failure ends early, Ctrl-C during a
// continuous run, and a bad command line.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/spc_reader.h"

namespace {

using nadixq::test::ReadSpcFile;
using nadixq::test::SpcFile;

const std::string kTool = std::string(NADIXQ_TOOLS_DIR) + "/nadixq-acquire";

// A running nadixq-acquire with its output on pipes.
class Child {
  public:
    explicit Child(const std::vector<std::string>& args) {
        // Everything the child needs is ready before the fork: between fork
        // and exec only async-signal-safe calls are allowed.
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(kTool.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        _pid = fork();
        if (_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            close(out[0]);
            close(err[0]);
            execv(kTool.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        _out = out[0];
        _err = err[0];
    }
    ~Child() {
        if (_pid > 0 && !_reaped) {
            kill(_pid, SIGKILL);
            waitpid(_pid, nullptr, 0);
        }
        if (_out >= 0) close(_out);
        if (_err >= 0) close(_err);
    }

    // Reads output until stdout contains `text` or the time runs out.
    bool WaitForOutput(const std::string& text, int timeoutMs = 20000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Stdout().find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || !ReadSome(static_cast<int>(left))) return false;
        }
        return true;
    }

    void Signal(int signal) { kill(_pid, signal); }

    // Reads everything and waits for the exit; the exit code, or -1.
    int Finish() {
        while (ReadSome(30000)) {
        }
        int status = 0;
        if (waitpid(_pid, &status, 0) != _pid) return -1;
        _reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& Stdout() const { return _stdout; }
    const std::string& Stderr() const { return _stderr; }

  private:
    // One round of reading; false once both pipes are closed or on time-out.
    bool ReadSome(int timeoutMs) {
        pollfd fds[2] = {{_out, POLLIN, 0}, {_err, POLLIN, 0}};
        if (_out < 0 && _err < 0) return false;
        if (poll(fds, 2, timeoutMs) <= 0) return false;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) continue;
            int& fd = i == 0 ? _out : _err;
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? _stdout : _stderr).append(buffer, static_cast<size_t>(n));
            } else {
                close(fd);
                fd = -1;
            }
        }
        return true;
    }

    pid_t _pid = -1;
    int _out = -1;
    int _err = -1;
    bool _reaped = false;
    std::string _stdout;
    std::string _stderr;
};

int Count(const std::string& text, const std::regex& pattern) {
    return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), pattern),
                                          std::sregex_iterator()));
}

TEST(AcquireTool, CountedRunStreamsEveryFileAndExportsTheLast) {
    std::remove("run.spc");
    std::remove("last.csv");
    Child child({"--model", "2", "--files", "3", "--scans", "3", "--points", "1024", "--out",
                 "run.spc", "--csv", "last.csv", "--sim-seed", "5"});
    ASSERT_EQ(child.Finish(), 0) << child.Stderr();
    EXPECT_EQ(child.Stderr(), "");
    // One line per file, with its local time stamp, the ZPD next to index 256
    // and the peak-to-peak amplitude.
    const std::regex fileLine(
        R"(file [123]/3  \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d  ZPD 25[4-8]  p-p \d+\.\d)");
    EXPECT_EQ(Count(child.Stdout(), fileLine), 3) << child.Stdout();
    EXPECT_NE(child.Stdout().find("done: 3 files"), std::string::npos);

    SpcFile spc;
    std::string error;
    ASSERT_TRUE(ReadSpcFile("run.spc", &spc, &error)) << error;
    EXPECT_EQ(spc.fnpts, 1024u);
    ASSERT_EQ(spc.subfiles.size(), 3u);
    EXPECT_EQ(spc.trailingBytes, 0u);

    // The CSV holds the last file, the same values as its subfile (as floats).
    std::ifstream csv("last.csv");
    std::string line;
    ASSERT_TRUE(std::getline(csv, line));
    EXPECT_EQ(line, "index,value");
    int rows = 0;
    while (std::getline(csv, line)) {
        int index = 0;
        double value = 0.0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d,%lf", &index, &value), 2) << line;
        ASSERT_EQ(index, rows);
        ASSERT_FLOAT_EQ(static_cast<float>(value), spc.subfiles[2].values[rows]) << rows;
        ++rows;
    }
    EXPECT_EQ(rows, 1024);
}

TEST(AcquireTool, BadModelNamesTheResultCode) {
    Child child({"--model", "7"});
    EXPECT_EQ(child.Finish(), 1);
    EXPECT_EQ(child.Stderr(), "nadixq-acquire: no board class for model 7 (0x80070011)\n");
}

TEST(AcquireTool, CalibrationFailureNamesTheResultCode) {
    Child child({"--model", "1", "--sim-cal-error", "2"});
    EXPECT_EQ(child.Finish(), 1);
    EXPECT_EQ(child.Stderr(),
              "nadixq-acquire: calibration: the calibration failed with error 2 (0x80070008)\n");
}

TEST(AcquireTool, BoardFailureEndsTheRunEarlyAndFails) {
    Child child({"--model", "3", "--files", "3", "--scans", "2", "--points", "1024",
                 "--sim-error-at-scan", "4"});
    EXPECT_EQ(child.Finish(), 1);
    EXPECT_NE(child.Stderr().find("the run ended early: the board delivered 3 of 6 scans"),
              std::string::npos)
        << child.Stderr();
    // File 2 holds the one scan that came before the failure; file 3 none.
    EXPECT_NE(child.Stdout().find("(1 of 2 scans)"), std::string::npos) << child.Stdout();
    EXPECT_NE(child.Stdout().find("file 3/3  no scans"), std::string::npos) << child.Stdout();
}

TEST(AcquireTool, CtrlCStopsAContinuousRunAndLeavesAValidFile) {
    std::remove("continuous.spc");
    Child child({"--model", "5", "--files", "0", "--scans", "2", "--points", "1024", "--out",
                 "continuous.spc"});
    ASSERT_TRUE(child.WaitForOutput("file 2  ")) << child.Stdout() << child.Stderr();
    child.Signal(SIGINT);
    EXPECT_EQ(child.Finish(), 0) << child.Stderr();
    EXPECT_NE(child.Stdout().find("stopped: "), std::string::npos) << child.Stdout();

    SpcFile spc;
    std::string error;
    ASSERT_TRUE(ReadSpcFile("continuous.spc", &spc, &error)) << error;
    EXPECT_GE(spc.subfiles.size(), 2u);
    EXPECT_EQ(spc.trailingBytes, 0u);
}

TEST(AcquireTool, BadCommandLineIsAUsageError) {
    Child child({"--scans", "0"});
    EXPECT_EQ(child.Finish(), 2);
    EXPECT_NE(child.Stderr().find("bad value for --scans: 0"), std::string::npos);
    Child both({"--points", "1024", "--resolution", "4"});
    EXPECT_EQ(both.Finish(), 2);
}

}  // namespace
