// The re-entrant lock on Windows is a critical section, re-entrant by nature.
#include <new>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace nadixq::platform {

RecursiveLock::RecursiveLock() : _impl(new CRITICAL_SECTION) {
    ::InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(_impl));
}

RecursiveLock::~RecursiveLock() {
    auto* section = static_cast<CRITICAL_SECTION*>(_impl);
    ::DeleteCriticalSection(section);
    delete section;
}

void RecursiveLock::Enter() {
    ::EnterCriticalSection(static_cast<CRITICAL_SECTION*>(_impl));
}

void RecursiveLock::Leave() {
    ::LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(_impl));
}

}  // namespace nadixq::platform
