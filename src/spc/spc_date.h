// The SPC date word: a local date and time packed to the minute.
#pragma once

#include <cstdint>

namespace nadixq {

// Packs the local time of `timestampMs` (milliseconds since 1970-01-01 00:00
// UTC) rounded to the nearest minute, halves up, as the SPC fdate word: minute
// in bits 0-5, hour in 6-10, day of the month in 11-15, month (1-12) in 16-19,
// full year in 20-31. 0 when the rounded time is before 1970, past the signed
// 32-bit seconds range, or cannot be converted. No state; any thread.
uint32_t PackSpcDate(double timestampMs);

}  // namespace nadixq
