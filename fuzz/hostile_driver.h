// A board driver whose every answer comes from the fuzz input: a request
// succeeds or fails with any error, and its reply holds any bytes, as many as
// the input says (a short reply leaves the rest of the buffer as it was), the
// rest optionally filled with one byte value. Registered for both interface
// classes for the life of the object.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "device/driver_channel.h"
#include "fuzz_input.h"

namespace nadixq::fuzz {

class HostileDriver : public IDriver {
  public:
    HostileDriver();
    ~HostileDriver() override;

    // How the next requests are answered, read from the input: a flags byte
    // (bit 0: the request fails, bit 1: fill the rest of the reply), the
    // error, the fill byte, a reply length and that many bytes.
    void ReadAnswer(FuzzInput& input);
    // Opens fail from now on with `error` (0: they succeed).
    void SetOpenError(uint32_t error) { _openError = error; }

    std::unique_ptr<IDriverSession> Open(const platform::Guid& interfaceClass, uint32_t memberIndex,
                                         uint32_t* error) override;

  private:
    class Session;
    bool Answer(void* out, uint32_t outSize, uint32_t* error) const;

    uint32_t _openError = 0;
    bool _fails = false;
    bool _fill = false;
    uint8_t _fillByte = 0;
    uint32_t _error = 0;
    std::vector<uint8_t> _reply;
};

}  // namespace nadixq::fuzz
