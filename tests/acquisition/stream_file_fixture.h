// What the stream-file tests share: a recognisable interferogram per file and
// a reader that fails the test when the file does not parse.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/spc_reader.h"

namespace nadixq::test {

// 2024-03-15 12:34:56.789 UTC.
constexpr double kRunStartMs = 1710506096789.0;

inline std::vector<double> Interferogram(int points, int file) {
    std::vector<double> values(static_cast<size_t>(points));
    for (int i = 0; i < points; ++i) {
        values[i] = std::sin(i * 0.01 + file) * 1000.0 + file * 0.25;
    }
    return values;
}

inline SpcFile MustRead(const std::string& path) {
    SpcFile file;
    std::string error;
    EXPECT_TRUE(ReadSpcFile(path, &file, &error)) << path << ": " << error;
    return file;
}

}  // namespace nadixq::test
