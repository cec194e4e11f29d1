// A fixture base for tests that drive the library through its exports. The
// library's settings are process-wide and outlive a test, so every such
// fixture ends by closing the instrument and putting back what the next test
// of the process expects to find: no host events and the start-up points,
// scans and files. Fixtures with more to undo override TearDown and call
// this one. Base is ::testing::Test or a ::testing::TestWithParam<T>.
#pragma once

#include <gtest/gtest.h>

#include "interface/nadixq.h"

namespace nadixq::test {

template <typename Base = ::testing::Test>
class HostSettingsFixture : public Base {
  protected:
    // The library's values at start-up.
    static constexpr int kStartPoints = 16384;
    static constexpr int kStartScans = 16;
    static constexpr int kStartFiles = 1;

    void TearDown() override {
        spectrometer_close();
        spectrometer_setScanCompleteEventHandle(nullptr);
        spectrometer_setCoaddCompleteEventHandle(nullptr);
        spectrometer_setPoints(kStartPoints);
        spectrometer_setScans(kStartScans);
        spectrometer_setFiles(kStartFiles);
    }
};

}  // namespace nadixq::test
