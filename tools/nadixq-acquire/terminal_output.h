// What standard output is, as far as the progress bar cares: a terminal or
// not, whether it takes the erase-line sequence, and how wide it is. One
// implementation per system: isatty and the window size on POSIX; the
// console's mode, virtual-terminal processing and window on Windows.
#pragma once

namespace acquire {

struct TerminalOutput {
    bool isTerminal = false;     // a terminal the bar may be drawn on
    bool eraseSequence = false;  // "\r\033[K" clears the line
    int columns = 80;            // the visible width
};

// Asks the system; on Windows this also switches virtual-terminal processing
// on for the console, where the console has it.
TerminalOutput StdoutTerminal();

}  // namespace acquire
