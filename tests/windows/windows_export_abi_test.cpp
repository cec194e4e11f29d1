// The DLL as a host that knows nothing of nadixq.h sees it: it binds all 32
// exports late, by name, with function types written from the export list,
// and calls them many times. On 32-bit Windows every export is __stdcall: the
// callee removes its arguments, so each call must return with the stack
// pointer where it was before the arguments were pushed. A probe written in
// assembly pushes the arguments, calls, and measures exactly that.
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

#if defined(__i386__)
// int32_t nadixq_probe_call(fn, words, count, eaxEdx, st0): pushes
// words[count-1] .. words[0], calls fn, stores eax:edx in eaxEdx[0..1] and,
// when st0 is not null, pops the x87 result into it. Returns how far the
// stack pointer moved across the call: 0 when the callee removed its
// arguments, -4 * count when it left them to the caller.
asm(R"(
    .text
    .globl nadixq_probe_call
nadixq_probe_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %edi
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  call *8(%ebp)
    movl %esp, %ebx
    movl %edi, %esp
    movl 20(%ebp), %ecx
    movl %eax, (%ecx)
    movl %edx, 4(%ecx)
    movl 24(%ebp), %ecx
    testl %ecx, %ecx
    jz 3f
    fstpl (%ecx)
3:  movl %ebx, %eax
    subl %edi, %eax
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");
extern "C" int32_t ProbeCall(void* fn, const uint32_t* words, int32_t count, uint32_t* eaxEdx,
                             double* st0) __asm__("nadixq_probe_call");
constexpr bool kCanProbe = true;
#else
// One calling convention only on x86-64: nothing to measure.
int32_t ProbeCall(void*, const uint32_t*, int32_t, uint32_t*, double*) {
    return 0;
}
constexpr bool kCanProbe = false;
#endif

// The export list, as a host would write it down.
using SetGainFn = double(__stdcall*)(double);
using GetDoubleFn = double(__stdcall*)();
using SetIntFn = int(__stdcall*)(int);
using GetIntFn = int(__stdcall*)();
using SetHandleFn = int(__stdcall*)(void*);
using GetDataFn = int(__stdcall*)(double*, int, double*);
using StreamFn = int(__stdcall*)(const char*);
using FiberFn = int(__stdcall*)(unsigned int*);
using WriteAuxFn = int(__stdcall*)(unsigned short, unsigned short);
using FindZpdFn = int(__stdcall*)(double*, int, int, int, int);
using BaselineFn = int(__stdcall*)(double*, int, int);
using ApodizeFn = int(__stdcall*)(double*, int, double);

// Arguments that every export accepts without an instrument: valid buffers,
// and values that refuse or do nothing.
struct Arguments {
    double ifg[64] = {};
    double stamp = 0.0;
    unsigned int frame[16] = {};
    char path[64] = "abi-probe.spc";
};

struct Export {
    const char* name;
    int words;  // 4-byte argument words the callee removes
    bool returnsDouble;
};

uint32_t Word(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// Lays out the arguments of `e` as the caller pushes them.
int ArgumentWords(const Export& e, Arguments& a, uint32_t* words) {
    const std::string name = e.name;
    const double two = 2.0;
    uint32_t twoWords[2];
    std::memcpy(twoWords, &two, sizeof two);
    if (name == "spectrometer_setGain" || name == "spectrometer_setResolution") {
        words[0] = twoWords[0];
        words[1] = twoWords[1];
    } else if (name == "spectrometer_getData") {
        words[0] = Word(a.ifg);
        words[1] = 64;
        words[2] = Word(&a.stamp);
    } else if (name == "spectrometer_streamToDisk") {
        words[0] = Word(a.path);
    } else if (name == "spectrometer_writeFiber" || name == "spectrometer_readFiber") {
        words[0] = Word(a.frame);
    } else if (name == "spectrometer_writeAux") {
        words[0] = 0x5;
        words[1] = 0xF;
    } else if (name == "?FindZPD@@YGHPANHHHH@Z") {
        words[0] = Word(a.ifg);
        words[1] = 64;
        words[2] = 0;
        words[3] = static_cast<uint32_t>(-1);
        words[4] = static_cast<uint32_t>(-1);
    } else if (name == "?BaselineCorrectIfg@@YGHPANHH@Z") {
        words[0] = Word(a.ifg);
        words[1] = 64;
        words[2] = 1;
    } else if (name == "?GaussianApodize@@YGHPANHN@Z") {
        words[0] = Word(a.ifg);
        words[1] = 64;
        words[2] = twoWords[0];
        words[3] = twoWords[1];
    } else {
        // The int setters (a point count, scans, files, a model that does
        // not exist), execute and the event handles (null: signalling off).
        for (int i = 0; i < e.words; ++i) words[i] = (name == "spectrometer_open") ? 9 : 0;
        if (name == "spectrometer_setPoints") words[0] = 1024;
        if (name == "spectrometer_setScans" || name == "spectrometer_setFiles") words[0] = 3;
    }
    return e.words;
}

const Export kExports[] = {
    {"spectrometer_setGain", 2, true},
    {"spectrometer_getGain", 0, true},
    {"spectrometer_setResolution", 2, true},
    {"spectrometer_getResolution", 0, true},
    {"spectrometer_setPoints", 1, false},
    {"spectrometer_getPoints", 0, false},
    {"spectrometer_setScans", 1, false},
    {"spectrometer_getScans", 0, false},
    {"spectrometer_setFiles", 1, false},
    {"spectrometer_getFiles", 0, false},
    {"spectrometer_setScanCompleteEventHandle", 1, false},
    {"spectrometer_setCoaddCompleteEventHandle", 1, false},
    {"spectrometer_getStatus", 0, false},
    {"spectrometer_getScanProgress", 0, false},
    {"spectrometer_getFileProgress", 0, false},
    {"spectrometer_execute", 1, false},
    {"spectrometer_open", 1, false},
    {"spectrometer_close", 0, false},
    {"spectrometer_initialize", 0, false},
    {"spectrometer_calibrationScan", 0, false},
    {"spectrometer_getCapabilities", 0, false},
    {"spectrometer_startCoadd", 0, false},
    {"spectrometer_stop", 0, false},
    {"spectrometer_getData", 3, false},
    {"spectrometer_getTimestamp", 0, true},
    {"spectrometer_streamToDisk", 1, false},
    {"spectrometer_writeFiber", 1, false},
    {"spectrometer_readFiber", 1, false},
    {"spectrometer_writeAux", 2, false},
    {"?FindZPD@@YGHPANHHHH@Z", 5, false},
    {"?BaselineCorrectIfg@@YGHPANHH@Z", 3, false},
    {"?GaussianApodize@@YGHPANHN@Z", 4, false},
};

class ExportAbi : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string path = NADIXQ_SHARED_LIBRARY;
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        _library = LoadLibraryA(path.c_str());
        ASSERT_NE(_library, nullptr) << path << " error " << GetLastError();
    }
    void TearDown() override {
        if (_library != nullptr) FreeLibrary(_library);
    }
    void* Find(const char* name) { return reinterpret_cast<void*>(GetProcAddress(_library, name)); }
    template <typename Fn>
    Fn Bind(const char* name) {
        return reinterpret_cast<Fn>(Find(name));
    }

    HMODULE _library = nullptr;
};

TEST_F(ExportAbi, EveryExportRemovesItsOwnArguments) {
    if (!kCanProbe) GTEST_SKIP() << "x86-64 has one calling convention";
    ASSERT_EQ(sizeof kExports / sizeof kExports[0], 32u);
    Arguments arguments;
    for (const Export& e : kExports) {
        void* fn = Find(e.name);
        ASSERT_NE(fn, nullptr) << e.name;
        for (int call = 0; call < 200; ++call) {
            uint32_t words[8];
            const int count = ArgumentWords(e, arguments, words);
            uint32_t result[2] = {};
            double fpResult = 0.0;
            const int32_t moved =
                ProbeCall(fn, words, count, result, e.returnsDouble ? &fpResult : nullptr);
            ASSERT_EQ(moved, 0) << e.name << " left " << -moved << " bytes on the stack";
        }
    }
}

// Bound through the host's own types, the calls give what the export list
// promises, loop after loop (a convention mismatch would walk the stack
// pointer away a few bytes per call).
TEST_F(ExportAbi, TypedCallsInALoopGiveThePromisedResults) {
    auto setGain = Bind<SetGainFn>("spectrometer_setGain");
    auto getGain = Bind<GetDoubleFn>("spectrometer_getGain");
    auto setResolution = Bind<SetGainFn>("spectrometer_setResolution");
    auto getPoints = Bind<GetIntFn>("spectrometer_getPoints");
    auto setScans = Bind<SetIntFn>("spectrometer_setScans");
    auto getScans = Bind<GetIntFn>("spectrometer_getScans");
    auto setHandle = Bind<SetHandleFn>("spectrometer_setCoaddCompleteEventHandle");
    auto open = Bind<SetIntFn>("spectrometer_open");
    auto close = Bind<GetIntFn>("spectrometer_close");
    auto getData = Bind<GetDataFn>("spectrometer_getData");
    auto stream = Bind<StreamFn>("spectrometer_streamToDisk");
    auto readFiber = Bind<FiberFn>("spectrometer_readFiber");
    auto writeAux = Bind<WriteAuxFn>("spectrometer_writeAux");
    auto findZpd = Bind<FindZpdFn>("?FindZPD@@YGHPANHHHH@Z");
    auto baseline = Bind<BaselineFn>("?BaselineCorrectIfg@@YGHPANHH@Z");
    auto apodize = Bind<ApodizeFn>("?GaussianApodize@@YGHPANHN@Z");
    if (!kCanProbe) {
        // The 64-bit DLL exports the compiler's own C++ names.
        findZpd = Bind<FindZpdFn>("_Z7FindZPDPdiiii");
        baseline = Bind<BaselineFn>("_Z18BaselineCorrectIfgPdii");
        apodize = Bind<ApodizeFn>("_Z15GaussianApodizePdid");
    }
    ASSERT_TRUE(setGain && getGain && setResolution && getPoints && setScans && getScans &&
                setHandle && open && close && getData && stream && readFiber && writeAux &&
                findZpd && baseline && apodize);

    Arguments a;
    for (int round = 0; round < 2000; ++round) {
        ASSERT_EQ(setGain(2.0 + round), 2.0 + round);
        ASSERT_EQ(getGain(), 2.0 + round);
        ASSERT_EQ(setResolution(16.5), 16.5);
        ASSERT_EQ(getPoints(), 512);
        ASSERT_EQ(setScans(round), round);
        ASSERT_EQ(getScans(), round);
        ASSERT_EQ(setHandle(nullptr), 0);
        ASSERT_EQ(open(0), static_cast<int>(0x80070011));  // no such model
        ASSERT_EQ(getData(a.ifg, 64, &a.stamp), 1);        // nothing open
        ASSERT_EQ(stream(a.path), 1);
        ASSERT_EQ(readFiber(a.frame), 0);
        ASSERT_EQ(writeAux(1, 1), 0);
        ASSERT_EQ(close(), 1);

        // A burst with its maximum at 30 and its minimum at 33; the one
        // crossing is nearest 32.
        const double burst[] = {0.5, 3.0, 9.0, 4.0, -2.0, -8.0, -3.0, 0.5};
        for (int i = 0; i < 64; ++i) a.ifg[i] = 0.25;
        for (int i = 0; i < 8; ++i) a.ifg[28 + i] = burst[i];
        ASSERT_EQ(findZpd(a.ifg, 64, 0, -1, -1), 32);
        const double ramp[] = {1.0, 2.0, 3.0, 4.0};
        std::memcpy(a.ifg, ramp, sizeof ramp);
        ASSERT_EQ(baseline(a.ifg, 4, 1), 1);
        ASSERT_EQ(a.ifg[0], -1.5);
        ASSERT_EQ(a.ifg[3], 1.5);
        ASSERT_EQ(apodize(a.ifg, 64, 0.0), 0);  // width refused, array untouched
        ASSERT_EQ(a.ifg[3], 1.5);
    }
    setGain(1.0);
    setScans(16);
}

}  // namespace
