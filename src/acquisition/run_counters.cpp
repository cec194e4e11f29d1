#include "acquisition/run_counters.h"

namespace nadixq {

RunCounters& Counters() {
    static RunCounters counters;
    return counters;
}

}  // namespace nadixq
