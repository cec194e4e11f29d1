// Streaming a run to an SPC file. Placeholder result until the writer lands.
#include "interface/nadixq.h"

extern "C" {
NADIXQ_API int NADIXQ_CALL spectrometer_streamToDisk(const char*) { return 1; }
}
