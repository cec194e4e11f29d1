// The acquisition command on a terminal: its progress bar, redrawn in place,
// stays within the terminal's width (one column short of it, so that the
// terminal never wraps), however wide the run's numbers get.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

namespace {

const std::string kTool = std::string(NADIXQ_TOOLS_DIR) + "/nadixq-acquire";

// Runs the command on a pseudo-terminal of `columns` columns until it has
// redrawn its bar a few dozen times, then interrupts it as Ctrl-C would;
// returns what it wrote there, or "" when it did not end.
std::string RunOnTerminal(const std::vector<std::string>& args, unsigned short columns) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(kTool.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    winsize size{};
    size.ws_col = columns;
    size.ws_row = 24;
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    if (pid < 0) return "";
    if (pid == 0) {
        execv(kTool.c_str(), argv.data());
        _exit(127);
    }
    std::string output;
    char buffer[4096];
    pollfd fd{terminal, POLLIN, 0};
    bool interrupted = false;
    // The terminal reports an error instead of an end once the command exited.
    while (poll(&fd, 1, 30000) > 0) {
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;
        output.append(buffer, static_cast<size_t>(n));
        if (!interrupted && std::count(output.begin(), output.end(), '\r') > 40) {
            kill(pid, SIGINT);
            interrupted = true;
        }
    }
    close(terminal);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return "";
    return output;
}

// The pieces the terminal shows on one line each: the text between carriage
// returns and line ends, with the erase-line sequence taken out.
std::vector<std::string> DrawnLines(std::string output) {
    for (size_t at; (at = output.find("\033[K")) != std::string::npos;) output.erase(at, 3);
    std::vector<std::string> lines;
    std::string line;
    for (char c : output) {
        if (c == '\r' || c == '\n') {
            if (!line.empty()) lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

TEST(AcquireTerminal, ProgressBarStaysWithinTheTerminalsWidth) {
    for (unsigned short columns : {80, 50}) {
        SCOPED_TRACE(columns);
        const std::string output =
            // The widest numbers a long run shows: file 100/999, scan 1000/9999.
            RunOnTerminal({"--files", "999", "--scans", "9999", "--points", "512"}, columns);
        ASSERT_FALSE(output.empty()) << "the command failed on the terminal";
        int bars = 0;
        for (const std::string& line : DrawnLines(output)) {
            if (line.find(" scan ") == std::string::npos) continue;
            ++bars;
            EXPECT_LT(line.size(), columns) << line;
            EXPECT_EQ(line.find('\033'), std::string::npos) << line;
        }
        EXPECT_GT(bars, 0) << output;
    }
}

}  // namespace
