#include "interface/library_state.h"

#include <cmath>

#include "acquisition/scan_buffer.h"

namespace nadixq {

LibraryState& State() {
    static LibraryState state;
    return state;
}

int PointsForResolution(double resolution) {
    if (std::isnan(resolution))
        return NADIXQ_FINEST_POINTS;  // quietly: a NaN would trap at the first >
    if (resolution > 16) return 512;
    if (resolution > 8) return 1024;
    if (resolution > 4) return 2048;
    if (resolution > 2) return 4096;
    if (resolution > 1) return 8192;
    if (resolution > 0.5) return 16384;
    return NADIXQ_FINEST_POINTS;
}

}  // namespace nadixq
