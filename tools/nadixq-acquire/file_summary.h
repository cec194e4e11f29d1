// What the command tells about one finished file: its time stamp in local
// ISO 8601, and the zero-path-difference index and peak-to-peak amplitude of
// the baseline-corrected interferogram.
#pragma once

#include <string>
#include <vector>

namespace acquire {

struct FileSummary {
    int zpd = -1;  // -1: not found
    double peakToPeak = 0.0;
};

// `work` is scratch space of at least `points` values; `data` is not changed.
FileSummary SummariseFile(const double* data, int points, std::vector<double>* work);

// Milliseconds since 1970 as local time, e.g. "2024-05-01T14:03:07.412+02:00".
std::string IsoLocalTime(double millisecondsSince1970);

}  // namespace acquire
