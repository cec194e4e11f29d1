// Load and unload of the shared object stand in for the loader's process
// attach and detach notifications; threads have no such notifications here.
#include "platform/platform.h"
#include "platform/posix/debug_output.h"

namespace nadixq::platform {
namespace {

__attribute__((constructor)) void OnLoad() {
    nadixq::LoaderNotification(kProcessAttach);
}

// At dlclose, and at the exit of a host that never called it; in the second
// case the library's static destructors have already run.
__attribute__((destructor)) void OnUnload() {
    nadixq::LoaderNotification(kProcessDetach);
    CloseDebugChannel();
}

}  // namespace
}  // namespace nadixq::platform
