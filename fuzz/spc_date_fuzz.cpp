// PackSpcDate on any double: NaN, infinities, the edges of the signed 32-bit
// seconds range, halves of a minute. Contracts, checked in UTC: 0 where the
// rounded time lies before 1970 or past the range; otherwise a word whose
// fields are a valid date and time that lies within half a minute of the
// stamp (halves rounding up).
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "fuzz_input.h"
#include "spc/spc_date.h"

using nadixq::fuzz::FuzzInput;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const double stamp = input.F64();
    const uint32_t word = nadixq::PackSpcDate(stamp);

    const double seconds = std::floor((stamp + 30000.0) / 60000.0) * 60.0;
    if (!(seconds >= 0.0 && seconds <= 2147483647.0)) {
        NADIXQ_FUZZ_CHECK(word == 0);
        return 0;
    }
    tm fields{};
    fields.tm_min = static_cast<int>(word & 63);
    fields.tm_hour = static_cast<int>((word >> 6) & 31);
    fields.tm_mday = static_cast<int>((word >> 11) & 31);
    fields.tm_mon = static_cast<int>((word >> 16) & 15) - 1;
    fields.tm_year = static_cast<int>(word >> 20) - 1900;
    NADIXQ_FUZZ_CHECK(fields.tm_min < 60 && fields.tm_hour < 24);
    NADIXQ_FUZZ_CHECK(fields.tm_mday >= 1 && fields.tm_mon >= 0 && fields.tm_mon < 12);
    NADIXQ_FUZZ_CHECK(fields.tm_year >= 70 && fields.tm_year <= 138);
    tm normalised = fields;
    const double packed = static_cast<double>(timegm(&normalised)) * 1000.0;
    NADIXQ_FUZZ_CHECK(normalised.tm_mday == fields.tm_mday);  // a day the month has
    // Within half a minute, allowing for the rounding of the division.
    const double slack = 1e-9 * std::fabs(stamp) + 1e-6;
    NADIXQ_FUZZ_CHECK(stamp - packed >= -30000.0 - slack && stamp - packed < 30000.0 + slack);
    return 0;
}
