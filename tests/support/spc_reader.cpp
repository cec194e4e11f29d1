#include "support/spc_reader.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace nadixq::test {

namespace {

constexpr size_t kMainHeaderSize = 512;
constexpr size_t kSubfileHeaderSize = 32;

float ReadFloat(const std::vector<uint8_t>& bytes, size_t offset) {
    const uint32_t bits = ReadU32(bytes, offset);
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

}  // namespace

uint32_t ReadU32(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

uint64_t ReadU64(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint64_t>(ReadU32(bytes, offset)) |
           static_cast<uint64_t>(ReadU32(bytes, offset + 4)) << 32;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

bool ReadSpcFile(const std::string& path, SpcFile* file, std::string* error) {
    *file = SpcFile{};
    file->bytes = ReadFileBytes(path);
    const std::vector<uint8_t>& b = file->bytes;
    if (b.size() < kMainHeaderSize) {
        *error = "file of " + std::to_string(b.size()) + " bytes has no main header";
        return false;
    }
    file->ftflgs = b[0];
    file->fversn = b[1];
    file->fexp = b[3];
    file->fnpts = ReadU32(b, 4);
    const uint64_t firstBits = ReadU64(b, 8);
    std::memcpy(&file->ffirst, &firstBits, sizeof(file->ffirst));
    file->flastBits = ReadU64(b, 16);
    file->fnsub = ReadU32(b, 24);
    file->fxtype = b[28];
    file->fytype = b[29];
    file->fdate = ReadU32(b, 32);

    if (file->fversn != 0x4B) {
        *error = "not the new little-endian format";
        return false;
    }
    if (file->fexp != 0x80) {
        *error = "Y values are not floats";
        return false;
    }
    if ((file->ftflgs & 0x80) != 0) {
        *error = "X arrays are not supported by this reader";
        return false;
    }

    const size_t subfileSize = kSubfileHeaderSize + 4 * static_cast<size_t>(file->fnpts);
    size_t offset = kMainHeaderSize;
    for (uint32_t n = 0; n < file->fnsub; ++n) {
        if (b.size() < offset + subfileSize) {
            *error = "subfile " + std::to_string(n) + " of " + std::to_string(file->fnsub) +
                     " is missing or cut short";
            return false;
        }
        SpcSubfile sub;
        sub.headerBytes.assign(b.begin() + offset, b.begin() + offset + kSubfileHeaderSize);
        sub.subflgs = b[offset];
        sub.subexp = b[offset + 1];
        sub.subindx = static_cast<uint16_t>(b[offset + 2] | b[offset + 3] << 8);
        sub.subtime = ReadFloat(b, offset + 4);
        sub.values.resize(file->fnpts);
        for (uint32_t i = 0; i < file->fnpts; ++i) {
            sub.values[i] = ReadFloat(b, offset + kSubfileHeaderSize + 4 * i);
        }
        file->subfiles.push_back(std::move(sub));
        offset += subfileSize;
    }
    file->trailingBytes = b.size() - offset;
    return true;
}

}  // namespace nadixq::test
