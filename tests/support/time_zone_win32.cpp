#include <cstdlib>
#include <ctime>
#include <string>

#include "support/time_zone.h"

namespace nadixq::test {

void SetTimeZoneVariable(const char* zone) {
    // The runtime's own environment, which its _tzset reads ("TZ=" removes
    // the variable).
    const std::string assignment = std::string("TZ=") + (zone != nullptr ? zone : "");
    _putenv(assignment.c_str());
    _tzset();
}

}  // namespace nadixq::test
