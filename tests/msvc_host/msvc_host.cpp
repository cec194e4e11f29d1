// A host as MSVC builds it for 32-bit Windows: compiled with clang in MSVC
// mode against nadixq.h, linked by LLVM's MSVC-compatible linker with
// nadixq.lib and without a C runtime. Its exit code tells which calls did not
// give what they promise (0: all did).
#include "interface/nadixq.h"

extern "C" __declspec(dllimport) void __stdcall ExitProcess(unsigned code);
// What the compiler expects of a C runtime that uses floating point.
extern "C" int _fltused = 0;

extern "C" int HostEntry() {
    unsigned failed = 0;
    if (spectrometer_setScans(7) != 7 || spectrometer_getScans() != 7) failed |= 1u;
    if (spectrometer_setGain(2.0) != 2.0 || spectrometer_getGain() != 2.0) failed |= 2u;
    if (spectrometer_setResolution(0.5) != 0.5 || spectrometer_getPoints() != 32768) failed |= 4u;
    if (spectrometer_open(0) != NADIXQ_NO_BOARD_CLASS) failed |= 8u;
    if (spectrometer_close() != 1) failed |= 16u;

    double ramp[4] = {1.0, 2.0, 3.0, 4.0};
    if (BaselineCorrectIfg(ramp, 4, 1) != 1 || ramp[0] != -1.5 || ramp[3] != 1.5) failed |= 32u;
    double burst[64];
    for (int i = 0; i < 64; ++i) burst[i] = 0.25;
    const double shape[] = {0.5, 3.0, 9.0, 4.0, -2.0, -8.0, -3.0, 0.5};
    for (int i = 0; i < 8; ++i) burst[28 + i] = shape[i];
    if (FindZPD(burst, 64, 0, -1, -1) != 32) failed |= 64u;
    if (GaussianApodize(burst, 64, 0.0) != 0 || GaussianApodize(burst, 64, 4.0) != 1 ||
        burst[32] != -2.0)
        failed |= 128u;
    ExitProcess(failed);
    return 0;
}
