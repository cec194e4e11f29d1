#include "sim/driver_operation.h"

#include "device/driver_records.h"

namespace nadixq::sim {

DriverOperation DecodeOperation(bool interfaceA, uint32_t code) {
    const DriverCodes& codes = interfaceA ? kInterfaceACodes : kInterfaceBCodes;
    // Every code of an interface is distinct, so the order of the tests does
    // not matter; a code of 0 stands for an operation the interface lacks.
    if (code == 0) return DriverOperation::kUnknown;
    if (code == codes.initialize) return DriverOperation::kInitialize;
    if (code == codes.getCalStatus) return DriverOperation::kGetCalStatus;
    if (code == codes.getIfg) return DriverOperation::kGetIfg;
    if (code == codes.calScan) return DriverOperation::kCalScan;
    if (code == codes.readFiber) return DriverOperation::kReadFiber;
    if (code == codes.writeFiber) return DriverOperation::kWriteFiber;
    if (code == codes.writeAux) return DriverOperation::kWriteAux;
    return DriverOperation::kUnknown;
}

}  // namespace nadixq::sim
