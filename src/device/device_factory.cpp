#include <new>

#include "device/nadix_device.h"

namespace nadixq {

// The board classes register nothing; the factory knows them by model id.
CNadixDevice* CreateSingleADC1();
CNadixDevice* CreateSingleADC2();
CNadixDevice* CreateDualADC3();
CNadixDevice* CreateDualADC4();
CNadixDevice* CreateSingleADC5();

CNadixDevice* CreateDevice(int32_t id) {
    switch (id) {
        case 1:
            return CreateSingleADC1();
        case 2:
            return CreateSingleADC2();
        case 3:
            return CreateDualADC3();
        case 4:
            return CreateDualADC4();
        case 5:
            return CreateSingleADC5();
        default:
            return nullptr;
    }
}

}  // namespace nadixq
