#include "device/nadix_device.h"

namespace nadixq {
CNadixDevice* CreateDualADC3() { return nullptr; }
CNadixDevice* CreateDualADC4() { return nullptr; }
}  // namespace nadixq
