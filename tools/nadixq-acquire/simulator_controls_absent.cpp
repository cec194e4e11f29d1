#include "simulator_controls.h"

namespace acquire {

bool ApplySimulatorOptions(const Options&, std::string* error) {
    *error =
        "the --sim-* options need the simulated instrument, which this nadixq.dll does not have "
        "(build it with -DNADIXQ_SIM=ON)";
    return false;
}

}  // namespace acquire
