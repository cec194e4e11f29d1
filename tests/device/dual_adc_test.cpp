// The dual-converter boards against the scripted driver: what each operation
// sends on which interface, how replies are judged, the co-add window of both
// channels, the merge at the end of a file and its class-wide state.
#include "device/dual_adc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

#include "device/driver_records.h"
#include "support/scripted_driver.h"
#include "support/trace_capture.h"

namespace {

using nadixq::CDualADC;
using nadixq::DualADC3;
using nadixq::DualADC4;
using nadixq::DualTransfer;
using nadixq::test::ScriptedDriver;
using nadixq::test::TraceCapture;
using Reply = ScriptedDriver::Reply;

constexpr int kSamples = nadixq::kChannelSamples;
constexpr int32_t kMismatch = NADIXQ_DUAL_BOARD_MISMATCH;
constexpr int32_t kCalFailed = NADIXQ_DUAL_CALIBRATION_FAILED;
constexpr int32_t kFiberFailed = NADIXQ_TRANSFER_FAILED;
constexpr int32_t kNotImpl = NADIXQ_NOT_IMPLEMENTED;

// The codes written out as numbers, so that a slip in the named constants
// shows here too.
struct Codes {
    uint32_t initialize, calScan, getCalStatus, getIfg, writeAux;
};
struct Model {
    int id;
    Codes codes;
    int16_t goodType;
};
constexpr Model kModel3 = {3, {0x22200C, 0x22202C, 0x222010, 0x22201C, 0x222038}, 10};
constexpr Model kModel4 = {4, {0x222004, 0x222014, 0x22200C, 0x222010, 0x222018}, 12};
void PrintTo(const Model& model, std::ostream* out) {
    *out << "model " << model.id;
}

constexpr uint32_t kWriteFiber = 0x222034;
constexpr uint32_t kReadFiber = 0x222030;

std::unique_ptr<CDualADC> MakeBoard(int id) {
    return std::unique_ptr<CDualADC>(dynamic_cast<CDualADC*>(nadixq::CreateDevice(id)));
}

Reply CalReply(int16_t imaxPos, int16_t boardType, uint32_t errorValue = 0) {
    nadixq::calInfo72 info;
    std::memset(&info, 0, sizeof info);
    info.errorvalue = errorValue;
    info.imax_pos = imaxPos;
    info.board_type = boardType;
    return Reply::Of(info);
}

// Samples that tell which index and which channel they came from.
std::vector<int16_t> LowRamp() {
    std::vector<int16_t> s(kSamples);
    for (int i = 0; i < kSamples; ++i) s[i] = static_cast<int16_t>(i - 16384);
    return s;
}
std::vector<int16_t> HighRamp() {
    std::vector<int16_t> s(kSamples);
    for (int i = 0; i < kSamples; ++i) s[i] = static_cast<int16_t>((i * 7) % 30000 - 15000);
    return s;
}

// A centre burst at `centre`: the high-gain channel is exactly 8 x low and
// saturates around the burst.
void BurstChannels(int centre, std::vector<int16_t>& low, std::vector<int16_t>& high) {
    low.assign(kSamples, 0);
    high.assign(kSamples, 0);
    for (int i = 0; i < kSamples; ++i) {
        const double d = i - centre;
        const double v =
            3000.0 * std::exp(-d * d / 300.0) * std::cos(d * 0.4) + 60.0 * std::sin(i * 0.031);
        low[i] = static_cast<int16_t>(std::lround(v));
        high[i] = static_cast<int16_t>(std::clamp(8 * low[i], -32767, 32767));
    }
}

class DualBoard : public ::testing::TestWithParam<Model> {
  protected:
    void SetUp() override {
        board = MakeBoard(GetParam().id);
        ASSERT_NE(board, nullptr);
        ASSERT_EQ(board->Open(), 0);
    }
    void TearDown() override {
        if (board) board->Close();
    }
    const Codes& codes() const { return GetParam().codes; }
    void Calibrate(int16_t imaxPos) {
        driver.Queue(codes().calScan, CalReply(imaxPos, GetParam().goodType));
        ASSERT_EQ(board->CalScan(), 0);
    }
    void Deliver(const std::vector<int16_t>& low, const std::vector<int16_t>& high) {
        driver.Queue(codes().getIfg,
                     ScriptedDriver::DualTransferReply(nadixq::I_COMPLETE, low, high));
        int32_t status = 0;
        ASSERT_EQ(board->GetIFG(&status), 0);
        ASSERT_EQ(status, 1);
    }

    ScriptedDriver driver;  // outlives the board's session
    std::unique_ptr<CDualADC> board;
};

INSTANTIATE_TEST_SUITE_P(Models, DualBoard, ::testing::Values(kModel3, kModel4));

TEST_P(DualBoard, InitializeSendsPointsAndGainCode) {
    EXPECT_EQ(board->Initialize(4096, 2.0), 0);
    auto sent = driver.RequestsWith(codes().initialize);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].in.size(), 8u);
    EXPECT_EQ(sent[0].outSize, 0u);
    nadixq::initParms parms;
    std::memcpy(&parms, sent[0].in.data(), sizeof parms);
    EXPECT_EQ(parms.respts, 4096);
    EXPECT_EQ(parms.gain, 6);
    EXPECT_EQ(parms.option, 64);
    EXPECT_EQ(board->GetPoints(), 4096);

    driver.Queue(codes().initialize, Reply::Failure(31));
    EXPECT_EQ(board->Initialize(1024, 4.0), 31);
    EXPECT_EQ(board->GetPoints(), 1024);  // kept although the board refused
    driver.Queue(codes().initialize, Reply::Failure(0));
    EXPECT_EQ(board->Initialize(512, 1.0), 1);
}

TEST_P(DualBoard, ClosedBoardRefusesInitializeAndCalScanWithoutARequest) {
    TraceCapture trace;
    board->Close();
    EXPECT_EQ(board->Initialize(1024, 1.0), 1);
    EXPECT_EQ(board->CalScan(), 1);
    EXPECT_TRUE(driver.Requests().empty());
    EXPECT_TRUE(trace.Contains("Nadix DualADC::CalScan\n"));
    // The poll has no open test: its request fails on the closed handle.
    int32_t status = 0;
    EXPECT_EQ(board->GetIFG(&status), 1);
    EXPECT_EQ(status, 4);
}

TEST_P(DualBoard, CalScanSendsDefaultsAndTakesTheBurst) {
    TraceCapture trace;
    board->_recomputeLimits = 0;
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    Calibrate(1000);
    auto sent = driver.RequestsWith(codes().calScan);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].in.size(), 12u);
    EXPECT_EQ(sent[0].outSize, 72u);
    nadixq::calParms parms;
    std::memcpy(&parms, sent[0].in.data(), sizeof parms);
    EXPECT_GE(parms.time, before);
    EXPECT_LE(parms.time, before + 5);
    EXPECT_EQ(parms.cal_scan_length, 0xFFFF);
    EXPECT_EQ(parms.gain, 0xFFFF);
    EXPECT_EQ(parms.eos_polarity, 0xFFFF);
    EXPECT_EQ(board->GetImaxPos(), 1000);
    EXPECT_EQ(board->_boardType, GetParam().goodType);
    EXPECT_EQ(board->_recomputeLimits.load(), 1);
    EXPECT_EQ(trace.Texts(), (std::vector<std::string>{"Nadix DualADC::CalScan\n",
                                                       "Nadix DualADC::CalScan OK\n"}));
}

TEST_P(DualBoard, FailedCalibrationChangesNothing) {
    TraceCapture trace;
    Calibrate(700);
    board->_recomputeLimits = 0;
    trace.Clear();

    driver.Queue(codes().calScan, CalReply(900, 0, 1));
    EXPECT_EQ(board->CalScan(), kCalFailed);
    EXPECT_TRUE(trace.Contains("Nadix DualADC::CalScan SE_DRIVER_OUTOFDATE\n"));
    trace.Clear();
    driver.Queue(codes().calScan, CalReply(900, GetParam().goodType, 3));
    EXPECT_EQ(board->CalScan(), kCalFailed);
    EXPECT_FALSE(trace.Contains("Nadix DualADC::CalScan SE_DRIVER_OUTOFDATE\n"));
    driver.Queue(codes().calScan, Reply::Failure(31));
    EXPECT_EQ(board->CalScan(), 1);

    EXPECT_EQ(board->GetImaxPos(), 700);
    EXPECT_EQ(board->_recomputeLimits.load(), 0);
    EXPECT_EQ(board->_boardType, GetParam().goodType);
}

TEST_P(DualBoard, GetIfgStatuses) {
    TraceCapture trace;
    Calibrate(300);
    board->Initialize(1024, 1.0);

    int32_t status = -1;
    driver.Queue(codes().getIfg, ScriptedDriver::DualTransferReply(2, LowRamp(), HighRamp()));
    EXPECT_EQ(board->GetIFG(&status), 0);
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(
        std::all_of(board->_lowSum, board->_lowSum + kSamples, [](double v) { return v == 0; }));
    EXPECT_TRUE(
        std::all_of(board->_highSum, board->_highSum + kSamples, [](double v) { return v == 0; }));

    driver.Queue(codes().getIfg, ScriptedDriver::DualTransferReply(4));
    EXPECT_EQ(board->GetIFG(&status), 0);
    EXPECT_EQ(status, 4);
    EXPECT_TRUE(trace.Contains("dualADC.GetIFG: error 4"));

    auto sent = driver.RequestsWith(codes().getIfg);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(sent[0].in.empty());
    EXPECT_EQ(sent[0].outSize, 131116u);
}

TEST_P(DualBoard, FailedTransferDumpsTheHeaderItHolds) {
    auto transfer = std::make_unique<DualTransfer>();
    std::memset(transfer.get(), 0, sizeof(DualTransfer));
    auto& h = transfer->header;
    h.ifg_complete = 3;
    h.ram_start = 7;
    h.scan_num = 65535;
    h.time_count = 3;
    h.ram_end = 4000000000u;
    h.pts = -5;
    h.tttt = 9;
    h.safe = 10;
    h.err_cnt = 11;
    h.err_adr = 12;
    h.try_1 = -1;
    h.try_2 = -2;
    h.try_3 = 3;
    driver.Queue(codes().getIfg, Reply::Of(*transfer));
    int32_t status = 0;
    ASSERT_EQ(board->GetIFG(&status), 0);

    TraceCapture trace;
    driver.Queue(codes().getIfg, Reply::Failure(31));
    EXPECT_EQ(board->GetIFG(&status), 1);
    EXPECT_EQ(status, 4);
    EXPECT_EQ(trace.Texts(), (std::vector<std::string>{
                                 "dualADC.GetIFG: error: DeviceIoControl returned False",
                                 "last error = 31",
                                 "istate.ifg_complete= 3",
                                 "istate.ram_start= 7",
                                 "istate.scan_num= 65535",
                                 "istate.time_count= 3",
                                 "istate.ram_end= 4000000000",
                                 "istate.pts= -5",
                                 "istate.tttt= 9",
                                 "istate.safe= 10",
                                 "istate.err_cnt= 11",
                                 "istate.err_adr= 12",
                                 "istate.try_1= 4294967295",
                                 "istate.try_2= 4294967294",
                                 "istate.try_3= 3",
                             }));
}

// Co-adds one scan of the two ramps and checks both windows.
void ExpectWindow(const CDualADC& board, int start, int pts) {
    auto low = LowRamp();
    auto high = HighRamp();
    for (int k = 0; k < pts; ++k) {
        ASSERT_EQ(board._lowSum[k], low[start + k]) << "index " << k;
        ASSERT_EQ(board._highSum[k], high[start + k]) << "index " << k;
    }
    for (int k = pts; k < kSamples; ++k) {
        ASSERT_EQ(board._lowSum[k], 0.0) << "index " << k;
        ASSERT_EQ(board._highSum[k], 0.0) << "index " << k;
    }
}

TEST_P(DualBoard, CoaddWindowStartsBeforeTheBurstAndStaysInTheChannel) {
    struct Case {
        int16_t imaxPos;
        int32_t pts;
        int start, span;
    };
    const Case cases[] = {
        {100, 4096, 0, 4096},        // the burst lies within the lead-in
        {1000, 4096, 744, 4096},     // 256 before the burst
        {-20, 512, 0, 512},          // a negative burst index
        {32000, 4096, 28672, 4096},  // would pass the end: clamped to end there
        {1000, 40000, 0, kSamples},  // more points than a channel holds
        {1000, 32768, 0, kSamples}, {1000, -3, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "imax " << c.imaxPos << " pts " << c.pts);
        Calibrate(c.imaxPos);
        board->_pts = c.pts;
        board->ClearCoadd();
        Deliver(LowRamp(), HighRamp());
        ExpectWindow(*board, c.start, c.span);
    }
}

TEST_P(DualBoard, PrepareDataAveragesTheMergeAndThenReusesItsLimits) {
    std::vector<int16_t> low, high;
    BurstChannels(1000, low, high);
    Calibrate(1000);
    ASSERT_EQ(board->Initialize(2048, 1.0), 0);
    board->ClearCoadd();
    for (int scan = 0; scan < 4; ++scan) Deliver(low, high);
    board->PrepareData(4);

    // Outside the clipped region the high-gain sum is exactly 8 x the
    // low-gain one: the merged sum is 4 x low, and a quarter of it is left.
    for (int k = 0; k < 2048; ++k) ASSERT_NEAR(board->_data[k], low[744 + k], 1e-6) << k;
    EXPECT_EQ(board->_recomputeLimits.load(), 0);
    auto& state = GetParam().id == 3 ? DualADC3::ClassCombiner() : DualADC4::ClassCombiner();
    EXPECT_LT(state.m2, 256);
    EXPECT_GT(state.m3, 256);
    const int32_t m2 = state.m2, m3 = state.m3;

    // The next file, without a calibration in between, keeps the limits even
    // though its burst has moved.
    BurstChannels(1500, low, high);
    board->ClearCoadd();
    Deliver(low, high);
    board->PrepareData(1);
    EXPECT_EQ(state.m2, m2);
    EXPECT_EQ(state.m3, m3);

    // A calibration asks for new ones.
    Calibrate(1000);
    board->ClearCoadd();
    Deliver(low, high);
    board->PrepareData(1);
    EXPECT_GT(state.m2, 256 + 400);
}

TEST_P(DualBoard, PrepareDataWithoutScansLeavesZerosNotNan) {
    board->_pts = 1024;
    std::fill(board->_highSum, board->_highSum + 1024, 5.0);
    board->PrepareData(0);
    for (int k = 0; k < 1024; ++k) ASSERT_EQ(board->_data[k], 0.0);
    EXPECT_EQ(board->_recomputeLimits.load(), 1);
}

TEST_P(DualBoard, WriteAuxChangesOnlyTheMaskedLines) {
    board->_auxState = 0x0F00;
    driver.Queue(codes().writeAux, Reply::Of(uint16_t{0x1234}));
    uint16_t reply = 0;
    EXPECT_EQ(board->WriteAux(0x00FF, 0x000F, &reply), 0);
    EXPECT_EQ(reply, 0x1234);
    auto sent = driver.RequestsWith(codes().writeAux);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].in.size(), 2u);
    EXPECT_EQ(sent[0].outSize, 2u);
    EXPECT_EQ(sent[0].in[0] | (sent[0].in[1] << 8), 0x0F0F);

    driver.Queue(codes().writeAux, Reply::Failure(31));
    EXPECT_EQ(board->WriteAux(0x0000, 0x0F00, &reply), 1);
    EXPECT_EQ(board->GetAuxState(0), 0x000F);  // the new word stays
}

TEST_P(DualBoard, CalStatusAndCapabilities) {
    int32_t ok = -1;
    EXPECT_EQ(board->GetCalStatus(&ok), 0);
    EXPECT_EQ(ok, 1);
    auto sent = driver.RequestsWith(codes().getCalStatus);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].in.empty());
    EXPECT_EQ(sent[0].outSize, 72u);
    driver.Queue(codes().getCalStatus, Reply::Failure(31));
    EXPECT_EQ(board->GetCalStatus(&ok), 1);
    EXPECT_EQ(ok, 0);

    int32_t caps = 0;
    EXPECT_EQ(board->GetCapabilities(&caps), 0);
    EXPECT_EQ(caps, GetParam().id == 3 ? 4 : 2);

    Deliver(LowRamp(), HighRamp());
    EXPECT_EQ(board->GetRawIFG(0)[5], LowRamp()[5]);
    EXPECT_EQ(board->GetRawIFG(1)[5], HighRamp()[5]);
}

TEST_P(DualBoard, ScanThreadAndHostCallsDoNotRace) {
    driver.SetDefault(codes().getIfg,
                      ScriptedDriver::DualTransferReply(nadixq::I_COMPLETE, LowRamp(), HighRamp()));
    driver.SetDefault(codes().calScan, CalReply(600, GetParam().goodType));
    board->Initialize(1024, 1.0);
    std::thread scanThread([&] {
        for (int file = 0; file < 20; ++file) {
            board->ClearCoadd();
            int32_t status = 0;
            for (int scan = 0; scan < 4; ++scan) board->GetIFG(&status);
            board->PrepareData(4);
        }
    });
    for (int i = 0; i < 20; ++i) {
        board->CalScan();
        board->Initialize(i % 2 ? 1024 : 2048, 1.0);
        board->WriteAux(static_cast<uint16_t>(i), 0xFF, nullptr);
    }
    scanThread.join();
    EXPECT_EQ(board->GetImaxPos(), 600);
}

// Board types: each class checks the first good one it sees, once.
struct TypeCase {
    int model;
    int16_t first, second;
    int32_t firstResult, secondResult;
    int32_t storedType;
};

void PrintTo(const TypeCase& c, std::ostream* out) {
    *out << "model " << c.model << " types " << c.first << " then " << c.second;
}

class DualBoardTypes : public ::testing::TestWithParam<TypeCase> {};

TEST_P(DualBoardTypes, AreCheckedOnceOnTheFirstGoodCalibration) {
    const TypeCase& c = GetParam();
    ScriptedDriver driver;
    auto board = MakeBoard(c.model);
    ASSERT_EQ(board->Open(), 0);
    TraceCapture trace;
    const uint32_t code = c.model == 3 ? 0x22202C : 0x222014;
    driver.Queue(code, CalReply(500, c.first));
    driver.Queue(code, CalReply(600, c.second));
    EXPECT_EQ(board->CalScan(), c.firstResult);
    EXPECT_EQ(trace.Contains("Nadix DualADC::CalScan SE_DRIVER_BOARD_MISMATCH\n"),
              c.firstResult == kMismatch);
    EXPECT_EQ(board->GetImaxPos(), c.firstResult == 0 ? 500 : 0);
    EXPECT_EQ(board->CalScan(), c.secondResult);
    EXPECT_EQ(board->_boardType, c.storedType);
    board->Close();
}

INSTANTIATE_TEST_SUITE_P(
    Models, DualBoardTypes,
    ::testing::Values(TypeCase{3, 10, 11, 0, 0, 10}, TypeCase{3, 11, 12, 0, 0, 11},
                      TypeCase{3, 12, 12, kMismatch, 0, 12}, TypeCase{3, 0, 10, kMismatch, 0, 0},
                      TypeCase{4, 12, 10, 0, 0, 12}, TypeCase{4, 10, 12, kMismatch, 0, 10},
                      TypeCase{4, 11, 11, kMismatch, 0, 11},
                      // Above 13: accepted and not stored, so the next one is checked.
                      TypeCase{4, 14, 11, 0, kMismatch, 11}, TypeCase{3, 20, 10, 0, 0, 10}));

TEST(DualBoardState, MergeStateIsSharedWithinAClassOnly) {
    ASSERT_NE(&DualADC3::ClassCombiner(), &DualADC4::ClassCombiner());
    auto a3 = MakeBoard(3);
    auto b3 = MakeBoard(3);
    auto c4 = MakeBoard(4);
    auto prepare = [](CDualADC& board, int centre) {
        std::vector<int16_t> low, high;
        BurstChannels(centre, low, high);
        board._pts = 1024;
        board.ClearCoadd();
        for (int k = 0; k < 1024; ++k) {
            board._lowSum[k] = low[k];
            board._highSum[k] = high[k];
        }
        board.PrepareData(1);
    };
    auto& state3 = DualADC3::ClassCombiner();
    auto& state4 = DualADC4::ClassCombiner();

    prepare(*a3, 300);
    EXPECT_LT(state3.m2, 300);
    EXPECT_GT(state3.m3, 300);
    prepare(*c4, 700);
    EXPECT_LT(state4.m2, 700);
    EXPECT_GT(state4.m3, 700);
    EXPECT_LT(state3.m3, 400);  // model 4 left model 3's limits alone

    prepare(*b3, 600);  // a new object of the class recomputes for all
    const int32_t m2 = state3.m2;
    EXPECT_GT(m2, 500);
    prepare(*a3, 300);  // a3 has merged before: it reuses b3's limits
    EXPECT_EQ(state3.m2, m2);
    EXPECT_GT(state4.m2, 600);
}

TEST(DualBoardFiber, Model3WritesAndReadsFrames) {
    ScriptedDriver driver;
    auto board = MakeBoard(3);
    ASSERT_EQ(board->Open(), 0);
    uint32_t frames[16];
    for (int i = 0; i < 16; ++i) frames[i] = 0xA0000000u + i;

    driver.Queue(kWriteFiber, Reply::Of(uint16_t{0x0042}));
    uint16_t status = 0;
    EXPECT_EQ(board->WriteFiber(frames, &status), 0);
    EXPECT_EQ(status, 0x0042);
    auto sent = driver.RequestsWith(kWriteFiber);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].in.size(), 68u);
    EXPECT_EQ(sent[0].outSize, 2u);
    EXPECT_EQ(std::memcmp(sent[0].in.data() + 4, frames, 64), 0);

    // A failed write still updates the cache; the status is not handed back.
    frames[3] = 0x33;
    driver.Queue(kWriteFiber, Reply::Failure(31));
    status = 7;
    EXPECT_EQ(board->WriteFiber(frames, &status), kFiberFailed);
    EXPECT_EQ(status, 7);
    uint32_t cached[16] = {};
    EXPECT_EQ(board->GetFiberFrame(cached, 0), 0);
    EXPECT_EQ(std::memcmp(cached, frames, sizeof cached), 0);

    nadixq::FiberReply reply;
    std::memset(&reply, 0, sizeof reply);
    reply.status = 0x0101;
    for (int i = 0; i < 16; ++i) reply.frames[i] = 0xB0000000u + i;
    driver.Queue(kReadFiber, Reply::Of(reply));
    uint32_t read[16] = {};
    EXPECT_EQ(board->ReadFiber(read, &status), 0);
    EXPECT_EQ(status, 0x0101);
    EXPECT_EQ(read[15], 0xB000000Fu);
    sent = driver.RequestsWith(kReadFiber);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].in.size(), 2u);
    EXPECT_EQ(sent[0].outSize, 68u);

    // A failed read hands nothing back and keeps the cache.
    driver.Queue(kReadFiber, Reply::Failure(31));
    uint32_t untouched[16] = {};
    EXPECT_EQ(board->ReadFiber(untouched, &status), kFiberFailed);
    EXPECT_EQ(untouched[0], 0u);
    EXPECT_EQ(status, 0x0101);
    EXPECT_EQ(board->GetFiberFrame(cached, 0), 0);
    EXPECT_EQ(std::memcmp(cached, read, sizeof cached), 0);
    EXPECT_EQ(board->WriteFiber(nullptr, &status), nadixq::kNullPointerResult);
    board->Close();
}

TEST(DualBoardFiber, Model4HasNoFiberLink) {
    ScriptedDriver driver;
    auto board = MakeBoard(4);
    ASSERT_EQ(board->Open(), 0);
    uint32_t frames[16];
    for (int i = 0; i < 16; ++i) frames[i] = 0xC0 + i;
    uint16_t status = 9;
    EXPECT_EQ(board->WriteFiber(frames, &status), kNotImpl);
    EXPECT_EQ(board->ReadFiber(frames, &status), kNotImpl);
    EXPECT_EQ(status, 9);
    EXPECT_EQ(frames[0], 0xC0u);
    EXPECT_TRUE(driver.Requests().empty());
    uint32_t cached[16] = {1};
    EXPECT_EQ(board->GetFiberFrame(cached, 0), 0);
    for (uint32_t word : cached) EXPECT_EQ(word, 0u);
    board->Close();
}

}  // namespace
