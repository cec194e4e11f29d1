#include <cerrno>

#include "support/system_error.h"

namespace nadixq::test {

uint32_t MissingFolderError() {
    return ENOENT;
}
uint32_t FolderAsFileError() {
    return EISDIR;
}

}  // namespace nadixq::test
