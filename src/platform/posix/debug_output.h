// What the POSIX loader hooks need of the debugger channel beyond platform.h.
#pragma once

namespace nadixq::platform {

// Closes the channel's socket; later lines are dropped. Called once the
// unload notification's line has been sent, as the library is unloaded (at
// dlclose, or at the exit of a host that never unloaded it). Loader thread.
void CloseDebugChannel();

}  // namespace nadixq::platform
