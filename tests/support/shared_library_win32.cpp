#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "support/shared_library.h"

namespace nadixq::test {

ProcessingExportNames ProcessingExports() {
    if (sizeof(void*) == 4) {
        return {"?FindZPD@@YGHPANHHHH@Z", "?BaselineCorrectIfg@@YGHPANHH@Z",
                "?GaussianApodize@@YGHPANHN@Z"};
    }
    return {"_Z7FindZPDPdiiii", "_Z18BaselineCorrectIfgPdii", "_Z15GaussianApodizePdid"};
}

namespace {

// The build's paths are Unix paths; with Windows separators Wine finds them
// from the root of the current drive, which is the Unix file system.
std::string WindowsPath(const char* path) {
    std::string windowsPath = path;
    for (char& c : windowsPath) {
        if (c == '/') c = '\\';
    }
    return windowsPath;
}

}  // namespace

SharedLibrary::SharedLibrary(const char* path) {
    const std::string windowsPath = WindowsPath(path);
    HMODULE module = LoadLibraryA(windowsPath.c_str());
    if (module == nullptr) {
        _error = windowsPath + ": error " + std::to_string(GetLastError());
        return;
    }
    _handle = module;
}

SharedLibrary::~SharedLibrary() {
    if (_handle != nullptr) FreeLibrary(static_cast<HMODULE>(_handle));
}

void* SharedLibrary::Symbol(const char* name) const {
    if (_handle == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(_handle), name));
}

bool SharedLibrary::InMemory(const char* path) {
    return GetModuleHandleA(WindowsPath(path).c_str()) != nullptr;
}

bool SharedLibrary::LeavesAfterARun() {
    return true;
}

}  // namespace nadixq::test
