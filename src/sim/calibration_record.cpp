#include "sim/calibration_record.h"

#include <cstddef>
#include <cstring>

namespace nadixq::sim {
namespace {

// The fields every form carries, at the offsets of its own record. The burst
// samples go to `regionOffset`: the single boards' zpd_region, or in the dual
// boards' record the room right after datastart, which holds the same.
template <typename Info>
void WriteCommon(const SimCalibration& c, Info& info, size_t regionOffset) {
    info.parms = c.parms;
    info.errorvalue = static_cast<decltype(info.errorvalue)>(c.errorvalue);
    info.max_pos = c.maxPos;
    info.max_neg = c.maxNeg;
    info.imax_pos = c.imaxPos;
    info.imax_neg = c.imaxNeg;
    info.datastart = c.datastart;
    std::memcpy(reinterpret_cast<uint8_t*>(&info) + regionOffset, c.zpdRegion, sizeof(c.zpdRegion));
}

}  // namespace

void WriteCalInfo(const SimCalibration& c, int16_t boardType, int16_t unused, void* out,
                  uint32_t outSize) {
    if (outSize >= sizeof(calInfo72)) {
        calInfo72 info = {};
        WriteCommon(c, info, offsetof(calInfo72, reserved));
        info.board_type = boardType;
        std::memcpy(out, &info, sizeof(info));
    } else if (outSize >= sizeof(calInfo60)) {
        calInfo60 info = {};
        WriteCommon(c, info, offsetof(calInfo60, zpd_region));
        info.board_type = boardType;
        std::memcpy(out, &info, sizeof(info));
    } else {
        calInfo56 info = {};
        WriteCommon(c, info, offsetof(calInfo56, zpd_region));
        info.unused = unused;
        std::memcpy(out, &info, sizeof(info));
    }
}

}  // namespace nadixq::sim
