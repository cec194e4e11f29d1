// Instrument and run calls. Placeholder results until the engine lands.
#include "interface/nadixq.h"

extern "C" {
NADIXQ_API int NADIXQ_CALL spectrometer_open(int) { return 1; }
NADIXQ_API int NADIXQ_CALL spectrometer_close(void) { return 1; }
NADIXQ_API int NADIXQ_CALL spectrometer_initialize(void) { return 1; }
NADIXQ_API int NADIXQ_CALL spectrometer_calibrationScan(void) { return 1; }
NADIXQ_API int NADIXQ_CALL spectrometer_getCapabilities(void) { return 0; }
NADIXQ_API int NADIXQ_CALL spectrometer_startCoadd(void) { return 1; }
NADIXQ_API int NADIXQ_CALL spectrometer_stop(void) { return 1; }
NADIXQ_API int NADIXQ_CALL spectrometer_getData(double*, int, double*) { return 1; }
NADIXQ_API double NADIXQ_CALL spectrometer_getTimestamp(void) { return 0.0; }
NADIXQ_API int NADIXQ_CALL spectrometer_writeFiber(unsigned int*) { return 0; }
NADIXQ_API int NADIXQ_CALL spectrometer_readFiber(unsigned int*) { return 0; }
NADIXQ_API int NADIXQ_CALL spectrometer_writeAux(unsigned short, unsigned short) { return 0; }
}
