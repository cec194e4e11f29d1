// nadixq-acquire: runs one acquisition on the instrument through the library's
// public exports and reports every file. On a machine without the board's
// driver the library's simulated instrument answers, so the command doubles
// as a demonstration.
#include <cstdio>
#include <string>

#include "acquisition_run.h"
#include "options.h"
#include "progress_display.h"
#include "run_events.h"
#include "terminal_output.h"

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

    // The display flushes every line, so lines reach a pipe or a log as they
    // happen, not at exit.
    acquire::CRunEvents events;
    acquire::CProgressDisplay display(stdout, acquire::StdoutTerminal(), options.quiet);
    return acquire::RunAcquisition(options, display, events);
}
