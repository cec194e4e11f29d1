#include "hostile_driver.h"

#include <cstring>

#include "device/driver_records.h"

namespace nadixq::fuzz {

class HostileDriver::Session : public IDriverSession {
  public:
    explicit Session(const HostileDriver& driver) : _driver(driver) {}
    bool Control(uint32_t, const void*, uint32_t, void* out, uint32_t outSize,
                 uint32_t* error) override {
        return _driver.Answer(out, outSize, error);
    }

  private:
    const HostileDriver& _driver;
};

HostileDriver::HostileDriver() {
    RegisterDriver(GUID_ACQ_INTERFACE_A, this);
    RegisterDriver(GUID_ACQ_INTERFACE_B, this);
}

HostileDriver::~HostileDriver() {
    UnregisterDriver(GUID_ACQ_INTERFACE_A);
    UnregisterDriver(GUID_ACQ_INTERFACE_B);
}

void HostileDriver::ReadAnswer(FuzzInput& input) {
    const uint8_t flags = input.U8();
    _fails = (flags & 1) != 0;
    _fill = (flags & 2) != 0;
    _error = input.U32();
    _fillByte = input.U8();
    _reply.resize(input.U16());
    input.Bytes(_reply.data(), _reply.size());
}

std::unique_ptr<IDriverSession> HostileDriver::Open(const platform::Guid&, uint32_t,
                                                    uint32_t* error) {
    if (_openError != 0) {
        *error = _openError;
        return nullptr;
    }
    *error = 0;
    return std::make_unique<Session>(*this);
}

bool HostileDriver::Answer(void* out, uint32_t outSize, uint32_t* error) const {
    if (out != nullptr) {
        const size_t copied = _reply.size() < outSize ? _reply.size() : outSize;
        if (copied > 0) std::memcpy(out, _reply.data(), copied);
        if (_fill) std::memset(static_cast<uint8_t*>(out) + copied, _fillByte, outSize - copied);
    }
    if (_fails) {
        *error = _error;
        return false;
    }
    return true;
}

}  // namespace nadixq::fuzz
