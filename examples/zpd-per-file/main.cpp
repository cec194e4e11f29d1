/* zpd-per-file: a small host of the installed library. It opens the
 * instrument of model 1, runs two files of four scans, waits for each file on
 * the library's file-complete event and prints where the file's centre burst
 * crosses zero (the ZPD index). On a machine without the board's driver the
 * library's simulated instrument answers (Linux, or the simulator flavour of
 * the Windows DLL).
 *
 * Build it against an installed nadixq with CMake (find_package(nadixq)) or
 * pkg-config; see README.md of the library. The processing functions have
 * C++ linkage, so the example is C++. */
#include <nadixq/nadixq.h>

#include <cstdio>

#include "file_event.h"

constexpr int kPoints = 2048;
constexpr int kFiles = 2;

int main() {
    static double ifg[kPoints];
    double stamp = 0.0;
    int result = spectrometer_open(1);
    if (result != 0) {
        std::fprintf(stderr, "zpd-per-file: spectrometer_open(1) returned 0x%08X\n",
                     static_cast<unsigned>(result));
        spectrometer_close();
        return 1;
    }
    file_event* event = file_event_create();
    if (event == nullptr) {
        std::fprintf(stderr, "zpd-per-file: no event\n");
        spectrometer_close();
        return 1;
    }
    spectrometer_setCoaddCompleteEventHandle(file_event_handle(event));
    spectrometer_setPoints(kPoints);
    spectrometer_setScans(4);
    spectrometer_setFiles(kFiles);
    if (spectrometer_initialize() != 0 || spectrometer_calibrationScan() != 0 ||
        spectrometer_startCoadd() != 0) {
        std::fprintf(stderr, "zpd-per-file: the instrument did not start\n");
        result = 1;
    }
    for (int file = 1; result == 0 && file <= kFiles; ++file) {
        /* Each file is read as soon as it is signalled, before the next one
         * replaces it. */
        if (!file_event_wait(event, 30000) || spectrometer_getData(ifg, kPoints, &stamp) != 0) {
            std::fprintf(stderr, "zpd-per-file: file %d did not arrive\n", file);
            result = 1;
            break;
        }
        BaselineCorrectIfg(ifg, kPoints, 0);
        std::printf("file %d: ZPD %d\n", file, FindZPD(ifg, kPoints, 0, -1, -1));
    }
    spectrometer_stop();
    spectrometer_setCoaddCompleteEventHandle(nullptr);
    spectrometer_close();
    file_event_destroy(event);
    return result;
}
