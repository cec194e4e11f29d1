// Where the operating system has the board's real driver, the library brings
// no driver of its own.
#include "device/driver_channel.h"

namespace nadixq {

void RegisterBuiltInDrivers() {}

const char* BuiltInDriversNotice() {
    return nullptr;
}

}  // namespace nadixq
