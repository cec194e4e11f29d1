#include <dlfcn.h>

#include "support/shared_library.h"

namespace nadixq::test {

ProcessingExportNames ProcessingExports() {
    return {"_Z7FindZPDPdiiii", "_Z18BaselineCorrectIfgPdii", "_Z15GaussianApodizePdid"};
}

SharedLibrary::SharedLibrary(const char* path) {
    _handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (_handle == nullptr) {
        const char* error = dlerror();
        _error = error != nullptr ? error : "dlopen failed";
    }
}

SharedLibrary::~SharedLibrary() {
    if (_handle != nullptr) dlclose(_handle);
}

void* SharedLibrary::Symbol(const char* name) const {
    return _handle != nullptr ? dlsym(_handle, name) : nullptr;
}

bool SharedLibrary::InMemory(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

bool SharedLibrary::LeavesAfterARun() {
    return false;
}

}  // namespace nadixq::test
