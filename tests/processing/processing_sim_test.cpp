// The processing calls on what a host really gets: a file of the simulated
// instrument, fetched through the exports, then baseline-corrected, searched
// for its ZPD and apodized.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "interface/nadixq.h"
#include "sim/nadixq_sim.h"
#include "support/host_event.h"
#include "support/host_settings_fixture.h"
#include "support/sim_install.h"

namespace {

constexpr int kPoints = 16384;

class ProcessingOnSimulatedFiles
    : public nadixq::test::HostSettingsFixture<::testing::TestWithParam<int>> {
  protected:
    void SetUp() override {
        nadixq_sim_reset();
        nadixq_sim_set_seed(77);
        ASSERT_TRUE(_coaddEvent.Valid());
        spectrometer_setCoaddCompleteEventHandle(_coaddEvent.Handle());
        spectrometer_setPoints(kPoints);
        spectrometer_setScans(2);
        spectrometer_setFiles(1);
    }

    void TearDown() override {
        spectrometer_stop();
        HostSettingsFixture::TearDown();
        nadixq_sim_reset();
    }

    // One file of `model`, as the host fetches it.
    std::vector<double> AcquireFile(int model) {
        std::vector<double> data(kPoints);
        EXPECT_EQ(spectrometer_open(model), 0);
        EXPECT_EQ(spectrometer_initialize(), 0);
        EXPECT_EQ(spectrometer_calibrationScan(), 0);
        EXPECT_EQ(spectrometer_startCoadd(), 0);
        if (_coaddEvent.Wait(30000) == 0) {
            ADD_FAILURE() << "no file within 30 s";
            return {};
        }
        double stamp = 0.0;
        EXPECT_EQ(spectrometer_getData(data.data(), kPoints, &stamp), 0);
        return data;
    }

    nadixq::test::SimulatedInstrument _simulator;
    nadixq::test::HostEvent _coaddEvent;
};

TEST_P(ProcessingOnSimulatedFiles, CorrectedFindsTheBurstAt256AndApodizes) {
    std::vector<double> ifg = AcquireFile(GetParam());
    ASSERT_EQ(ifg.size(), static_cast<size_t>(kPoints));

    ASSERT_EQ(BaselineCorrectIfg(ifg.data(), kPoints, 0), 1);
    const int z = FindZPD(ifg.data(), kPoints, 0, -1, -1);
    EXPECT_NEAR(z, 256, 2);
    EXPECT_EQ(FindZPD(ifg.data(), kPoints, 256, -1, -1), z);  // the hint agrees

    const std::vector<double> corrected = ifg;
    ASSERT_EQ(GaussianApodize(ifg.data(), kPoints, 2000.0), 1);
    EXPECT_EQ(ifg[z], corrected[z]);
    EXPECT_NEAR(ifg[z + 2000], corrected[z + 2000] * std::exp(-1.0),
                1e-12 * std::fabs(corrected[z + 2000]));
    // Far from the burst the window has taken the samples down by orders of
    // magnitude (from index 15000 on the weight is below 1e-23).
    double tailBefore = 0.0, tailAfter = 0.0;
    for (int i = 15000; i < kPoints; ++i) {
        tailBefore += std::fabs(corrected[i]);
        tailAfter += std::fabs(ifg[i]);
    }
    EXPECT_GT(tailBefore, 0.0);
    EXPECT_LT(tailAfter, tailBefore * 1e-15);
}

// A single-ADC board and a dual-ADC board (whose two channels are merged).
INSTANTIATE_TEST_SUITE_P(Models, ProcessingOnSimulatedFiles, ::testing::Values(1, 3));

}  // namespace
