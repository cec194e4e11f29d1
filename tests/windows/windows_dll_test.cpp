// The DLL as a host process sees it, and its diagnostics as a person sees them:
// a debugger receives the loader's and the exports' lines through
// OutputDebugStringA, and the log file lands in the host's current directory.
//
// The debugged host is this program itself, started again with
// NADIXQ_DLL_CHILD=1 so that only DllChild.LoadCallUnload runs in it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/log_file.h"
#include "interface/nadixq.h"
#include "support/shared_library.h"

namespace {

constexpr const char* kChildVariable = "NADIXQ_DLL_CHILD";

// A thread routine has the system's calling convention (__stdcall on 32-bit
// Windows), which a lambda does not convert to.
DWORD WINAPI EmptyThread(LPVOID) {
    return 0;
}

bool IsChild() {
    const char* value = std::getenv(kChildVariable);
    return value != nullptr && std::string(value) == "1";
}

// The build's path of the DLL with Windows separators (Wine maps a path that
// starts at the root onto the current drive, which is the Unix file system).
std::string DllPath() {
    std::string path = NADIXQ_SHARED_LIBRARY;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

const char* const kPlainExports[] = {"spectrometer_setGain",
                                     "spectrometer_getGain",
                                     "spectrometer_setResolution",
                                     "spectrometer_getResolution",
                                     "spectrometer_setPoints",
                                     "spectrometer_getPoints",
                                     "spectrometer_setScans",
                                     "spectrometer_getScans",
                                     "spectrometer_setFiles",
                                     "spectrometer_getFiles",
                                     "spectrometer_setScanCompleteEventHandle",
                                     "spectrometer_setCoaddCompleteEventHandle",
                                     "spectrometer_getStatus",
                                     "spectrometer_getScanProgress",
                                     "spectrometer_getFileProgress",
                                     "spectrometer_execute",
                                     "spectrometer_open",
                                     "spectrometer_close",
                                     "spectrometer_initialize",
                                     "spectrometer_calibrationScan",
                                     "spectrometer_getCapabilities",
                                     "spectrometer_startCoadd",
                                     "spectrometer_stop",
                                     "spectrometer_getData",
                                     "spectrometer_getTimestamp",
                                     "spectrometer_streamToDisk",
                                     "spectrometer_writeFiber",
                                     "spectrometer_readFiber",
                                     "spectrometer_writeAux"};

// The processing functions keep their C++ names: the 32-bit DLL exports the
// names 32-bit Windows compilers give them, the 64-bit DLL its compiler's own.
// Runs in the debugged child: load the DLL, call through its exports, start a
// thread (attach and detach notifications), unload.
TEST(DllChild, LoadCallUnload) {
    if (!IsChild()) GTEST_SKIP() << "runs only as the debugged host";
    HMODULE library = LoadLibraryA(DllPath().c_str());
    ASSERT_NE(library, nullptr) << DllPath() << " error " << GetLastError();
    for (const char* name : kPlainExports) {
        EXPECT_NE(GetProcAddress(library, name), nullptr) << name;
    }
    const nadixq::test::ProcessingExportNames processing = nadixq::test::ProcessingExports();
    for (const char* name :
         {processing.findZpd, processing.baselineCorrectIfg, processing.gaussianApodize}) {
        EXPECT_NE(GetProcAddress(library, name), nullptr) << name;
    }

    using SetScans = int(NADIXQ_CALL*)(int);
    auto setScans = reinterpret_cast<SetScans>(
        reinterpret_cast<void*>(GetProcAddress(library, "spectrometer_setScans")));
    ASSERT_NE(setScans, nullptr);
    EXPECT_EQ(setScans(7), 7);

    HANDLE thread = CreateThread(nullptr, 0, EmptyThread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_TRUE(FreeLibrary(library));
}

// A minimal debugger: starts the child under debugging and collects every
// OutputDebugStringA text until the child exits.
struct DebugRun {
    std::vector<std::string> lines;
    DWORD exitCode = 0xFFFFFFFF;
    bool finished = false;
};

DebugRun RunChildUnderDebugger() {
    DebugRun run;
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --gtest_filter=DllChild.LoadCallUnload";
    SetEnvironmentVariableA(kChildVariable, "1");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL created = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE,
                                  DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    if (!created) return run;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    DEBUG_EVENT event{};
    while (!run.finished && std::chrono::steady_clock::now() < deadline &&
           WaitForDebugEvent(&event, 20000)) {
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            case OUTPUT_DEBUG_STRING_EVENT: {
                const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
                std::string text(info.nDebugStringLength, '\0');
                SIZE_T read = 0;
                ReadProcessMemory(process.hProcess, info.lpDebugStringData, text.data(),
                                  text.size(), &read);
                text.resize(read);
                if (!text.empty() && text.back() == '\0') text.pop_back();
                run.lines.push_back(text);
                break;
            }
            case EXCEPTION_DEBUG_EVENT:
                // The loader's initial breakpoint is the debugger's to swallow;
                // anything else is the child's own business.
                if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                    status = DBG_EXCEPTION_NOT_HANDLED;
                }
                break;
            case CREATE_PROCESS_DEBUG_EVENT:
                if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                run.exitCode = event.u.ExitProcess.dwExitCode;
                run.finished = true;
                break;
            default:
                break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    if (!run.finished) TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

std::vector<std::string> LibraryLines(const std::vector<std::string>& lines) {
    std::vector<std::string> mine;
    for (const auto& line : lines) {
        if (line.rfind("nadixq", 0) == 0) mine.push_back(line);
    }
    return mine;
}

TEST(DllTrace, DebuggerSeesTheLoaderAndExportLinesInOrder) {
    if (IsChild()) GTEST_SKIP();
    DebugRun run = RunChildUnderDebugger();
    ASSERT_TRUE(run.finished) << "the debugged host did not finish";
    EXPECT_EQ(run.exitCode, 0u);
    std::vector<std::string> lines = LibraryLines(run.lines);
    ASSERT_GE(lines.size(), 5u);
    // One call to the channel per line, each ending in its own newline.
    EXPECT_EQ(lines.front(), "nadixq: DLL PROCESS ATTACH\n");
    EXPECT_EQ(lines.back(), "nadixq: DLL PROCESS DETACH\n");
    auto position = [&](const std::string& text) {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] == text) return static_cast<int>(i);
        }
        return -1;
    };
    int call = position("nadixq setScans 7\n");
    int attach = position("nadixq: DLL THREAD ATTACH\n");
    int detach = position("nadixq: DLL THREAD DETACH\n");
    EXPECT_GT(call, 0);
    EXPECT_GT(attach, call);
    EXPECT_GT(detach, attach);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(DllLogFile, LandsInTheCurrentDirectoryWithTheSystemsLineEnd) {
    if (IsChild()) GTEST_SKIP();
    CreateDirectoryA("host_cwd", nullptr);
    DeleteFileA("host_cwd\\nadixq_log.txt");
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA("host_cwd"));
    int written = nadixq::TheLog().Write("windows log line %d", 1);
    SetCurrentDirectoryA(previous);

    EXPECT_EQ(written, 1);
    std::string text = ReadBytes("host_cwd\\nadixq_log.txt");
    ASSERT_FALSE(text.empty()) << "no nadixq_log.txt in the current directory";
    // "[MM-DD hh:mm:ss]  text" and the text mode's CR LF.
    ASSERT_GE(text.size(), 18u);
    EXPECT_EQ(text[0], '[');
    EXPECT_EQ(text.substr(15, 3), "]  ");
    EXPECT_EQ(text.substr(18), "windows log line 1\r\n");
    // Closed after the line: the file can be removed at once.
    EXPECT_TRUE(DeleteFileA("host_cwd\\nadixq_log.txt"));
}

}  // namespace
