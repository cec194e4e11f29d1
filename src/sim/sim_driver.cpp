#include "sim/sim_driver.h"

#include <new>

#include "device/driver_records.h"
#include "sim/sim_board.h"

namespace nadixq::sim {
namespace {

// One open device: which interface it was opened through decides how the
// control codes are read, since the two sets share numbers.
class CSimSession : public IDriverSession {
  public:
    explicit CSimSession(bool interfaceA) : _interfaceA(interfaceA) {}

    bool Control(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* error) override {
        return TheSimBoard().Control(_interfaceA, code, in, inSize, out, outSize, error);
    }

  private:
    const bool _interfaceA;
};

}  // namespace

std::unique_ptr<IDriverSession> CSimDriver::Open(const platform::Guid& interfaceClass,
                                                 uint32_t memberIndex, uint32_t* error) {
    const bool interfaceA = SameGuid(interfaceClass, GUID_ACQ_INTERFACE_A);
    const bool interfaceB = SameGuid(interfaceClass, GUID_ACQ_INTERFACE_B);
    // One board, member 0 of whichever class asks; an unplugged board is not
    // present at all.
    if ((!interfaceA && !interfaceB) || memberIndex != 0 || !TheSimBoard().Present()) {
        if (error != nullptr) *error = kErrorNoMoreItems;
        return nullptr;
    }
    std::unique_ptr<IDriverSession> session(new (std::nothrow) CSimSession(interfaceA));
    if (error != nullptr) *error = session ? 0 : platform::kErrorNotEnoughMemory;
    return session;
}

CSimDriver& TheSimDriver() {
    static CSimDriver* driver = new CSimDriver;
    return *driver;
}

void InstallSimulatedInstrument() {
    RegisterDriver(GUID_ACQ_INTERFACE_A, &TheSimDriver());
    RegisterDriver(GUID_ACQ_INTERFACE_B, &TheSimDriver());
}

}  // namespace nadixq::sim
