// The DLL's entry point. The runtime has built the library's static objects
// (the log file among them) before the attach notification arrives here, and
// destroys them after the detach notification.
#include "platform/platform.h"
#include "platform/win32/win32.h"

static_assert(DLL_PROCESS_DETACH == nadixq::platform::kProcessDetach, "loader reasons");
static_assert(DLL_PROCESS_ATTACH == nadixq::platform::kProcessAttach, "loader reasons");
static_assert(DLL_THREAD_ATTACH == nadixq::platform::kThreadAttach, "loader reasons");
static_assert(DLL_THREAD_DETACH == nadixq::platform::kThreadDetach, "loader reasons");

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    nadixq::LoaderNotification(static_cast<int>(reason));
    return TRUE;
}
