#include "device/nadix_device.h"

namespace nadixq {
CNadixDevice* CreateSingleADC1() { return nullptr; }
CNadixDevice* CreateSingleADC2() { return nullptr; }
CNadixDevice* CreateSingleADC5() { return nullptr; }
}  // namespace nadixq
