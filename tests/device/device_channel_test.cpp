// The driver seam: the registry of in-process drivers in front of the
// operating system's, and the request path that every board uses.
#include <gtest/gtest.h>

#include <cstring>

#include "device/driver_channel.h"
#include "device/driver_records.h"
#include "support/log_tail.h"
#include "support/scripted_driver.h"

namespace {

using nadixq::CloseDevice;
using nadixq::DeviceControl;
using nadixq::DeviceHandle;
using nadixq::GUID_ACQ_INTERFACE_A;
using nadixq::GUID_ACQ_INTERFACE_B;
using nadixq::IsValidDeviceHandle;
using nadixq::OpenDeviceInterface;
using nadixq::test::EmptyClass;
using nadixq::test::ScriptedDriver;

TEST(DriverChannel, ClassWithoutDriverReportsNoMoreItems) {
    EmptyClass empty(GUID_ACQ_INTERFACE_A);
    uint32_t error = 0;
    DeviceHandle handle = OpenDeviceInterface(GUID_ACQ_INTERFACE_A, 0, &error);
    EXPECT_FALSE(IsValidDeviceHandle(handle));
    EXPECT_EQ(handle, nadixq::InvalidDeviceHandle());
    EXPECT_EQ(error, 259u);
}

TEST(DriverChannel, RequestsReachTheRegisteredDriverOfTheirClassOnly) {
    EmptyClass emptyB(GUID_ACQ_INTERFACE_B);
    ScriptedDriver driver(GUID_ACQ_INTERFACE_A);
    uint32_t error = 77;
    DeviceHandle handle = OpenDeviceInterface(GUID_ACQ_INTERFACE_A, 0, &error);
    ASSERT_TRUE(IsValidDeviceHandle(handle));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(driver.OpenCount(), 1);

    // The other class stays with the (empty) system.
    DeviceHandle other = OpenDeviceInterface(GUID_ACQ_INTERFACE_B, 0, &error);
    EXPECT_FALSE(IsValidDeviceHandle(other));
    EXPECT_EQ(error, 259u);
    EXPECT_EQ(driver.OpenCount(), 1);

    const uint8_t reply[3] = {0xA1, 0xB2, 0xC3};
    ScriptedDriver::Reply scripted;
    scripted.bytes.assign(reply, reply + 3);
    driver.Queue(0x222038, scripted);
    const uint16_t in = 0x1234;
    uint8_t out[4] = {0, 0, 0, 0xEE};
    ASSERT_TRUE(DeviceControl(handle, 0x222038, &in, sizeof in, out, 3));
    EXPECT_EQ(out[0], 0xA1);
    EXPECT_EQ(out[2], 0xC3);
    EXPECT_EQ(out[3], 0xEE);  // nothing beyond the reply size
    auto requests = driver.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, 0x222038u);
    EXPECT_EQ(requests[0].in, (std::vector<uint8_t>{0x34, 0x12}));
    EXPECT_EQ(requests[0].outSize, 3u);
    CloseDevice(handle);
}

TEST(DriverChannel, FailedRequestLeavesTheDriversErrorAsLastError) {
    ScriptedDriver driver(GUID_ACQ_INTERFACE_B);
    uint32_t error = 0;
    DeviceHandle handle = OpenDeviceInterface(GUID_ACQ_INTERFACE_B, 0, &error);
    ASSERT_TRUE(IsValidDeviceHandle(handle));
    driver.Queue(0x222010, ScriptedDriver::Reply::Failure(1117));
    nadixq::platform::SetLastError(0);
    EXPECT_FALSE(DeviceControl(handle, 0x222010, nullptr, 0, nullptr, 0));
    EXPECT_EQ(nadixq::platform::LastError(), 1117u);
    CloseDevice(handle);
}

TEST(DriverChannel, ClosedHandleFailsWithInvalidHandle) {
    nadixq::platform::SetLastError(0);
    EXPECT_FALSE(DeviceControl(nadixq::InvalidDeviceHandle(), 0x222010, nullptr, 0, nullptr, 0));
    EXPECT_EQ(nadixq::platform::LastError(), 6u);
    EXPECT_FALSE(DeviceControl(nullptr, 0x222010, nullptr, 0, nullptr, 0));
    EXPECT_EQ(nadixq::platform::LastError(), 6u);
    CloseDevice(nadixq::InvalidDeviceHandle());  // ignored
    CloseDevice(nullptr);
}

TEST(DriverChannel, DriverRefusingToOpenPassesItsError) {
    ScriptedDriver driver(GUID_ACQ_INTERFACE_A);
    driver.SetOpenError(5);
    uint32_t error = 0;
    EXPECT_FALSE(IsValidDeviceHandle(OpenDeviceInterface(GUID_ACQ_INTERFACE_A, 0, &error)));
    EXPECT_EQ(error, 5u);
}

TEST(DriverChannel, ScriptedDriverRestoresThePreviousRegistration) {
    EmptyClass empty(GUID_ACQ_INTERFACE_A);
    {
        ScriptedDriver driver(GUID_ACQ_INTERFACE_A);
        EXPECT_EQ(nadixq::RegisteredDriver(GUID_ACQ_INTERFACE_A), &driver);
    }
    EXPECT_EQ(nadixq::RegisteredDriver(GUID_ACQ_INTERFACE_A), nullptr);
}

// Real hardware first: the fallback (the simulated instrument of the
// simulator DLL) answers only where the class's own driver, registered or the
// system's discovery, reports that no board is there at all.
TEST(DriverChannel, FallbackDriverAnswersOnlyWhereNoBoardIsPresent) {
    EmptyClass empty(GUID_ACQ_INTERFACE_A);
    ScriptedDriver simulated(GUID_ACQ_INTERFACE_A);
    nadixq::UnregisterDriver(GUID_ACQ_INTERFACE_A);
    nadixq::RegisterFallbackDriver(GUID_ACQ_INTERFACE_A, &simulated);
    auto openA = [](uint32_t* error) {
        DeviceHandle handle = OpenDeviceInterface(GUID_ACQ_INTERFACE_A, 0, error);
        const bool valid = IsValidDeviceHandle(handle);
        nadixq::CloseDevice(handle);
        return valid;
    };
    uint32_t error = 77;
    EXPECT_TRUE(openA(&error));  // the system has no board of the class
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(simulated.OpenCount(), 1);

    ScriptedDriver real(GUID_ACQ_INTERFACE_A);  // a board that is present
    EXPECT_TRUE(openA(&error));
    EXPECT_EQ(real.OpenCount(), 1);
    real.SetOpenError(5);  // present but refusing: its error, not a stand-in
    EXPECT_FALSE(openA(&error));
    EXPECT_EQ(error, 5u);
    real.SetOpenError(259);  // gone
    EXPECT_TRUE(openA(&error));
    EXPECT_EQ(simulated.OpenCount(), 2);
}

TEST(DriverRecords, InterfaceGuidsHaveTheirRegisteredBytes) {
    // Discovery compares these bytes with the driver's registration; a
    // swapped half would make every board unreachable.
    EXPECT_EQ(GUID_ACQ_INTERFACE_A.data1, 0xE5A4FD92u);
    EXPECT_EQ(GUID_ACQ_INTERFACE_A.data4[7], 0x44);
    EXPECT_EQ(GUID_ACQ_INTERFACE_B.data2, 0x8C5E);
    EXPECT_EQ(GUID_ACQ_INTERFACE_B.data4[0], 0x88);
    EXPECT_FALSE(nadixq::SameGuid(GUID_ACQ_INTERFACE_A, GUID_ACQ_INTERFACE_B));
    nadixq::platform::Guid copy = GUID_ACQ_INTERFACE_B;
    EXPECT_TRUE(nadixq::SameGuid(copy, GUID_ACQ_INTERFACE_B));
    copy.data4[7] ^= 1;
    EXPECT_FALSE(nadixq::SameGuid(copy, GUID_ACQ_INTERFACE_B));
}

}  // namespace
