#include <unistd.h>

#include "support/symbolic_link.h"

namespace nadixq::test {

bool MakeSymbolicLink(const char* target, const char* link) {
    return symlink(target, link) == 0;
}

}  // namespace nadixq::test
