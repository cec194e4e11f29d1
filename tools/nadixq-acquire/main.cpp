// nadixq-acquire: runs one acquisition on the instrument through the library's
// public exports and reports every file. On a machine without the board's
// driver the library's simulated instrument answers, so the command doubles
// as a demonstration.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "acquisition_run.h"
#include "interrupt_pipe.h"
#include "options.h"
#include "progress_display.h"

int main(int argc, char** argv) {
    acquire::Options options;
    std::string error;
    if (!acquire::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "nadixq-acquire: %s (try --help)\n", error.c_str());
        return acquire::kExitUsage;
    }
    if (options.help) {
        std::fputs(acquire::UsageText(), stdout);
        return acquire::kExitOk;
    }

    const bool terminal = isatty(STDOUT_FILENO) == 1;
    // Lines reach a pipe or a log as they happen, not at exit.
    if (!terminal) std::setvbuf(stdout, nullptr, _IOLBF, 0);
    acquire::CInterruptPipe interrupt;
    acquire::CProgressDisplay display(stdout, terminal, options.quiet);
    return acquire::RunAcquisition(options, display, interrupt);
}
