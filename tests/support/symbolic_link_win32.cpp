#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "support/symbolic_link.h"

#ifndef SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
#define SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE 0x2
#endif

namespace nadixq::test {

bool MakeSymbolicLink(const char* target, const char* link) {
    // Without developer mode the flag is refused; try once without it.
    if (::CreateSymbolicLinkA(link, target, SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
        return true;
    }
    return ::CreateSymbolicLinkA(link, target, 0) != 0;
}

}  // namespace nadixq::test
