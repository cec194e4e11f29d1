#include <mutex>
#include <new>

#include "platform/platform.h"

namespace nadixq::platform {

RecursiveLock::RecursiveLock() : _impl(new std::recursive_mutex) {}

RecursiveLock::~RecursiveLock() {
    delete static_cast<std::recursive_mutex*>(_impl);
}

void RecursiveLock::Enter() {
    static_cast<std::recursive_mutex*>(_impl)->lock();
}

void RecursiveLock::Leave() {
    static_cast<std::recursive_mutex*>(_impl)->unlock();
}

}  // namespace nadixq::platform
