// Load and unload of the shared object stand in for the loader's process
// attach and detach notifications; threads have no such notifications here.
#include "platform/platform.h"

namespace nadixq::platform {
namespace {

__attribute__((constructor)) void OnLoad() {
    LoaderNotification(kProcessAttach);
}

__attribute__((destructor)) void OnUnload() {
    LoaderNotification(kProcessDetach);
}

}  // namespace
}  // namespace nadixq::platform
