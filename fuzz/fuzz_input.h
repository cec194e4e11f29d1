// The fuzz targets' view of their input: little-endian fields read in order
// from the front, zeros once the input is used up, so that a seed written
// field by field (make_seeds.py) reads back as written and any mutation still
// reads as something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace nadixq::fuzz {

// A broken contract: name it and abort, which libFuzzer reports as a crash
// with the input that caused it.
#define NADIXQ_FUZZ_CHECK(condition)                                                              \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: contract broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : _data(data), _size(size) {}

    bool Empty() const { return _offset >= _size; }

    // Copies up to `count` bytes into `out`, zero-filling what the input lacks.
    void Bytes(void* out, size_t count) {
        const size_t available = _offset < _size ? _size - _offset : 0;
        const size_t taken = count < available ? count : available;
        if (taken > 0) std::memcpy(out, _data + _offset, taken);
        if (taken < count) std::memset(static_cast<uint8_t*>(out) + taken, 0, count - taken);
        _offset += taken;
    }

    template <typename T>
    T Read() {
        T value;
        Bytes(&value, sizeof value);
        return value;
    }
    uint8_t U8() { return Read<uint8_t>(); }
    uint16_t U16() { return Read<uint16_t>(); }
    int32_t I32() { return Read<int32_t>(); }
    uint32_t U32() { return Read<uint32_t>(); }
    double F64() { return Read<double>(); }

  private:
    const uint8_t* _data;
    size_t _size;
    size_t _offset = 0;
};

}  // namespace nadixq::fuzz
