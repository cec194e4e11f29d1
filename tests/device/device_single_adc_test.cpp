// The single-converter boards against the scripted driver: what each
// operation sends, how each reply is judged, the co-add window and the logs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "device/driver_records.h"
#include "device/single_adc.h"
#include "support/log_tail.h"
#include "support/scripted_driver.h"

namespace {

using nadixq::calInfo56;
using nadixq::calInfo60;
using nadixq::SingleADC;
using nadixq::SingleTransfer;
using nadixq::test::LogTail;
using nadixq::test::ScriptedDriver;
using Reply = ScriptedDriver::Reply;
using Lines = std::vector<std::string>;

constexpr int kSamples = nadixq::kChannelSamples;

// The control codes each model must use, written out as numbers so that a
// slip in the named constants shows here too.
struct Codes {
    uint32_t initialize, calScan, getCalStatus, getIfg, writeAux;
};
constexpr Codes kCodesA = {0x22200C, 0x22202C, 0x222010, 0x22201C, 0x222038};
constexpr Codes kCodesB = {0x222004, 0x222014, 0x22200C, 0x222010, 0x222018};

struct Model {
    int id;
    Codes codes;
    uint32_t calSize;
};
constexpr Model kModel1 = {1, kCodesA, 60};
constexpr Model kModel2 = {2, kCodesB, 60};
constexpr Model kModel5 = {5, kCodesB, 56};

void PrintTo(const Model& model, std::ostream* out) {
    *out << "model " << model.id;
}

// A sample value that tells which index it came from.
int16_t SampleAt(int i) {
    return static_cast<int16_t>(i - 16384);
}

std::vector<int16_t> Ramp() {
    std::vector<int16_t> samples(kSamples);
    for (int i = 0; i < kSamples; ++i) samples[i] = SampleAt(i);
    return samples;
}

Reply Cal60(uint32_t errorvalue, int16_t imaxPos, int16_t boardType) {
    calInfo60 info{};
    info.errorvalue = errorvalue;
    info.imax_pos = imaxPos;
    info.board_type = boardType;
    return Reply::Of(info);
}

Reply Cal56(int16_t errorvalue, int16_t imaxPos, int16_t word54 = 0) {
    calInfo56 info{};
    info.errorvalue = errorvalue;
    info.imax_pos = imaxPos;
    info.unused = word54;
    return Reply::Of(info);
}

// A board of one model, open on a scripted driver for both classes.
class Board {
  public:
    explicit Board(const Model& m) : model(m) {
        device.reset(static_cast<SingleADC*>(nadixq::CreateDevice(m.id)));
        EXPECT_EQ(device->Open(), 0);
    }
    ~Board() { device->Close(); }

    // A calibration that succeeds with this centre burst.
    void Calibrate(int16_t imaxPos) {
        if (model.calSize == 56) {
            driver.Queue(model.codes.calScan, Cal56(0, imaxPos));
        } else {
            driver.Queue(model.codes.calScan, Cal60(0, imaxPos, model.id == 1 ? 9 : 13));
        }
        ASSERT_EQ(device->CalScan(), 0);
    }
    int32_t Transfer(const Reply& reply, int32_t* status) {
        driver.Queue(model.codes.getIfg, reply);
        return device->GetIFG(status);
    }

    ScriptedDriver driver;
    Model model;
    std::unique_ptr<SingleADC> device;
};

class SingleAdcModels : public testing::TestWithParam<Model> {};

INSTANTIATE_TEST_SUITE_P(All, SingleAdcModels, testing::Values(kModel1, kModel2, kModel5),
                         [](const testing::TestParamInfo<Model>& info) {
                             return "SingleADC" + std::to_string(info.param.id);
                         });

TEST_P(SingleAdcModels, EveryOperationUsesItsOwnInterfacesCodeAndRecord) {
    Board board(GetParam());
    const Codes& codes = GetParam().codes;
    int32_t value = 0;
    uint16_t reply = 0;

    ASSERT_EQ(board.device->Initialize(70000, 2.0), 0);
    const std::time_t before = std::time(nullptr);
    board.device->CalScan();
    const std::time_t after = std::time(nullptr);
    board.device->GetCalStatus(&value);
    board.device->GetIFG(&value);
    board.device->WriteAux(1, 1, &reply);

    auto requests = board.driver.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].code, codes.initialize);
    ASSERT_EQ(requests[0].in.size(), 8u);
    nadixq::initParms init;
    std::memcpy(&init, requests[0].in.data(), sizeof init);
    EXPECT_EQ(init.respts, 70000 & 0xFFFF);  // only the low 16 bits travel
    EXPECT_EQ(init.gain, 6);
    EXPECT_EQ(init.option, 64);
    EXPECT_EQ(requests[0].outSize, 0u);
    EXPECT_EQ(board.device->GetPoints(), 70000);

    EXPECT_EQ(requests[1].code, codes.calScan);
    ASSERT_EQ(requests[1].in.size(), 12u);
    nadixq::calParms parms;
    std::memcpy(&parms, requests[1].in.data(), sizeof parms);
    EXPECT_GE(parms.time, static_cast<uint32_t>(before));
    EXPECT_LE(parms.time, static_cast<uint32_t>(after));
    EXPECT_EQ(parms.cal_scan_length, 0xFFFF);
    EXPECT_EQ(parms.gain, 0xFFFF);
    EXPECT_EQ(parms.eos_polarity, 0xFFFF);
    EXPECT_EQ(requests[1].outSize, GetParam().calSize);

    EXPECT_EQ(requests[2].code, codes.getCalStatus);
    EXPECT_TRUE(requests[2].in.empty());
    EXPECT_EQ(requests[2].outSize, GetParam().calSize);

    EXPECT_EQ(requests[3].code, codes.getIfg);
    EXPECT_TRUE(requests[3].in.empty());
    EXPECT_EQ(requests[3].outSize, 65580u);

    EXPECT_EQ(requests[4].code, codes.writeAux);
    EXPECT_EQ(requests[4].in, (std::vector<uint8_t>{1, 0}));
    EXPECT_EQ(requests[4].outSize, 2u);
}

TEST_P(SingleAdcModels, CalibrationErrorValuesMapToTheirResults) {
    Board board(GetParam());
    board.Calibrate(700);
    const bool is56 = GetParam().calSize == 56;
    struct Case {
        int16_t errorvalue;
        int32_t result;
    };
    for (auto c : {Case{1, NADIXQ_CALIBRATION_ERROR_1}, Case{2, NADIXQ_CALIBRATION_ERROR_2},
                   Case{3, NADIXQ_CALIBRATION_ERROR_3}, Case{4, NADIXQ_CALIBRATION_FAILED},
                   Case{-1, NADIXQ_CALIBRATION_FAILED}}) {
        SCOPED_TRACE(c.errorvalue);
        const uint32_t wide = static_cast<uint32_t>(static_cast<int32_t>(c.errorvalue));
        board.driver.Queue(GetParam().codes.calScan,
                           is56 ? Cal56(c.errorvalue, 5, 0) : Cal60(wide, 5, 9));
        EXPECT_EQ(board.device->CalScan(), c.result);
        EXPECT_EQ(board.device->GetImaxPos(), 700);  // a failure keeps the old burst
    }
    board.driver.Queue(GetParam().codes.calScan, Reply::Failure(31));
    EXPECT_EQ(board.device->CalScan(), NADIXQ_CALIBRATION_FAILED);
    EXPECT_EQ(board.device->GetImaxPos(), 700);
}

TEST_P(SingleAdcModels, FailedCalibrationFromAnOldDriver) {
    Board board(GetParam());
    board.driver.Queue(GetParam().codes.calScan,
                       GetParam().calSize == 56 ? Cal56(2, 5) : Cal60(2, 5, 0));
    const int32_t expected =
        GetParam().id == 5 ? NADIXQ_CALIBRATION_ERROR_2 : NADIXQ_DRIVER_OUT_OF_DATE;
    EXPECT_EQ(board.device->CalScan(), expected);
    EXPECT_EQ(board.device->_boardType, -1);
    EXPECT_EQ(board.device->GetImaxPos(), 0);
}

TEST_P(SingleAdcModels, DriverThatFillsNothingIsAGoodCalibrationOfBoardTypeZero) {
    Board board(GetParam());
    board.device->_imaxPos = 1234;
    // No scripted reply: the buffer keeps what the board put in it.
    const int32_t result = board.device->CalScan();
    if (GetParam().id == 5) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(board.device->GetImaxPos(), 0);
        EXPECT_EQ(board.device->_boardType, -1);
    } else {
        EXPECT_EQ(result, NADIXQ_BOARD_MISMATCH);
        EXPECT_EQ(board.device->_boardType, 0);
        EXPECT_EQ(board.device->GetImaxPos(), 1234);
    }
}

TEST_P(SingleAdcModels, PollsThatAreNotFinishedLeaveTheSumAlone) {
    Board board(GetParam());
    ASSERT_EQ(board.device->Initialize(512, 1.0), 0);
    LogTail log;
    for (uint32_t state : {0u, 2u, 3u, 0x12345u}) {
        int32_t status = -1;
        EXPECT_EQ(board.Transfer(ScriptedDriver::SingleTransferReply(state, Ramp()), &status), 0);
        EXPECT_EQ(status, static_cast<int32_t>(state));
    }
    for (int i = 0; i < 512; ++i) ASSERT_EQ(board.device->_data[i], 0.0);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_P(SingleAdcModels, CompleteTransferIsCoaddedFromTheWindowBeforeTheBurst) {
    Board board(GetParam());
    ASSERT_EQ(board.device->Initialize(1000, 1.0), 0);
    board.Calibrate(1000);
    int32_t status = 0;
    ASSERT_EQ(board.Transfer(ScriptedDriver::SingleTransferReply(1, Ramp()), &status), 0);
    EXPECT_EQ(status, 1);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(board.device->_data[i], SampleAt(744 + i)) << i;
    EXPECT_EQ(board.device->_data[1000], 0.0);

    // A second scan adds to the first.
    ASSERT_EQ(board.Transfer(ScriptedDriver::SingleTransferReply(1, Ramp()), &status), 0);
    EXPECT_EQ(board.device->_data[0], 2.0 * SampleAt(744));

    // The raw samples are the last transfer's, whatever channel is asked.
    int16_t* raw = board.device->GetRawIFG(0);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw, board.device->GetRawIFG(1));
    EXPECT_EQ(raw[5], SampleAt(5));
}

TEST_P(SingleAdcModels, CapabilitiesAndAuxStateAccessors) {
    Board board(GetParam());
    int32_t caps = 0;
    EXPECT_EQ(board.device->GetCapabilities(&caps), 0);
    EXPECT_EQ(caps, 2);
    board.device->WriteAux(0xFFFF, 0x8001, nullptr);
    EXPECT_EQ(board.device->GetAuxState(12345), 0x8001);
}

// ------------------------------------------------------------ calibration --

TEST(SingleAdcCalScan, BoardTypeIsCheckedOnceAndKeptOnMismatch) {
    Board board(kModel1);
    board.driver.Queue(0x22202C, Cal60(0, 300, 11));
    EXPECT_EQ(board.device->CalScan(), NADIXQ_BOARD_MISMATCH);
    EXPECT_EQ(board.device->_boardType, 11);
    EXPECT_EQ(board.device->GetImaxPos(), 0);
    board.driver.Queue(0x22202C, Cal60(0, 300, 11));
    EXPECT_EQ(board.device->CalScan(), 0);
    EXPECT_EQ(board.device->_boardType, 11);
    EXPECT_EQ(board.device->GetImaxPos(), 300);
}

TEST(SingleAdcCalScan, MatchingTypeIsStoredAndLaterTypesAreNotChecked) {
    Board board(kModel1);
    board.driver.Queue(0x22202C, Cal60(0, 400, 9));
    EXPECT_EQ(board.device->CalScan(), 0);
    EXPECT_EQ(board.device->_boardType, 9);
    EXPECT_EQ(board.device->GetImaxPos(), 400);
    board.driver.Queue(0x22202C, Cal60(0, 401, 12));
    EXPECT_EQ(board.device->CalScan(), 0);
    EXPECT_EQ(board.device->_boardType, 9);
    EXPECT_EQ(board.device->GetImaxPos(), 401);
}

TEST(SingleAdcCalScan, TypesAboveThirteenAreNotStored) {
    Board board(kModel2);
    board.driver.Queue(0x222014, Cal60(0, 10, 14));
    EXPECT_EQ(board.device->CalScan(), 0);
    EXPECT_EQ(board.device->_boardType, -1);
    board.driver.Queue(0x222014, Cal60(0, 10, 9));  // model 1's type: mismatch for 2
    EXPECT_EQ(board.device->CalScan(), NADIXQ_BOARD_MISMATCH);
    board.driver.Queue(0x222014, Cal60(0, 10, 13));
    EXPECT_EQ(board.device->CalScan(), 0);
}

TEST(SingleAdcCalScan, Model2AcceptsType13) {
    Board board(kModel2);
    board.driver.Queue(0x222014, Cal60(0, 20, 13));
    EXPECT_EQ(board.device->CalScan(), 0);
    EXPECT_EQ(board.device->_boardType, 13);
}

TEST(SingleAdcCalScan, ShortRecordReadsItsOwnOffsetsAndIgnoresTheLastWord) {
    Board board(kModel5);
    for (int16_t word54 : {int16_t{0}, int16_t{9}, int16_t{-1}, int16_t{0x7FFF}}) {
        board.driver.Queue(0x222014, Cal56(0, static_cast<int16_t>(500 + word54 % 7), word54));
        EXPECT_EQ(board.device->CalScan(), 0);
        EXPECT_EQ(board.device->GetImaxPos(), 500 + word54 % 7);
    }
    // The bytes at the long form's imax_pos (offset 20) are not the burst.
    calInfo56 info{};
    info.imax_pos = 77;
    info.imax_neg = 999;
    board.driver.Queue(0x222014, Reply::Of(info));
    EXPECT_EQ(board.device->CalScan(), 0);
    EXPECT_EQ(board.device->GetImaxPos(), 77);
    EXPECT_EQ(board.device->_boardType, -1);
}

TEST(SingleAdcCalScan, FailedCalibrationDumpsTheRecord) {
    Board board(kModel1);
    calInfo60 info{};
    info.parms.time = 4000000000u;
    info.parms.cal_scan_length = 0xFFFF;
    info.parms.gain = 7;
    info.parms.eos_polarity = 1;
    info.errorvalue = 2;
    info.max_pos = 32000;
    info.max_neg = -32000;
    info.imax_pos = 15000;
    info.imax_neg = -3;
    info.datastart = 12;
    for (int i = 0; i < 15; ++i) info.zpd_region[i] = static_cast<int16_t>(i * 100 - 700);
    info.board_type = 9;
    board.driver.Queue(0x22202C, Reply::Of(info));
    LogTail log;
    EXPECT_EQ(board.device->CalScan(), NADIXQ_CALIBRATION_ERROR_2);

    Lines expected = {"calInfo.errorvalue= 2",
                      "calInfo.calParms.time= 4000000000",
                      "calInfo.calParms.cal_scan_length= 65535",
                      "calInfo.calParms.gain= 7",
                      "calInfo.calParms.eos_polarity= 1",
                      "calInfo.max_pos= 32000",
                      "calInfo.max_neg= -32000",
                      "calInfo.imax_pos= 15000",
                      "calInfo.imax_neg= -3",
                      "calInfo.datastart= 12"};
    for (int i = 0; i < 15; ++i) {
        expected.push_back("calInfo.zpd_region[" + std::to_string(i) +
                           "]= " + std::to_string(i * 100 - 700) + "  ");
    }
    EXPECT_EQ(log.Lines(), expected);
}

TEST(SingleAdcCalScan, ShortRecordPrintsANegativeErrorWidened) {
    Board board(kModel5);
    board.driver.Queue(0x222014, Cal56(-2, 5));
    LogTail log;
    EXPECT_EQ(board.device->CalScan(), NADIXQ_CALIBRATION_FAILED);
    Lines lines = log.Lines();
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[0], "calInfo.errorvalue= 4294967294");
    EXPECT_EQ(lines[7], "calInfo.imax_pos= 5");
}

TEST(SingleAdcCalScan, VerboseTraceAndStatusLines) {
    Board board(kModel2);
    board.device->_verbose = 1;
    LogTail log;
    board.device->Close();
    EXPECT_EQ(board.device->CalScan(), 1);  // traced before the open test
    ASSERT_EQ(board.device->Open(), 0);
    board.driver.Queue(0x22200C, Reply::Failure(21));
    int32_t callOk = -1;
    EXPECT_EQ(board.device->GetCalStatus(&callOk), 1);
    EXPECT_EQ(callOk, 0);
    EXPECT_EQ(board.device->GetCalStatus(&callOk), 0);
    EXPECT_EQ(callOk, 1);
    EXPECT_EQ(log.Lines(), (Lines{"CNadixDevice::Close", "KORAVEL: SingleADC::CalScan",
                                  "CNadixDevice::Open OK", "KORAVEL: SingleADC::GetCalStatus: 0",
                                  "KORAVEL: SingleADC::GetCalStatus: 1"}));
}

// ------------------------------------------------------------- initialize --

TEST(SingleAdcInitialize, FailureReturnsTheDriversErrorAndKeepsThePoints) {
    Board board(kModel1);
    board.driver.Queue(0x22200C, Reply::Failure(31));
    EXPECT_EQ(board.device->Initialize(2048, 4.0), static_cast<int32_t>(0x8007001Fu));
    EXPECT_EQ(board.device->GetPoints(), 2048);
    board.driver.Queue(0x22200C, Reply::Failure(0x12345));
    EXPECT_EQ(board.device->Initialize(4096, 1.0), static_cast<int32_t>(0x80072345u));
    // A failure without an error code still fails.
    board.driver.Queue(0x22200C, Reply::Failure(0));
    EXPECT_EQ(board.device->Initialize(8192, 1.0), static_cast<int32_t>(0x80070001u));
    auto sent = board.driver.RequestsWith(0x22200C);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].in[2], 5);  // gain 4.0
}

// ----------------------------------------------------------------- GetIFG --

// A transfer whose header fields are all distinct.
Reply MarkedTransfer(uint32_t state) {
    auto transfer = std::make_unique<SingleTransfer>();
    std::memset(transfer.get(), 0, sizeof *transfer);
    auto& h = transfer->header;
    h.ifg_complete = state;
    h.ram_start = 3000000000u;
    h.scan_num = 65535;
    h.time_count = 17;
    h.ram_end = 123456;
    h.pts = -5;
    h.tttt = 8;
    h.safe = 9;
    h.err_cnt = 10;
    h.err_adr = 11;
    h.try_1 = -2;
    h.try_2 = 0;
    h.try_3 = 300;
    for (int i = 0; i < kSamples; ++i) transfer->samples[i] = SampleAt(i);
    return Reply::Of(*transfer);
}

Lines HeaderDump(const std::string& lastError, uint32_t state) {
    return {"last error = " + lastError,
            "istate.ifg_complete= " + std::to_string(state),
            "istate.ram_start= 3000000000",
            "istate.scan_num= 65535",
            "istate.time_count= 17",
            "istate.ram_end= 123456",
            "istate.pts= -5",
            "istate.tttt= 8",
            "istate.safe= 9",
            "istate.err_cnt= 10",
            "istate.err_adr= 11",
            "istate.try_1= 4294967294",
            "istate.try_2= 0",
            "istate.try_3= 300"};
}

std::string SampleLine(int i) {
    return "\t(" + std::to_string(i) + "): " + std::to_string(SampleAt(i));
}

TEST(SingleAdcGetIFG, ErrorStateDumpsHeaderAndTheEightSamplesAroundTheBurst) {
    Board board(kModel2);
    board.Calibrate(1000);
    ASSERT_EQ(board.device->Initialize(100, 1.0), 0);
    board.driver.Queue(0x222010, MarkedTransfer(4));
    LogTail log;
    // An I_ERROR transfer succeeded: the dump shows what an earlier call left.
    nadixq::platform::SetLastError(87);
    int32_t status = 0;
    EXPECT_EQ(board.device->GetIFG(&status), NADIXQ_TRANSFER_FAILED);
    EXPECT_EQ(status, 4);
    Lines expected = {"singleADC.GetIFG: error"};
    for (auto& line : HeaderDump("87", 4)) expected.push_back(line);
    for (int i = 996; i <= 1003; ++i) expected.push_back(SampleLine(i));
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_EQ(board.device->_data[0], 0.0);  // an error is not co-added
}

TEST(SingleAdcGetIFG, FailedRequestDumpsWhatThePreviousTransferLeft) {
    Board board(kModel1);
    board.Calibrate(4);
    int32_t status = 0;
    ASSERT_EQ(board.Transfer(MarkedTransfer(2), &status), 0);
    LogTail log;
    status = 0;
    EXPECT_EQ(board.Transfer(Reply::Failure(1117), &status), NADIXQ_TRANSFER_FAILED);
    EXPECT_EQ(status, 4);
    Lines expected = {"singleADC.GetIFG: error: DeviceIoControl returned False"};
    for (auto& line : HeaderDump("1117", 2)) expected.push_back(line);
    for (int i = 0; i <= 7; ++i) expected.push_back(SampleLine(i));
    EXPECT_EQ(log.Lines(), expected);
}

TEST(SingleAdcGetIFG, DumpPrintsOnlySamplesThatExist) {
    struct Case {
        int32_t imaxPos;
        int first, last;  // last < first: no sample line
    };
    for (auto c : {Case{2, 0, 5}, Case{32766, 32762, 32767}, Case{-4, 0, -1}, Case{-3, 0, 0},
                   Case{32771, 32767, 32767}, Case{40000, 1, 0}, Case{INT32_MIN, 1, 0},
                   Case{INT32_MAX, 1, 0}}) {
        SCOPED_TRACE(c.imaxPos);
        Board board(kModel5);
        board.device->_imaxPos = c.imaxPos;
        LogTail log;
        int32_t status = 0;
        EXPECT_EQ(board.Transfer(MarkedTransfer(4), &status), NADIXQ_TRANSFER_FAILED);
        Lines lines = log.Lines();
        ASSERT_GE(lines.size(), 15u);
        Lines samples(lines.begin() + 15, lines.end());
        Lines expected;
        for (int i = c.first; i <= c.last; ++i) expected.push_back(SampleLine(i));
        EXPECT_EQ(samples, expected);
    }
}

TEST(SingleAdcGetIFG, VerboseCompleteTraceAndCoaddCount) {
    Board board(kModel5);
    ASSERT_EQ(board.device->Initialize(64, 1.0), 0);
    int32_t status = 0;
    LogTail quiet;
    ASSERT_EQ(board.Transfer(ScriptedDriver::SingleTransferReply(1, Ramp()), &status), 0);
    EXPECT_TRUE(quiet.Lines().empty());
    board.device->_verbose = 1;
    LogTail log;
    ASSERT_EQ(board.Transfer(ScriptedDriver::SingleTransferReply(1, Ramp()), &status), 0);
    EXPECT_EQ(log.Lines(), (Lines{"KORAVEL: SingleADC::GetIFG: I_COMPLETE", "Coadd 64"}));
}

// A board whose transfer buffer could not be allocated.
class BufferlessADC : public nadixq::SingleADC1 {
  public:
    BufferlessADC() { _istate.reset(); }
};

TEST(SingleAdcGetIFG, MissingTransferBufferIsAFailedTransfer) {
    ScriptedDriver driver;
    auto board = std::make_unique<BufferlessADC>();
    ASSERT_EQ(board->Open(), 0);
    ASSERT_EQ(board->Initialize(100, 1.0), 0);
    driver.ClearRequests();
    int32_t status = 0;
    EXPECT_EQ(board->GetIFG(&status), NADIXQ_TRANSFER_FAILED);
    EXPECT_EQ(status, 4);
    EXPECT_TRUE(driver.Requests().empty());
    EXPECT_EQ(board->GetRawIFG(0), nullptr);
    EXPECT_EQ(board->Coadd(), 0);
    EXPECT_EQ(board->_data[0], 0.0);
    board->Close();
}

// ------------------------------------------------------------------ Coadd --

// Co-adds one ramp transfer with the given burst and point count and
// returns the board for inspection.
std::unique_ptr<Board> CoaddOnce(int32_t imaxPos, int32_t pts) {
    auto board = std::make_unique<Board>(kModel1);
    EXPECT_EQ(board->device->Initialize(pts, 1.0), 0);
    board->device->_imaxPos = imaxPos;
    int32_t status = 0;
    EXPECT_EQ(board->Transfer(ScriptedDriver::SingleTransferReply(1, Ramp()), &status), 0);
    return board;
}

TEST(SingleAdcCoadd, WindowStartsAtZeroWhenTheBurstIsEarly) {
    for (int32_t imax : {0, 100, 256, -7, INT32_MIN}) {
        SCOPED_TRACE(imax);
        auto board = CoaddOnce(imax, 300);
        for (int i = 0; i < 300; ++i) ASSERT_EQ(board->device->_data[i], SampleAt(i)) << i;
        EXPECT_EQ(board->device->_data[300], 0.0);
    }
}

TEST(SingleAdcCoadd, WindowThatWouldPassTheEndEndsAtTheLastSample) {
    for (int32_t imax : {32767, 32500, 40000, INT32_MAX}) {
        SCOPED_TRACE(imax);
        auto board = CoaddOnce(imax, 1000);
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(board->device->_data[i], SampleAt(31768 + i));
    }
    // Just inside: no clamping.
    auto board = CoaddOnce(32024, 1000);
    EXPECT_EQ(board->device->_data[0], SampleAt(31768));
    board = CoaddOnce(32023, 1000);
    EXPECT_EQ(board->device->_data[0], SampleAt(31767));
}

TEST(SingleAdcCoadd, PointCountIsBoundByTheChannel) {
    auto board = CoaddOnce(1000, 40000);
    for (int i = 0; i < kSamples; ++i) ASSERT_EQ(board->device->_data[i], SampleAt(i)) << i;
    board = CoaddOnce(1000, -5);
    EXPECT_EQ(board->device->_data[0], 0.0);
    board->device->PrepareData(1);
}

TEST(SingleAdcCoadd, NothingIsAddedBeforeInitialize) {
    Board board(kModel2);
    int32_t status = 0;
    ASSERT_EQ(board.Transfer(ScriptedDriver::SingleTransferReply(1, Ramp()), &status), 0);
    for (int i = 0; i < kSamples; i += 101) ASSERT_EQ(board.device->_data[i], 0.0);
}

TEST(SingleAdcCoadd, MeanOfFourIdenticalScansRestoresTheScan) {
    Board board(kModel2);
    ASSERT_EQ(board.device->Initialize(30000, 1.0), 0);
    board.Calibrate(1000);
    int32_t status = 0;
    for (int scan = 0; scan < 4; ++scan) {
        ASSERT_EQ(board.Transfer(ScriptedDriver::SingleTransferReply(1, Ramp()), &status), 0);
    }
    board.device->PrepareData(4);
    for (int i = 0; i < 30000; ++i) ASSERT_EQ(board.device->_data[i], SampleAt(744 + i)) << i;

    // Three scans: the reciprocal is applied once per point.
    board.device->ClearCoadd();
    for (int i = 0; i < kSamples; i += 97) ASSERT_EQ(board.device->_data[i], 0.0);
    for (int scan = 0; scan < 3; ++scan) {
        ASSERT_EQ(board.Transfer(ScriptedDriver::SingleTransferReply(1, Ramp()), &status), 0);
    }
    board.device->PrepareData(3);
    EXPECT_EQ(board.device->_data[10], (3.0 * SampleAt(754)) * (1.0 / 3));

    // No scans: the sum is not turned into infinities.
    board.device->ClearCoadd();
    ASSERT_EQ(board.Transfer(ScriptedDriver::SingleTransferReply(1, Ramp()), &status), 0);
    board.device->PrepareData(0);
    EXPECT_EQ(board.device->_data[0], SampleAt(744));
}

TEST(SingleAdcCoadd, PrepareDataNeverWritesPastTheResult) {
    Board board(kModel1);
    ASSERT_EQ(board.device->Initialize(50000, 1.0), 0);
    board.device->_data[kSamples - 1] = 8.0;
    board.device->PrepareData(2);
    EXPECT_EQ(board.device->_data[kSamples - 1], 4.0);
}

// --------------------------------------------------------------- WriteAux --

TEST(SingleAdcWriteAux, MaskedBitsAccumulateAcrossCalls) {
    Board board(kModel1);
    uint16_t reply = 0;
    ASSERT_EQ(board.device->WriteAux(0x00F0, 0x00FF, &reply), 0);
    board.device->_verbose = 1;
    LogTail log;
    Reply answer;
    answer.bytes = {0xEF, 0xBE};
    board.driver.Queue(0x222038, answer);
    EXPECT_EQ(board.device->WriteAux(0x0005, 0x000F, &reply), 0);
    EXPECT_EQ(reply, 0xBEEF);  // the driver's reply word is handed back
    EXPECT_EQ(board.device->WriteAux(0x0000, 0x0001, &reply), 0);
    auto sent = board.driver.RequestsWith(0x222038);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].in, (std::vector<uint8_t>{0xF5, 0x00}));
    EXPECT_EQ(sent[2].in, (std::vector<uint8_t>{0xF4, 0x00}));
    EXPECT_EQ(board.device->GetAuxState(0), 0x00F4);
    EXPECT_EQ(log.Lines(), (Lines{"SingleAdc::WriteAux data= 0x5 mask= 0xF state=0xF0",
                                  "SingleAdc::WriteAux writing 0xF5",
                                  "SingleAdc::WriteAux data= 0x0 mask= 0x1 state=0xF5",
                                  "SingleAdc::WriteAux writing 0xF4"}));
}

TEST(SingleAdcWriteAux, FailureKeepsTheNewStateForTheNextCall) {
    Board board(kModel5);
    board.driver.Queue(0x222018, Reply::Failure(31));
    uint16_t reply = 0x5555;
    EXPECT_EQ(board.device->WriteAux(0xFF00, 0xFF00, &reply), NADIXQ_TRANSFER_FAILED);
    EXPECT_EQ(reply, 0x5555);
    EXPECT_EQ(board.device->GetAuxState(0), 0xFF00);
    EXPECT_EQ(board.device->WriteAux(0x0001, 0x0001, nullptr), 0);
    EXPECT_EQ(board.driver.RequestsWith(0x222018).back().in, (std::vector<uint8_t>{0x01, 0xFF}));
    // Closed: the request cannot succeed, yet the state still moves.
    board.device->Close();
    EXPECT_EQ(board.device->WriteAux(0x0000, 0xFFFF, nullptr), NADIXQ_TRANSFER_FAILED);
    EXPECT_EQ(board.device->GetAuxState(0), 0);
}

// ---------------------------------------------------------------- threads --

// The scan thread polls and co-adds while the host recalibrates and drives
// the aux lines, as during a run; the shared values must not race.
TEST(SingleAdcThreads, HostCallsDuringPolling) {
    Board board(kModel1);
    ASSERT_EQ(board.device->Initialize(1024, 1.0), 0);
    board.driver.SetDefault(0x22201C, ScriptedDriver::SingleTransferReply(1, Ramp()));
    board.driver.SetDefault(0x22202C, Cal60(0, 2000, 9));
    std::atomic<int> failures{0};
    std::thread scan([&] {
        int32_t callOk = 0;
        if (board.device->GetCalStatus(&callOk) != 0) ++failures;
        for (int i = 0; i < 200; ++i) {
            int32_t status = 0;
            if (board.device->GetIFG(&status) != 0 || status != 1) ++failures;
        }
    });
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(board.device->CalScan(), 0);
        EXPECT_EQ(board.device->WriteAux(static_cast<uint16_t>(i), 0xFF, nullptr), 0);
        EXPECT_EQ(board.device->Initialize(1024, 2.0), 0);
    }
    scan.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(board.device->GetImaxPos(), 2000);
}

}  // namespace
