/*
 * Control of the simulated instrument that stands in for the board's kernel
 * driver where there is none: built into the POSIX library (Linux), and into
 * the simulator build of the Windows DLL (configured with -DNADIXQ_SIM=ON),
 * where it answers only when Windows finds no board. It answers both driver
 * interfaces, so spectrometer_open(1..5) works without hardware.
 *
 * These functions set how the simulated board behaves and read back what it
 * delivered, for tests, demonstrations and the acquisition command's --sim-*
 * options. The POSIX library and the simulator DLL export them under these
 * plain names; the production Windows DLL has neither the simulated
 * instrument nor these functions. They use the calling convention of the rest
 * of the library (NADIXQ_CALL: __stdcall on 32-bit Windows, the callee
 * removes the arguments), and so does the transfer hook. All are safe to call
 * from any thread at any time, also while a run is going, and accept any
 * value: what lies outside the limits below is clamped to them.
 */
#ifndef NADIXQ_SIM_H
#define NADIXQ_SIM_H

#include <stdint.h>

#include "nadixq.h"

#define NADIXQ_SIM_API NADIXQ_API
#define NADIXQ_SIM_CALL NADIXQ_CALL

#ifdef __cplusplus
extern "C" {
#endif

/* Board type that follows the board class talking to the board (default). */
#define NADIXQ_SIM_ADAPTIVE_BOARD_TYPE (-1)

/* Default sample rate (samples per second) and turnaround per scan (ms), and
 * the limits that other values are clamped to. */
#define NADIXQ_SIM_DEFAULT_SAMPLE_RATE 100000.0
#define NADIXQ_SIM_MIN_SAMPLE_RATE 10.0
#define NADIXQ_SIM_MAX_SAMPLE_RATE 1e9
#define NADIXQ_SIM_DEFAULT_TURNAROUND_MS 5.0
#define NADIXQ_SIM_MAX_TURNAROUND_MS 60000.0
/* Default noise: standard deviation per sample, in converter counts, and its
 * limit (far beyond full scale: every sample then clips). */
#define NADIXQ_SIM_DEFAULT_NOISE 1.5
#define NADIXQ_SIM_MAX_NOISE 1e6
#define NADIXQ_SIM_DEFAULT_SEED 1u

/* Win32 error that every request returns once the board is unplugged. */
#define NADIXQ_SIM_ERROR_NOT_CONNECTED 1167u

/* Everything back to the defaults: adaptive board type, default timing,
 * noise and seed, the film in the beam, no faults, plugged in, scan counter 0, nominal centre
 * burst, aux word and fiber frames 0, no transfer hook. Open devices stay
 * open. */
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_reset(void);

/* Reports `type` in every calibration record from now on instead of the type
 * that fits the requesting board class; NADIXQ_SIM_ADAPTIVE_BOARD_TYPE
 * returns to adapting. Any 16-bit value, 0 included (an old driver); others
 * are clamped to -32768..32767. */
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_board_type(int type);

/* Scan timing: a scan of n points completes n / samplesPerSecond seconds plus
 * turnaroundMs after the previous one. Values of 0 or less, and NaN, restore
 * the default of that parameter; others are clamped to
 * NADIXQ_SIM_MIN_SAMPLE_RATE..NADIXQ_SIM_MAX_SAMPLE_RATE and to at most
 * NADIXQ_SIM_MAX_TURNAROUND_MS. */
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_scan_rate(double samplesPerSecond,
                                                             double turnaroundMs);

/* Standard deviation of the white noise added to every sample of every scan,
 * in counts (0: noiseless; 0 or less and NaN: 0; at most NADIXQ_SIM_MAX_NOISE).
 * Each converter draws its own noise. */
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_noise(double sigmaCounts);

/* Restarts the noise sequence (and the calibration's burst position jitter)
 * from `seed`: the same seed and the same requests give the same samples. */
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_seed(uint64_t seed);

/* The `errorvalue` that calibrations report from now on (0: success). */
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_calibration_error(int errorvalue);

/* Makes requests with control code `code` fail with the Win32 error `error`:
 * the first `afterCalls` such requests from now on still succeed, then
 * `times` requests fail (0 or less: every one from then on). The code is
 * matched as sent, on either interface. A new call replaces the previous
 * fault; `code` 0 clears it. */
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_fail_request(uint32_t code, int afterCalls,
                                                            uint32_t error, int times);

/* The `n`-th scan to complete from now on (1: the next) is not delivered: its
 * transfer reports I_ERROR instead. Once; 0 or less cancels. */
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_error_at_scan(int n);

/* Puts the polystyrene film into the beam (`inBeam` non-zero, the default)
 * or takes it out (0), so that a run records a sample or a background. Takes
 * effect from the next scan; nadixq_sim_reset puts the film back. With the film
 * out, more light reaches the detector: the centre burst grows accordingly. */
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_sample_in_beam(int inBeam);

/* Unplugs the board: every request, and every open, fails from now on with
 * NADIXQ_SIM_ERROR_NOT_CONNECTED (opens with "no device", 259) until
 * nadixq_sim_reset. */
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_unplug(void);

/* Ground truth. */

/* Scans delivered (transfers that reported I_COMPLETE) since the last reset. */
NADIXQ_SIM_API int NADIXQ_SIM_CALL nadixq_sim_scan_count(void);

/* Sample index of the centre burst in every transfer; the calibration
 * reports it as imax_pos. */
NADIXQ_SIM_API int NADIXQ_SIM_CALL nadixq_sim_imax_pos(void);

/* The current aux output word, as last written. */
NADIXQ_SIM_API unsigned NADIXQ_SIM_CALL nadixq_sim_aux_state(void);

/* Copies up to `count` samples of the last delivered scan into `samples`:
 * channel 0 is the low-gain (or only) converter, 1 the high-gain converter of
 * a dual board. Returns the number copied; 0 before the first scan or for a
 * channel the last scan did not have. */
NADIXQ_SIM_API int NADIXQ_SIM_CALL nadixq_sim_last_transfer(int channel, int16_t* samples,
                                                            int count);

/* Called for every delivered scan, on the thread that polled the board (the
 * acquisition's own thread), just before the transfer is handed back.
 * `scan` is the scan counter after the scan; `high` is null for a single
 * board; each array holds `count` (32768) samples and is valid only during
 * the call. The hook may call the functions of this header. Null removes it. */
typedef void(NADIXQ_SIM_CALL* nadixq_sim_transfer_hook)(void* context, int scan, const int16_t* low,
                                                        const int16_t* high, int count);
NADIXQ_SIM_API void NADIXQ_SIM_CALL nadixq_sim_set_transfer_hook(nadixq_sim_transfer_hook hook,
                                                                 void* context);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* NADIXQ_SIM_H */
