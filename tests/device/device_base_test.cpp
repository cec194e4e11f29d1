// CNadixDevice's own part (open, close, defaults, GainCode) and the factory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "device/driver_records.h"
#include "device/nadix_device.h"
#include "device/single_adc.h"
#include "support/log_tail.h"
#include "support/scripted_driver.h"

namespace {

using nadixq::CNadixDevice;
using nadixq::CreateDevice;
using nadixq::test::EmptyClass;
using nadixq::test::LogTail;
using nadixq::test::ScriptedDriver;

std::unique_ptr<CNadixDevice> Make(int id) {
    return std::unique_ptr<CNadixDevice>(CreateDevice(id));
}

TEST(GainCode, OnlyExactMultiplesSelectAGain) {
    EXPECT_EQ(nadixq::GainCode(1.0), 7);
    EXPECT_EQ(nadixq::GainCode(2.0), 6);
    EXPECT_EQ(nadixq::GainCode(4.0), 5);
    EXPECT_EQ(nadixq::GainCode(3.0), 7);
    EXPECT_EQ(nadixq::GainCode(0.5), 7);
    EXPECT_EQ(nadixq::GainCode(2.0000001), 7);
    EXPECT_EQ(nadixq::GainCode(-2.0), 7);
}

TEST(DeviceFactory, UnknownModelsYieldNothing) {
    EXPECT_EQ(Make(0), nullptr);
    EXPECT_EQ(Make(6), nullptr);
    EXPECT_EQ(Make(-1), nullptr);
}

TEST(DeviceFactory, SingleModelsGetTheirClassInterfaceAndCapabilities) {
    struct Expected {
        int id;
        const nadixq::platform::Guid* guid;
    };
    for (auto expected :
         {Expected{1, &nadixq::GUID_ACQ_INTERFACE_A}, Expected{2, &nadixq::GUID_ACQ_INTERFACE_B},
          Expected{5, &nadixq::GUID_ACQ_INTERFACE_B}}) {
        SCOPED_TRACE(expected.id);
        auto device = Make(expected.id);
        ASSERT_NE(device, nullptr);
        auto* single = dynamic_cast<nadixq::SingleADC*>(device.get());
        ASSERT_NE(single, nullptr);
        EXPECT_EQ(single->Variant().modelId, expected.id);
        EXPECT_TRUE(nadixq::SameGuid(device->_interfaceGuid, *expected.guid));
        int32_t caps = 0;
        EXPECT_EQ(device->GetCapabilities(&caps), 0);
        EXPECT_EQ(caps, 2);
        EXPECT_FALSE(device->IsOpen());
        EXPECT_EQ(device->_boardType, -1);
        EXPECT_EQ(device->GetImaxPos(), 0);
        EXPECT_EQ(device->GetPoints(), 0);
        EXPECT_EQ(device->_auxState, 0);
        EXPECT_EQ(device->_verbose, 0);
        const double* data = device->GetDataBuffer();
        EXPECT_EQ(data, device->_data);
        for (int i = 0; i < NADIXQ_MAX_POINTS; i += 997) ASSERT_EQ(data[i], 0.0);
    }
    EXPECT_NE(dynamic_cast<nadixq::SingleADC1*>(Make(1).get()), nullptr);
    EXPECT_NE(dynamic_cast<nadixq::SingleADC2*>(Make(2).get()), nullptr);
    EXPECT_NE(dynamic_cast<nadixq::SingleADC5*>(Make(5).get()), nullptr);
}

TEST(DeviceFactory, DualModelsReportTheirCapabilities) {
    auto dual3 = Make(3);
    auto dual4 = Make(4);
    ASSERT_NE(dual3, nullptr);
    ASSERT_NE(dual4, nullptr);
    int32_t caps = 0;
    EXPECT_EQ(dual3->GetCapabilities(&caps), 0);
    EXPECT_EQ(caps, 4);
    EXPECT_EQ(dual4->GetCapabilities(&caps), 0);
    EXPECT_EQ(caps, 2);
}

TEST(NadixDevice, OpenWithoutABoardFailsAndLeavesTheDeviceClosed) {
    for (int id : {1, 2, 5}) {
        SCOPED_TRACE(id);
        auto device = Make(id);
        ASSERT_NE(device, nullptr);
        EmptyClass empty(device->_interfaceGuid);
        EXPECT_EQ(device->Open(), 110);
        EXPECT_FALSE(device->IsOpen());
        EXPECT_EQ(device->CalScan(), 1);
        EXPECT_EQ(device->Initialize(1024, 1.0), 1);
        EXPECT_EQ(device->GetPoints(), 0);  // a refused Initialize stores nothing
        EXPECT_EQ(device->Close(), 0);
        EXPECT_EQ(device->Close(), 0);
        EXPECT_FALSE(device->IsOpen());
    }
}

TEST(NadixDevice, OpenAndCloseLogOnlyWhenVerbose) {
    auto device = Make(1);
    ASSERT_NE(device, nullptr);
    {
        EmptyClass empty(device->_interfaceGuid);
        LogTail quiet;
        EXPECT_EQ(device->Open(), 110);
        EXPECT_EQ(device->Close(), 0);
        EXPECT_TRUE(quiet.Lines().empty());

        device->_verbose = 1;
        LogTail tail;
        EXPECT_EQ(device->Open(), 110);
        EXPECT_EQ(device->Close(), 0);
        EXPECT_EQ(tail.Lines(), (std::vector<std::string>{"CNadixDevice::Open: ERROR= 259",
                                                          "CNadixDevice::Close"}));
    }
    ScriptedDriver driver;
    LogTail tail;
    EXPECT_EQ(device->Open(), 0);
    EXPECT_TRUE(device->IsOpen());
    EXPECT_EQ(device->Close(), 0);
    EXPECT_FALSE(device->IsOpen());
    EXPECT_EQ(tail.Lines(),
              (std::vector<std::string>{"CNadixDevice::Open OK", "CNadixDevice::Close"}));
}

TEST(NadixDevice, DriverRefusalIsReportedAs110) {
    ScriptedDriver driver;
    driver.SetOpenError(5);
    auto device = Make(2);
    device->_verbose = 1;
    LogTail tail;
    EXPECT_EQ(device->Open(), 110);
    EXPECT_FALSE(device->IsOpen());
    EXPECT_EQ(tail.Lines(), (std::vector<std::string>{"CNadixDevice::Open: ERROR= 5"}));
}

TEST(NadixDevice, SingleBoardsRefuseTheFiberLinkWithoutTouchingTheStatus) {
    ScriptedDriver driver;
    for (int id : {1, 2, 5}) {
        SCOPED_TRACE(id);
        auto device = Make(id);
        ASSERT_EQ(device->Open(), 0);
        uint32_t frames[16] = {};
        uint16_t status = 0xABCD;
        EXPECT_EQ(device->WriteFiber(frames, &status), NADIXQ_NOT_IMPLEMENTED);
        EXPECT_EQ(device->ReadFiber(frames, &status), NADIXQ_NOT_IMPLEMENTED);
        EXPECT_EQ(device->GetFiberFrame(frames, 0), NADIXQ_NOT_IMPLEMENTED);
        EXPECT_EQ(status, 0xABCD);
        device->Close();
    }
    EXPECT_TRUE(driver.Requests().empty());
}

}  // namespace
