#include "device/istate_dump.h"

#include <cstdint>

namespace nadixq {

namespace {
unsigned SignExtended(int16_t value) {
    return static_cast<unsigned>(static_cast<int32_t>(value));
}
}  // namespace

void WriteIstateDump(CLogFile& log, const istate& header) {
    log.Write("istate.ifg_complete= %lu", static_cast<unsigned long>(header.ifg_complete));
    log.Write("istate.ram_start= %lu", static_cast<unsigned long>(header.ram_start));
    log.Write("istate.scan_num= %u", static_cast<unsigned>(header.scan_num));
    log.Write("istate.time_count= %u", static_cast<unsigned>(header.time_count));
    log.Write("istate.ram_end= %lu", static_cast<unsigned long>(header.ram_end));
    log.Write("istate.pts= %d", static_cast<int>(header.pts));
    log.Write("istate.tttt= %lu", static_cast<unsigned long>(header.tttt));
    log.Write("istate.safe= %lu", static_cast<unsigned long>(header.safe));
    log.Write("istate.err_cnt= %lu", static_cast<unsigned long>(header.err_cnt));
    log.Write("istate.err_adr= %lu", static_cast<unsigned long>(header.err_adr));
    log.Write("istate.try_1= %u", SignExtended(header.try_1));
    log.Write("istate.try_2= %u", SignExtended(header.try_2));
    log.Write("istate.try_3= %u", SignExtended(header.try_3));
}

}  // namespace nadixq
