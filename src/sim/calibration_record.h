// What the simulated board's last calibration found, and how it is written
// into the calibration record a board class asks for: the record's size tells
// which of the three forms (calInfo72, calInfo60, calInfo56) the class reads.
#pragma once

#include <cstdint>

#include "device/driver_records.h"

namespace nadixq::sim {

// The nominal sample index of the centre burst: the window of the largest
// point count (30000, from 256 before the burst) still fits in a transfer.
constexpr int kNominalImaxPos = 512;

struct SimCalibration {
    calParms parms = {};
    int32_t errorvalue = 0;
    int16_t maxPos = 0;
    int16_t maxNeg = 0;
    int16_t imaxPos = kNominalImaxPos;
    int16_t imaxNeg = 0;
    int16_t datastart = kNominalImaxPos - 256;
    int16_t zpdRegion[15] = {};
};

// Writes `c` into `out` in the largest form that fits `outSize` (at least
// sizeof(calInfo56)). `boardType` goes into the two forms that carry one;
// `unused` into offset 54 of the short form.
void WriteCalInfo(const SimCalibration& c, int16_t boardType, int16_t unused, void* out,
                  uint32_t outSize);

}  // namespace nadixq::sim
