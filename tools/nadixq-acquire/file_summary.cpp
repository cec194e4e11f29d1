#include "file_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "interface/nadixq.h"
#include "local_time.h"

namespace acquire {

FileSummary SummariseFile(const double* data, int points, std::vector<double>* work) {
    FileSummary summary;
    if (points <= 0) return summary;
    work->assign(data, data + points);
    // The two-ended linear baseline needs its 32-point end windows; a very
    // short interferogram only gets its mean removed.
    BaselineCorrectIfg(work->data(), points, points >= 64 ? 0 : 1);
    const int zpd = FindZPD(work->data(), points, 0, -1, -1);
    summary.zpd = zpd >= 0 ? zpd : -1;
    const auto extremes = std::minmax_element(work->begin(), work->end());
    summary.peakToPeak = *extremes.second - *extremes.first;
    return summary;
}

std::string IsoLocalTime(double millisecondsSince1970) {
    const double whole = std::floor(millisecondsSince1970 / 1000.0);
    int millis = static_cast<int>(std::lround(millisecondsSince1970 - whole * 1000.0));
    time_t seconds = static_cast<time_t>(whole);
    if (millis >= 1000) {
        millis -= 1000;
        ++seconds;
    }
    std::tm local{};
    long offset = 0;  // minutes east of UTC
    if (!ToLocalTime(seconds, &local, &offset)) return "(no time)";
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    char text[96];
    std::snprintf(text, sizeof text, "%s.%03d%c%02ld:%02ld", date, millis, offset < 0 ? '-' : '+',
                  std::labs(offset) / 60, std::labs(offset) % 60);
    return text;
}

}  // namespace acquire
