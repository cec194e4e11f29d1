#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "acquisition/run_counters.h"
#include "interface/library_state.h"
#include "interface/nadixq.h"
#include "support/trace_capture.h"

namespace {

using nadixq::PointsForResolution;
using nadixq::test::TraceCapture;

// Runs first in this process: the state as the library starts.
TEST(Settings, DefaultsBeforeAnyOpen) {
    EXPECT_EQ(spectrometer_getStatus(), 1);
    EXPECT_EQ(spectrometer_getPoints(), 16384);
    EXPECT_EQ(spectrometer_getScans(), 16);
    EXPECT_EQ(spectrometer_getFiles(), 1);
    EXPECT_EQ(spectrometer_getGain(), 1.0);
    EXPECT_EQ(spectrometer_getResolution(), 1.0);
    EXPECT_EQ(spectrometer_getScanProgress(), 0);
    EXPECT_EQ(spectrometer_getFileProgress(), 0);
}

TEST(Settings, ResolutionTableBoundsBelongToTheFinerRow) {
    EXPECT_EQ(PointsForResolution(16.5), 512);
    EXPECT_EQ(PointsForResolution(16.0), 1024);
    EXPECT_EQ(PointsForResolution(8.0001), 1024);
    EXPECT_EQ(PointsForResolution(8.0), 2048);
    EXPECT_EQ(PointsForResolution(4.0), 4096);
    EXPECT_EQ(PointsForResolution(2.0), 8192);
    EXPECT_EQ(PointsForResolution(1.0), 16384);
    EXPECT_EQ(PointsForResolution(0.5000001), 16384);
    EXPECT_EQ(PointsForResolution(0.5), 30000);
    EXPECT_EQ(PointsForResolution(0.0), 30000);
    EXPECT_EQ(PointsForResolution(-4.0), 30000);
    EXPECT_EQ(PointsForResolution(std::numeric_limits<double>::quiet_NaN()), 30000);
    EXPECT_EQ(PointsForResolution(std::numeric_limits<double>::infinity()), 512);
    EXPECT_EQ(PointsForResolution(-std::numeric_limits<double>::infinity()), 30000);
}

TEST(Settings, FinestResolutionIsSeenAs32768) {
    EXPECT_EQ(spectrometer_setResolution(0.5), 0.5);
    EXPECT_EQ(spectrometer_getPoints(), 32768);
    EXPECT_EQ(nadixq::State()._points, 30000);
    EXPECT_EQ(spectrometer_setResolution(16.0), 16.0);
    EXPECT_EQ(spectrometer_getPoints(), 1024);
    EXPECT_EQ(spectrometer_setPoints(30000), 30000);
    EXPECT_EQ(spectrometer_getPoints(), 32768);
    // Points do not move the resolution.
    EXPECT_EQ(spectrometer_getResolution(), 16.0);
    EXPECT_EQ(spectrometer_setPoints(4096), 4096);
    EXPECT_EQ(spectrometer_getPoints(), 4096);
}

TEST(Settings, SettersStoreAnyValueAndTraceIt) {
    TraceCapture trace;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::isnan(spectrometer_setGain(nan)));
    EXPECT_TRUE(std::isnan(spectrometer_getGain()));
    EXPECT_EQ(spectrometer_setGain(2.0), 2.0);
    EXPECT_TRUE(std::isnan(spectrometer_setResolution(nan)));
    EXPECT_EQ(spectrometer_getPoints(), 32768);
    EXPECT_EQ(spectrometer_setResolution(-std::numeric_limits<double>::infinity()),
              -std::numeric_limits<double>::infinity());
    EXPECT_EQ(spectrometer_setScans(-7), -7);
    EXPECT_EQ(spectrometer_getScans(), -7);
    EXPECT_EQ(spectrometer_setFiles(-3), -3);
    EXPECT_EQ(spectrometer_getFiles(), -3);
    EXPECT_EQ(spectrometer_setPoints(-1), -1);
    EXPECT_EQ(spectrometer_getPoints(), -1);
    EXPECT_EQ(spectrometer_execute(12345), 0);

    auto texts = trace.Texts();
    ASSERT_EQ(texts.size(), 7u);  // execute leaves no line
    EXPECT_EQ(texts[0], "nadixq setGain nan");
    EXPECT_EQ(texts[1], "nadixq setGain 2.000000");
    EXPECT_EQ(texts[2], "nadixq setResolution nan");
    EXPECT_EQ(texts[3], "nadixq setResolution -inf");
    EXPECT_EQ(texts[4], "nadixq setScans -7");
    EXPECT_EQ(texts[5], "nadixq setFiles -3");
    EXPECT_EQ(texts[6], "nadixq setPoints -1");
    spectrometer_setScans(16);
    spectrometer_setFiles(1);
    spectrometer_setPoints(16384);
    spectrometer_setGain(1.0);
}

TEST(Settings, EventHandlesAreStoredAndNullSwitchesOff) {
    TraceCapture trace;
    EXPECT_EQ(spectrometer_setScanCompleteEventHandle(reinterpret_cast<nadixq_handle>(42)), 0);
    EXPECT_EQ(spectrometer_setCoaddCompleteEventHandle(reinterpret_cast<nadixq_handle>(7)), 0);
    EXPECT_EQ(nadixq::Counters().scanCompleteEvent.load(), 42u);
    EXPECT_EQ(nadixq::Counters().coaddCompleteEvent.load(), 7u);
    EXPECT_EQ(spectrometer_setScanCompleteEventHandle(nullptr), 0);
    EXPECT_EQ(spectrometer_setCoaddCompleteEventHandle(nullptr), 0);
    EXPECT_EQ(nadixq::Counters().scanCompleteEvent.load(), 0u);
    auto texts = trace.Texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "nadixq setScanCompleteEventHandle 42");
    EXPECT_EQ(texts[1], "nadixq setCoaddCompleteEventHandle 7");
    EXPECT_EQ(texts[2], "nadixq setScanCompleteEventHandle 0");
}

}  // namespace
