// A small SPC reader for tests, written from the published layout of the new
// little-endian format and independent of the library's own records: it reads
// fields by offset from the bytes of the file, as any other reader would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nadixq::test {

struct SpcSubfile {
    uint8_t subflgs = 0;
    uint8_t subexp = 0;
    uint16_t subindx = 0;
    float subtime = 0.0f;
    std::vector<uint8_t> headerBytes;  // the 32 bytes as found
    std::vector<float> values;
};

struct SpcFile {
    std::vector<uint8_t> bytes;  // the whole file
    uint8_t ftflgs = 0;
    uint8_t fversn = 0;
    uint8_t fexp = 0;
    uint32_t fnpts = 0;
    double ffirst = 0.0;
    uint64_t flastBits = 0;
    uint32_t fnsub = 0;
    uint8_t fxtype = 0;
    uint8_t fytype = 0;
    uint32_t fdate = 0;
    // The fnsub subfiles the header announces.
    std::vector<SpcSubfile> subfiles;
    // Bytes after the announced subfiles (a subfile cut short by a failure).
    size_t trailingBytes = 0;
};

// Reads the file as a reader of multifile float SPC files does: the 512-byte
// header, then fnsub subfiles of fnpts floats. False, with `error` set, when
// the file is not such a file or is shorter than its header announces.
bool ReadSpcFile(const std::string& path, SpcFile* file, std::string* error);

// Little-endian field access into a byte vector, for byte-level checks.
uint32_t ReadU32(const std::vector<uint8_t>& bytes, size_t offset);
uint64_t ReadU64(const std::vector<uint8_t>& bytes, size_t offset);

// The bytes of a file (empty when it cannot be read).
std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace nadixq::test
