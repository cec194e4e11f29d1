#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "support/symbolic_link.h"

#ifndef SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
#define SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE 0x2
#endif

namespace nadixq::test {

bool MakeSymbolicLink(const char* target, const char* link) {
    // Without developer mode the flag is refused; try once without it.
    if (!::CreateSymbolicLinkA(link, target, SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        !::CreateSymbolicLinkA(link, target, 0)) {
        return false;
    }
    // Wine reports success without creating anything (it has no reparse
    // points): only a link that is there counts.
    const DWORD attributes = ::GetFileAttributesA(link);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace nadixq::test
