// The processing calls on what a host really gets: a file of the simulated
// instrument, fetched through the exports, then baseline-corrected, searched
// for its ZPD and apodized.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "interface/nadixq.h"
#include "sim/nadixq_sim.h"

namespace {

constexpr int kPoints = 16384;

class ProcessingOnSimulatedFiles : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        nadixq_sim_reset();
        nadixq_sim_set_seed(77);
        _coaddFd = eventfd(0, EFD_NONBLOCK);
        ASSERT_GE(_coaddFd, 0);
        spectrometer_setCoaddCompleteEventHandle(
            reinterpret_cast<nadixq_handle>(static_cast<intptr_t>(_coaddFd)));
        spectrometer_setPoints(kPoints);
        spectrometer_setScans(2);
        spectrometer_setFiles(1);
    }

    void TearDown() override {
        spectrometer_stop();
        spectrometer_close();
        spectrometer_setCoaddCompleteEventHandle(nullptr);
        spectrometer_setPoints(16384);
        spectrometer_setScans(16);
        close(_coaddFd);
        nadixq_sim_reset();
    }

    // One file of `model`, as the host fetches it.
    std::vector<double> AcquireFile(int model) {
        std::vector<double> data(kPoints);
        EXPECT_EQ(spectrometer_open(model), 0);
        EXPECT_EQ(spectrometer_initialize(), 0);
        EXPECT_EQ(spectrometer_calibrationScan(), 0);
        EXPECT_EQ(spectrometer_startCoadd(), 0);
        pollfd entry{_coaddFd, POLLIN, 0};
        if (poll(&entry, 1, 30000) != 1) {
            ADD_FAILURE() << "no file within 30 s";
            return {};
        }
        double stamp = 0.0;
        EXPECT_EQ(spectrometer_getData(data.data(), kPoints, &stamp), 0);
        return data;
    }

    int _coaddFd = -1;
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
