#include "device/driver_channel.h"
#include "diagnostics/debug_trace.h"
#include "diagnostics/log_file.h"
#include "platform/platform.h"

namespace nadixq {

void LoaderNotification(int reason) {
    switch (reason) {
        case platform::kProcessAttach:
            TheLog();  // the log exists before the first line of the library
            DebugTrace("nadixq: DLL PROCESS ATTACH");
            // A library with a simulated board behind the real one says so.
            if (const char* notice = BuiltInDriversNotice()) DebugTrace("%s", notice);
            break;
        case platform::kProcessDetach:
            DebugTrace("nadixq: DLL PROCESS DETACH");
            DestroyTheLog();
            break;
        case platform::kThreadAttach:
            DebugTrace("nadixq: DLL THREAD ATTACH");
            break;
        case platform::kThreadDetach:
            DebugTrace("nadixq: DLL THREAD DETACH");
            break;
        default:
            break;
    }
}

}  // namespace nadixq
