#include "progress_display.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace acquire {
namespace {

constexpr int kBarWidth = 28;
// A bar narrower than this says nothing; the line goes without it.
constexpr int kNarrowestBar = 5;
// The narrowest line drawn, whatever width the terminal claims.
constexpr int kNarrowestLine = 20;

}  // namespace

std::string FormatDuration(double seconds) {
    if (!(seconds >= 0.0)) return "--:--";
    const long tenths = std::lround(seconds * 10.0);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld.%ld", tenths / 600, (tenths / 10) % 60,
                  tenths % 10);
    return text;
}

std::string ProgressLine(const Progress& p, int width) {
    // The bar shows the current file's scans; the text the whole run.
    const bool finished = p.files > 0 && p.filesDone >= p.files;
    long inFile = p.scansDone - static_cast<long>(p.filesDone) * p.scansPerFile;
    if (finished || inFile > p.scansPerFile) inFile = p.scansPerFile;
    if (inFile < 0) inFile = 0;

    const int currentFile = finished ? p.files : p.filesDone + 1;
    char files[48];
    if (p.files > 0) {
        std::snprintf(files, sizeof files, "file %d/%d", currentFile, p.files);
    } else {
        std::snprintf(files, sizeof files, "file %d", currentFile);
    }
    std::string remaining = "until Ctrl-C";
    if (p.files > 0) {
        const long total = static_cast<long>(p.files) * p.scansPerFile;
        const long done = std::min(p.scansDone, total);
        const double left =
            done > 0 ? p.elapsedSeconds * static_cast<double>(total - done) / done : -1.0;
        remaining = FormatDuration(left) + " left";
    }
    char tail[128];
    std::snprintf(tail, sizeof tail, "scan %ld/%d  %s elapsed, %s", inFile, p.scansPerFile,
                  FormatDuration(p.elapsedSeconds).c_str(), remaining.c_str());

    // "<files> [<bar>] <tail>", the bar as wide as the line allows.
    const int fixed = static_cast<int>(std::strlen(files) + std::strlen(tail)) + 4;
    const int barWidth = std::min(kBarWidth, width - fixed);
    std::string line = files;
    if (barWidth >= kNarrowestBar) {
        const int filled = static_cast<int>(inFile * barWidth / p.scansPerFile);
        line += " [";
        line.append(static_cast<size_t>(filled), '#');
        line.append(static_cast<size_t>(barWidth - filled), '-');
        line += "]";
    }
    line += " ";
    line += tail;
    if (width > 0 && line.size() > static_cast<size_t>(width)) line.resize(width);
    return line;
}

CProgressDisplay::CProgressDisplay(std::FILE* out, const TerminalOutput& terminal, bool quiet)
    : _out(out),
      _live(terminal.isTerminal && !quiet),
      _quiet(quiet),
      _eraseSequence(terminal.eraseSequence),
      // A console moves to the next line when its last column is written
      // (some at once, some at the next character): the bar keeps it free.
      _width(std::max(terminal.columns - 1, kNarrowestLine)) {}

void CProgressDisplay::ClearBar() {
    if (!_barShown) return;
    if (_eraseSequence) {
        std::fputs("\r\033[K", _out);
    } else {
        std::fprintf(_out, "\r%*s\r", static_cast<int>(_barLength), "");
    }
    _barShown = false;
    _barLength = 0;
}

void CProgressDisplay::Line(const std::string& text) {
    if (_quiet) return;
    ClearBar();
    std::fputs(text.c_str(), _out);
    std::fputc('\n', _out);
    std::fflush(_out);
}

void CProgressDisplay::Update(const Progress& p) {
    if (!_live || p.scansPerFile <= 0) return;
    const std::string line = ProgressLine(p, _width);
    if (_eraseSequence) {
        std::fprintf(_out, "\r\033[K%s", line.c_str());
    } else {
        // Without the erase sequence, spaces cover what a longer bar left.
        const size_t cover = _barShown && _barLength > line.size() ? _barLength - line.size() : 0;
        std::fprintf(_out, "\r%s%*s", line.c_str(), static_cast<int>(cover), "");
    }
    std::fflush(_out);
    _barShown = true;
    _barLength = std::max(line.size(), _barLength);
}

void CProgressDisplay::Finish() {
    ClearBar();
    std::fflush(_out);
}

}  // namespace acquire
