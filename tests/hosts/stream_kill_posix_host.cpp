// A host that streams a continuous run to disk and never stops it: it reports
// every finished file on stdout ("files N") until something kills it. Tests
// kill it mid-run and read what reached the file.
//
//   stream_kill_posix_host <path> <points>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "interface/nadixq.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <path> <points>\n", argv[0]);
        return 2;
    }
    const int fileEvent = eventfd(0, 0);
    if (fileEvent < 0) return 3;

    spectrometer_setPoints(std::atoi(argv[2]));
    spectrometer_setScans(1);
    spectrometer_setFiles(0);
    spectrometer_setCoaddCompleteEventHandle(
        reinterpret_cast<nadixq_handle>(static_cast<intptr_t>(fileEvent)));
    if (spectrometer_open(1) != 0) return 4;
    if (spectrometer_initialize() != 0) return 5;
    if (spectrometer_calibrationScan() != 0) return 6;
    const int started = spectrometer_streamToDisk(argv[1]);
    if (started != 0) {
        std::printf("streamToDisk %d\n", started);
        return 7;
    }
    std::printf("started\n");
    std::fflush(stdout);

    // The co-add event is signalled after the file was stored and streamed.
    for (;;) {
        uint64_t signals = 0;
        if (read(fileEvent, &signals, sizeof signals) != sizeof signals) return 8;
        std::printf("files %d\n", spectrometer_getFileProgress());
        std::fflush(stdout);
    }
}
