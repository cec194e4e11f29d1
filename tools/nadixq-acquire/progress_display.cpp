#include "progress_display.h"

#include <algorithm>
#include <cmath>

namespace acquire {
namespace {

constexpr int kBarWidth = 28;

}  // namespace

std::string FormatDuration(double seconds) {
    if (!(seconds >= 0.0)) return "--:--";
    const long tenths = std::lround(seconds * 10.0);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld.%ld", tenths / 600, (tenths / 10) % 60,
                  tenths % 10);
    return text;
}

CProgressDisplay::CProgressDisplay(std::FILE* out, bool live, bool quiet)
    : _out(out), _live(live && !quiet), _quiet(quiet) {}

void CProgressDisplay::Line(const std::string& text) {
    if (_quiet) return;
    if (_barShown) std::fputs("\r\033[K", _out);
    _barShown = false;
    std::fputs(text.c_str(), _out);
    std::fputc('\n', _out);
    std::fflush(_out);
}

void CProgressDisplay::Update(const Progress& p) {
    if (!_live || p.scansPerFile <= 0) return;
    // The bar shows the current file's scans; the text the whole run.
    const bool finished = p.files > 0 && p.filesDone >= p.files;
    long inFile = p.scansDone - static_cast<long>(p.filesDone) * p.scansPerFile;
    if (finished || inFile > p.scansPerFile) inFile = p.scansPerFile;
    if (inFile < 0) inFile = 0;
    const int filled = static_cast<int>(inFile * kBarWidth / p.scansPerFile);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '-');

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
    std::fprintf(_out, "\r\033[K%s [%s] scan %ld/%d  %s elapsed, %s", files, bar.c_str(), inFile,
                 p.scansPerFile, FormatDuration(p.elapsedSeconds).c_str(), remaining.c_str());
    std::fflush(_out);
    _barShown = true;
}

void CProgressDisplay::Finish() {
    if (_barShown) std::fputs("\r\033[K", _out);
    _barShown = false;
    std::fflush(_out);
}

}  // namespace acquire
