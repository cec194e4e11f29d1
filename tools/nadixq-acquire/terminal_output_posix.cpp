#include <sys/ioctl.h>
#include <unistd.h>

#include "terminal_output.h"

namespace acquire {

TerminalOutput StdoutTerminal() {
    TerminalOutput terminal;
    terminal.isTerminal = isatty(STDOUT_FILENO) == 1;
    // Every terminal emulator in use takes the ANSI erase-line sequence.
    terminal.eraseSequence = terminal.isTerminal;
    winsize size{};
    if (terminal.isTerminal && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        terminal.columns = size.ws_col;
    }
    return terminal;
}

}  // namespace acquire
