/* A small host written in C99: it includes the chief header from C, sets a
 * few values through the exports and prints the settings and the status.
 * Run with arguments "gain resolution scans files" to set those first. */
#include <stdio.h>
#include <stdlib.h>

#include "interface/nadixq.h"

int main(int argc, char** argv) {
    if (argc == 5) {
        spectrometer_setGain(atof(argv[1]));
        spectrometer_setResolution(atof(argv[2]));
        spectrometer_setScans(atoi(argv[3]));
        spectrometer_setFiles(atoi(argv[4]));
    }
    printf("gain        %g\n", spectrometer_getGain());
    printf("resolution  %g cm-1\n", spectrometer_getResolution());
    printf("points      %d\n", spectrometer_getPoints());
    printf("scans/file  %d\n", spectrometer_getScans());
    printf("files/run   %d\n", spectrometer_getFiles());
    printf("status      %d\n", spectrometer_getStatus());
    printf("progress    scan %d, file %d\n", spectrometer_getScanProgress(),
           spectrometer_getFileProgress());
    return 0;
}
