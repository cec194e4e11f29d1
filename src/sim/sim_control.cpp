// The C control functions of the simulated board (nadixq_sim.h); each one
// forwards to the process's one board and catches nothing, since none throws.
#include "sim/nadixq_sim.h"
#include "sim/sim_board.h"

using nadixq::sim::TheSimBoard;

extern "C" {

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_reset(void) {
    TheSimBoard().Reset();
}

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_board_type(int type) {
    TheSimBoard().SetBoardType(type);
}

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_scan_rate(double samplesPerSecond,
                                                             double turnaroundMs) {
    TheSimBoard().SetScanRate(samplesPerSecond, turnaroundMs);
}

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_noise(double sigmaCounts) {
    TheSimBoard().SetNoise(sigmaCounts);
}

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_seed(uint64_t seed) {
    TheSimBoard().SetSeed(seed);
}

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_calibration_error(int errorvalue) {
    TheSimBoard().SetCalibrationError(errorvalue);
}

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_fail_request(uint32_t code, int afterCalls,
                                                            uint32_t error, int times) {
    TheSimBoard().FailRequest(code, afterCalls, error, times);
}

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_error_at_scan(int n) {
    TheSimBoard().ErrorAtScan(n);
}

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_sample_in_beam(int inBeam) {
    TheSimBoard().SetSampleInBeam(inBeam != 0);
}

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_unplug(void) {
    TheSimBoard().Unplug();
}

NADIXQ_SIM_API int NADIXQ_SIM_CALL nadixq_sim_scan_count(void) {
    return TheSimBoard().ScanCount();
}

NADIXQ_SIM_API int NADIXQ_SIM_CALL nadixq_sim_imax_pos(void) {
    return TheSimBoard().ImaxPos();
}

NADIXQ_SIM_API unsigned NADIXQ_SIM_CALL nadixq_sim_aux_state(void) {
    return TheSimBoard().AuxState();
}

NADIXQ_SIM_API int NADIXQ_SIM_CALL nadixq_sim_last_transfer(int channel, int16_t* samples,
                                                            int count) {
    return TheSimBoard().LastTransfer(channel, samples, count);
}

NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_transfer_hook(nadixq_sim_transfer_hook hook,
                                                                 void* context) {
    TheSimBoard().SetTransferHook(hook, context);
}

}  // extern "C"
