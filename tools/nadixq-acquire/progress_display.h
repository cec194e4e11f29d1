// How the command shows a run: on a terminal, one progress bar redrawn in
// place with the per-file lines printed above it; otherwise plain lines only,
// so that logs and pipes get clean text.
#pragma once

#include <cstdio>
#include <string>

#include "terminal_output.h"

namespace acquire {

struct Progress {
    long scansDone = 0;  // scans done in the whole run
    int scansPerFile = 0;
    int filesDone = 0;
    int files = 0;  // 0: until Ctrl-C
    double elapsedSeconds = 0.0;
};

class CProgressDisplay {
  public:
    // The bar is drawn on a terminal only, within its width; `quiet`: print
    // nothing at all.
    CProgressDisplay(std::FILE* out, const TerminalOutput& terminal, bool quiet);

    // A line of its own (the run's header, a file, the end); the bar, if any,
    // is cleared first and redrawn by the next Update.
    void Line(const std::string& text);
    // Redraws the bar; does nothing when not live.
    void Update(const Progress& progress);
    // Clears the bar for good.
    void Finish();

    bool Live() const { return _live; }

  private:
    // Takes the bar off the line and leaves the cursor at its start.
    void ClearBar();

    std::FILE* _out;
    bool _live;
    bool _quiet;
    bool _eraseSequence;
    int _width;  // the longest bar line that does not wrap
    bool _barShown = false;
    size_t _barLength = 0;  // of the bar line on the screen
};

// The bar's line for `progress`, at most `width` characters long: the bar
// narrows first, then goes, and the text is cut last.
std::string ProgressLine(const Progress& progress, int width);

// "1:02.3" for 62.3 s; "--:--" when unknown (negative).
std::string FormatDuration(double seconds);

}  // namespace acquire
