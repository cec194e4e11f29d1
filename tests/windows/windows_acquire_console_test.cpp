// nadixq-acquire.exe as a Windows user meets it: failures of the system
// described in the system's own words, and the progress bar in a console of
// 80 columns, which it must neither overflow nor leave debris in.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string CommandPath() {
    std::string path = NADIXQ_ACQUIRE_COMMAND;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string ReadText(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the command with its output in a file; returns its exit code.
int RunToFile(const std::string& arguments, std::string* output) {
    // cmd.exe drops the first and the last quote of its command line.
    const std::string command =
        "\"\"" + CommandPath() + "\" " + arguments + " > acquire-output.txt 2>&1\"";
    const int code = std::system(command.c_str());
    *output = ReadText("acquire-output.txt");
    return code;
}

// The system's message for a Win32 error, as the command is to quote it.
std::string SystemText(DWORD error) {
    char text[512];
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == ' ' || message.back() == '.' ||
                                message.back() == '\r' || message.back() == '\n')) {
        message.pop_back();
    }
    return message;
}

TEST(AcquireConsole, SystemFailuresAreDescribedInTheSystemsWords) {
    CreateDirectoryA("no-such-folder-here", nullptr);
    RemoveDirectoryA("no-such-folder-here");
    const struct {
        const char* out;
        DWORD error;
        const char* code;
    } cases[] = {
        {"no-such-folder-here\\run.spc", ERROR_PATH_NOT_FOUND, "(0x80070003)"},
        {"bad<name>.spc", ERROR_INVALID_NAME, "(0x8007007B)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        std::string output;
        EXPECT_NE(RunToFile(std::string("--files 1 --scans 1 --points 512 --out \"") + c.out + "\"",
                            &output),
                  0);
        const std::string expected = std::string("cannot create the stream file ") + c.out + ": " +
                                     SystemText(c.error) + " " + c.code;
        EXPECT_NE(output.find(expected), std::string::npos) << output;
    }
}

// The text of one row of the console's screen buffer, trailing blanks cut.
std::string ConsoleRow(HANDLE screen, SHORT row, SHORT width) {
    std::vector<char> text(static_cast<size_t>(width));
    DWORD read = 0;
    ReadConsoleOutputCharacterA(screen, text.data(), static_cast<DWORD>(width), COORD{0, row},
                                &read);
    std::string line(text.data(), read);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

TEST(AcquireConsole, ProgressBarFitsEightyColumnsAndLeavesNoDebris) {
    // A console of the process's own, 80 columns wide, that the command
    // inherits as its standard output. Wine draws a console in a window:
    // without a display (the test runs under xvfb-run where it is installed)
    // there is none.
    FreeConsole();
    if (!AllocConsole()) GTEST_SKIP() << "no console here (error " << GetLastError() << ")";
    HANDLE screen =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (screen == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(screen, &info)) {
        FreeConsole();
        GTEST_SKIP() << "no usable console here (no display?), error " << GetLastError();
    }
    const SHORT width = static_cast<SHORT>(info.srWindow.Right - info.srWindow.Left + 1);
    ASSERT_EQ(width, 80) << "the console's default width";

    // Many redraws, with file and scan counts of two digits: a bar line of 81
    // columns unless it is fitted.
    std::string command = "\"" + CommandPath() + "\" --files 12 --scans 10 --points 512";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process))
        << GetLastError();
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
    // Its exit code is not the point here: a machine under load may make the
    // simulated board miss a scan and the run end early, which the command
    // reports and fails; the screen is checked all the same.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
    std::vector<std::string> rows;
    for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
        rows.push_back(ConsoleRow(screen, row, width));
    }
    CloseHandle(screen);
    FreeConsole();

    std::string screenText;
    for (const std::string& row : rows) screenText += row + "\n";
    // The header, the file lines and the summary, each on a row of its
    // own: no bar left behind (a bar that wrapped leaves its first row), no
    // sequence shown as text.
    int fileLines = 0;
    for (const std::string& row : rows) {
        EXPECT_EQ(row.find('\x1b'), std::string::npos) << screenText;
        EXPECT_EQ(row.find("[K"), std::string::npos) << screenText;
        EXPECT_EQ(row.find("#"), std::string::npos) << screenText;
        EXPECT_EQ(row.find("scan "), std::string::npos) << screenText;
        if (row.rfind("file ", 0) == 0) ++fileLines;
    }
    EXPECT_GT(fileLines, 0) << screenText;
    EXPECT_NE(screenText.find("done: "), std::string::npos) << screenText;
}

}  // namespace
