// What a driver request asks the simulated board to do: its control code
// read against the codes of the interface it came through (DriverCodes), so
// the board answers exactly the requests the board classes send.
#pragma once

#include <cstdint>

namespace nadixq::sim {

enum class DriverOperation {
    kInitialize,
    kGetCalStatus,
    kGetIfg,
    kCalScan,
    kReadFiber,
    kWriteFiber,
    kWriteAux,
    kUnknown  // a code the interface does not have
};

// The operation of `code` on interface A (`interfaceA`) or B. Interface B has
// no fiber link, so its fiber codes (0 in DriverCodes) name nothing.
DriverOperation DecodeOperation(bool interfaceA, uint32_t code);

}  // namespace nadixq::sim
