// Ctrl-C in a Windows console stops nadixq-acquire's continuous run cleanly:
// its console control handler ends the run, the stream file is completed, and
// the command exits with 0. The test gives itself a console of its own (the
// command shares it, which a control event needs), reads the command's output
// through a pipe until the first file is reported, and then sends Ctrl-C to
// every process of the console; its own handler swallows it.
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/spc_reader.h"

namespace {

BOOL WINAPI IgnoreControl(DWORD) {
    return TRUE;
}

std::string WindowsPath(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

TEST(AcquireInterrupt, CtrlCStopsAContinuousRunAndCompletesTheStreamFile) {
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    ASSERT_TRUE(SetConsoleCtrlHandler(&IgnoreControl, TRUE));
    std::remove("interrupted.spc");

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readOut = nullptr, writeOut = nullptr;
    ASSERT_TRUE(CreatePipe(&readOut, &writeOut, &inherit, 0));
    SetHandleInformation(readOut, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeOut;
    startup.hStdError = writeOut;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string command = "\"" + WindowsPath(NADIXQ_ACQUIRE_COMMAND) +
                          "\" --model 1 --points 1024 --scans 2 --files 0 --out interrupted.spc";
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &process))
        << GetLastError();
    CloseHandle(writeOut);

    // Everything the command prints, until its first file is reported.
    std::string output;
    char buffer[512];
    DWORD got = 0;
    while (output.find("file 1 ") == std::string::npos &&
           ReadFile(readOut, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        output.append(buffer, got);
    }
    ASSERT_NE(output.find("file 1 "), std::string::npos) << output;
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
    while (ReadFile(readOut, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        output.append(buffer, got);
    }
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readOut);
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_NE(output.find("stopped: "), std::string::npos) << output;

    nadixq::test::SpcFile file;
    std::string error;
    ASSERT_TRUE(nadixq::test::ReadSpcFile("interrupted.spc", &file, &error)) << error;
    EXPECT_GE(file.fnsub, 1u);
    EXPECT_EQ(file.subfiles.size(), file.fnsub);
    EXPECT_EQ(file.trailingBytes, 0u);
    EXPECT_EQ(file.fnpts, 1024u);
}

}  // namespace
