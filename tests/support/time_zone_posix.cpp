#include <cstdlib>
#include <ctime>

#include "support/time_zone.h"

namespace nadixq::test {

void SetTimeZoneVariable(const char* zone) {
    if (zone != nullptr) {
        setenv("TZ", zone, 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

}  // namespace nadixq::test
