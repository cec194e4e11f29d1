// Streaming a run to an SPC file: opens the stream file of the scan-thread
// object, then starts the run as spectrometer_startCoadd does. Every file the
// run stores is appended on the scan thread; spectrometer_stop (or close)
// patches the subfile count and closes the file.
#include "acquisition/scan_thread.h"
#include "device/nadix_device.h"
#include "interface/library_state.h"
#include "interface/nadixq.h"

using nadixq::CScanThread;
using nadixq::CStreamFile;
using nadixq::LibraryState;
using nadixq::State;

extern "C" {

NADIXQ_API int NADIXQ_CALL spectrometer_streamToDisk(const char* path) {
    LibraryState& state = State();
    CScanThread* scanThread = state._scanThread.load();
    if (path == nullptr || state._device == nullptr || scanThread == nullptr) return 1;
    // A run that is still going keeps its own stream: reopening would cut
    // its file short, and the start that follows would be refused anyway.
    if (scanThread->IsAcquiring()) return 1;

    // Open patches and closes a file left open by an earlier run.
    CStreamFile& stream = scanThread->Stream();
    int32_t opened = stream.Open(path, state._device->GetPoints());
    if (opened != 0) return opened;

    int result = spectrometer_startCoadd();
    // A run that did not start must not leave the file open for the next
    // spectrometer_startCoadd to stream into; it is closed as a valid file
    // with no subfiles.
    if (result != 0) stream.PatchAndClose();
    return result;
}
}
