#include <fenv.h>
#include <setjmp.h>
#include <signal.h>

#include "support/floating_point_traps.h"

namespace nadixq::test {

namespace {

constexpr int kTraps = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
sigjmp_buf gTrapped;

void OnTrap(int) {
    siglongjmp(gTrapped, 1);
}

}  // namespace

bool RunsWithoutFloatingPointTraps(void (*body)(void*), void* context) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = OnTrap;
    sigemptyset(&action.sa_mask);
    sigaction(SIGFPE, &action, &previous);
    bool clean = false;
    feclearexcept(FE_ALL_EXCEPT);
    if (sigsetjmp(gTrapped, 1) == 0) {
        feenableexcept(kTraps);
        body(context);
        clean = true;
    }
    fedisableexcept(kTraps);
    feclearexcept(FE_ALL_EXCEPT);
    sigaction(SIGFPE, &previous, nullptr);
    return clean;
}

}  // namespace nadixq::test
