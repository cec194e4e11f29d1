#include "sim/nadixq_sim.h"
#include "simulator_controls.h"

namespace acquire {

bool ApplySimulatorOptions(const Options& o, std::string*) {
    if (o.simNoiseSet) nadixq_sim_set_noise(o.simNoise);
    if (o.simSeedSet) nadixq_sim_set_seed(o.simSeed);
    if (o.simRateSet) nadixq_sim_set_scan_rate(o.simRate, 0.0);
    if (o.simBoardTypeSet) nadixq_sim_set_board_type(o.simBoardType);
    if (o.simCalErrorSet) nadixq_sim_set_calibration_error(o.simCalError);
    if (o.simErrorAtScan > 0) nadixq_sim_error_at_scan(o.simErrorAtScan);
    if (o.simUnplug) nadixq_sim_unplug();
    if (o.simNoSample) nadixq_sim_set_sample_in_beam(0);
    return true;
}

}  // namespace acquire
