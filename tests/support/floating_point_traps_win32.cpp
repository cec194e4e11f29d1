#define WIN32_LEAN_AND_MEAN
#include <float.h>
#include <windows.h>
#include <xmmintrin.h>

#include "support/floating_point_traps.h"

namespace nadixq::test {

namespace {

struct Run {
    void (*body)(void*);
    void* context;
    DWORD thread;
    volatile LONG trapped;
};

Run* gRun = nullptr;

bool IsFloatingPointException(DWORD code) {
    switch (code) {
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_OVERFLOW:
        case EXCEPTION_FLT_UNDERFLOW:
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_STACK_CHECK:
        case 0xC00002B4:  // STATUS_FLOAT_MULTIPLE_FAULTS (SSE)
        case 0xC00002B5:  // STATUS_FLOAT_MULTIPLE_TRAPS (SSE)
            return true;
        default:
            return false;
    }
}

// A trap on the test's thread is counted and ends that thread: the
// instruction cannot simply be resumed with the exception still unmasked.
LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    Run* run = gRun;
    if (run == nullptr || GetCurrentThreadId() != run->thread ||
        !IsFloatingPointException(info->ExceptionRecord->ExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    InterlockedExchange(&run->trapped, 1);
    ExitThread(1);
}

DWORD WINAPI RunTrapped(void* argument) {
    Run* run = static_cast<Run*>(argument);
    _clearfp();
    // The x87 control word and, through _controlfp_s on x86, MXCSR; MXCSR
    // once more directly for the SSE arithmetic that the library uses.
    unsigned int previous = 0;
    _controlfp_s(&previous, _MCW_EM & ~(_EM_INVALID | _EM_ZERODIVIDE | _EM_OVERFLOW), _MCW_EM);
    _mm_setcsr(_mm_getcsr() & ~(_MM_MASK_INVALID | _MM_MASK_DIV_ZERO | _MM_MASK_OVERFLOW));
    run->body(run->context);
    return 0;
}

}  // namespace

bool RunsWithoutFloatingPointTraps(void (*body)(void*), void* context) {
    Run run{body, context, 0, 0};
    void* handler = AddVectoredExceptionHandler(1, OnException);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, RunTrapped, &run, CREATE_SUSPENDED, &id);
    if (thread == nullptr) {
        RemoveVectoredExceptionHandler(handler);
        return false;
    }
    run.thread = id;
    gRun = &run;
    ResumeThread(thread);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    gRun = nullptr;
    RemoveVectoredExceptionHandler(handler);
    return run.trapped == 0 && code == 0;
}

}  // namespace nadixq::test
