#include "stream_report.h"

#include <fstream>

namespace acquire {

std::int64_t LogSize() {
    std::ifstream log(kLibraryLog, std::ios::binary | std::ios::ate);
    if (!log) return 0;
    const std::streamoff size = log.tellg();
    return size > 0 ? static_cast<std::int64_t>(size) : 0;
}

long SubfileCount(const std::string& path) {
    // fnsub: a little-endian 32-bit count at byte 24 of the 512-byte header.
    std::ifstream file(path, std::ios::binary);
    unsigned char header[512];
    if (!file.read(reinterpret_cast<char*>(header), sizeof header)) return -1;
    const unsigned long count =
        static_cast<unsigned long>(header[24]) | static_cast<unsigned long>(header[25]) << 8 |
        static_cast<unsigned long>(header[26]) << 16 | static_cast<unsigned long>(header[27]) << 24;
    return count > 0x7FFFFFFFul ? -1 : static_cast<long>(count);
}

std::string StreamEndReason(std::int64_t from) {
    std::ifstream log(kLibraryLog, std::ios::binary);
    if (!log) return {};
    log.seekg(static_cast<std::streamoff>(from));
    static const std::string kMark = "stream ended after ";
    static const std::string kReasonMark = " subfiles: ";
    std::string reason;
    std::string line;
    while (std::getline(log, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t mark = line.find(kMark);
        if (mark == std::string::npos) continue;
        const size_t reasonAt = line.find(kReasonMark, mark);
        if (reasonAt != std::string::npos) reason = line.substr(reasonAt + kReasonMark.size());
    }
    return reason;
}

}  // namespace acquire
