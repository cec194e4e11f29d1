#include "device/driver_channel.h"
#include "diagnostics/debug_trace.h"
#include "diagnostics/log_file.h"
#include "platform/platform.h"

namespace nadixq::platform {

void LoaderNotification(int reason) {
    switch (reason) {
        case kProcessAttach:
            TheLog();  // the log exists before the first line of the library
            DebugTrace("nadixq: DLL PROCESS ATTACH");
            // A library with a simulated board behind the real one says so.
            if (const char* notice = BuiltInDriversNotice()) DebugTrace("%s", notice);
            break;
        case kProcessDetach:
            DebugTrace("nadixq: DLL PROCESS DETACH");
            DestroyTheLog();
            break;
        case kThreadAttach:
            DebugTrace("nadixq: DLL THREAD ATTACH");
            break;
        case kThreadDetach:
            DebugTrace("nadixq: DLL THREAD DETACH");
            break;
        default:
            break;
    }
}

}  // namespace nadixq::platform
