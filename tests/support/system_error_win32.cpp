#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "support/system_error.h"

namespace nadixq::test {

uint32_t MissingFolderError() {
    return ERROR_PATH_NOT_FOUND;
}
uint32_t FolderAsFileError() {
    return ERROR_ACCESS_DENIED;
}

}  // namespace nadixq::test
