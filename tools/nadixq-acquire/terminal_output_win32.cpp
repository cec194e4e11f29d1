#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "terminal_output.h"

namespace acquire {
namespace {

constexpr DWORD kVirtualTerminalProcessing = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING

// Whether the console really acts on escape sequences. A console may accept
// the mode and still print the sequence as text (Wine's does), so the probe
// writes an erase-line sequence, which moves the cursor only where it is
// shown as text, and removes what it showed.
bool ConsoleActsOnSequences(HANDLE out) {
    CONSOLE_SCREEN_BUFFER_INFO before{};
    if (!GetConsoleScreenBufferInfo(out, &before)) return false;
    DWORD written = 0;
    if (!WriteConsoleA(out, "\x1b[K", 3, &written, nullptr)) return false;
    CONSOLE_SCREEN_BUFFER_INFO after{};
    if (!GetConsoleScreenBufferInfo(out, &after)) return false;
    if (after.dwCursorPosition.X == before.dwCursorPosition.X &&
        after.dwCursorPosition.Y == before.dwCursorPosition.Y) {
        return true;
    }
    SetConsoleCursorPosition(out, before.dwCursorPosition);
    WriteConsoleA(out, "   ", 3, &written, nullptr);
    SetConsoleCursorPosition(out, before.dwCursorPosition);
    return false;
}

}  // namespace

TerminalOutput StdoutTerminal() {
    TerminalOutput terminal;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    // A pipe or a file is no console: plain lines.
    if (out == nullptr || out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) {
        return terminal;
    }
    terminal.isTerminal = true;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(out, &info)) {
        const int visible = info.srWindow.Right - info.srWindow.Left + 1;
        if (visible > 0) terminal.columns = visible;
    }
    // Consoles before Windows 10 refuse the mode; the bar is then redrawn
    // with a carriage return and spaces.
    terminal.eraseSequence = ((mode & kVirtualTerminalProcessing) != 0 ||
                              SetConsoleMode(out, mode | kVirtualTerminalProcessing)) &&
                             ConsoleActsOnSequences(out);
    return terminal;
}

}  // namespace acquire
