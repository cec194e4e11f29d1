// The Win32 driver backend: discovery through SetupDi and CreateFileA, and
// DeviceIoControl. No board is present under Wine (nor on a machine without
// one), so every model's open travels the whole SetupDi path to its end.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>

#include "device/driver_channel.h"
#include "device/driver_records.h"
#include "device/nadix_device.h"
#include "interface/nadixq.h"
#include "platform/platform.h"
#include "platform/win32/device_interface.h"
#include "support/trace_capture.h"

namespace {

namespace platform = nadixq::platform;
namespace win32 = nadixq::platform::win32;

GUID ToGuid(const platform::Guid& value) {
    GUID guid;
    static_assert(sizeof guid == sizeof value, "same layout");
    std::memcpy(&guid, &value, sizeof guid);
    return guid;
}

TEST(WindowsDiscovery, EachInterfaceClassIsAnEmptySetAndItsFirstMemberIsMissing) {
    for (const auto& cls : {nadixq::GUID_ACQ_INTERFACE_A, nadixq::GUID_ACQ_INTERFACE_B}) {
        win32::CDeviceInfoList list(ToGuid(cls));
        EXPECT_TRUE(list.IsValid());
        EXPECT_EQ(list._error, 0u);
        win32::CDeviceInterface member(list, 0);
        EXPECT_EQ(member._error, static_cast<uint32_t>(ERROR_NO_MORE_ITEMS));
        EXPECT_EQ(member.GetDevicePath(), nullptr);
        EXPECT_EQ(member._data.cbSize, sizeof(SP_DEVICE_INTERFACE_DATA));

        uint32_t error = 0;
        EXPECT_EQ(platform::OpenSystemDevice(cls, 0, &error), platform::InvalidSystemDevice());
        EXPECT_EQ(error, static_cast<uint32_t>(ERROR_NO_MORE_ITEMS));
        error = 0;
        EXPECT_EQ(win32::OpenDeviceInterface(ToGuid(cls), 3, &error), INVALID_HANDLE_VALUE);
        EXPECT_EQ(error, static_cast<uint32_t>(ERROR_NO_MORE_ITEMS));
    }
}

TEST(WindowsDiscovery, RequestOnAHandleThatIsNoDeviceFailsWithTheSystemsError) {
    uint32_t error = 0;
    char reply[2] = {};
    EXPECT_FALSE(platform::SystemDeviceControl(platform::InvalidSystemDevice(), 0x222038, "\0\0", 2,
                                               reply, sizeof reply, &error));
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_INVALID_HANDLE));

    // A plain file is no device: the request is refused, and closing it is
    // the normal CloseHandle.
    HANDLE file = CreateFileA("not_a_device.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    error = 0;
    EXPECT_FALSE(
        platform::SystemDeviceControl(file, 0x22201C, nullptr, 0, reply, sizeof reply, &error));
    EXPECT_NE(error, 0u);
    platform::CloseSystemDevice(file);
    platform::CloseSystemDevice(platform::InvalidSystemDevice());  // ignored
    platform::CloseSystemDevice(nullptr);                          // ignored
    EXPECT_TRUE(DeleteFileA("not_a_device.bin")) << "handle left open";
}

TEST(WindowsDiscovery, EveryModelOpensThroughSetupDiAndReportsTheOpenFailure) {
    for (int model = 1; model <= 5; ++model) {
        std::unique_ptr<nadixq::CNadixDevice> device(nadixq::CreateDevice(model));
        ASSERT_NE(device, nullptr) << model;
        // No in-process driver stands in front of the system on Windows.
        ASSERT_EQ(nadixq::RegisteredDriver(device->_interfaceGuid), nullptr) << model;
        EXPECT_EQ(device->Open(), static_cast<int32_t>(nadixq::platform::kErrorOpenFailed))
            << model;
        EXPECT_FALSE(device->IsOpen()) << model;
    }
}

TEST(WindowsDiscovery, SpectrometerOpenOfEachModelReturns0x8007006E) {
    nadixq::test::TraceCapture trace;
    for (int model = 1; model <= 5; ++model) {
        EXPECT_EQ(spectrometer_open(model), NADIXQ_OPEN_FAILED) << model;
        EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_UNOPENED) << model;
    }
    EXPECT_TRUE(trace.Contains("nadixq open(id = 5)"));
    EXPECT_EQ(spectrometer_open(6), NADIXQ_NO_BOARD_CLASS);
    spectrometer_close();
}

}  // namespace
