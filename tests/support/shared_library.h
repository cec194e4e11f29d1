// Loads the built shared library (nadixq.so, nadixq.dll) at run time and finds
// its exports by name, as a host that binds late does.
#pragma once

#include <string>

namespace nadixq::test {

// The names under which the library exports its three processing functions:
// those a 32-bit Windows C++ compiler gives them in the 32-bit DLL, the
// compiler's own C++ names everywhere else.
struct ProcessingExportNames {
    const char* findZpd;
    const char* baselineCorrectIfg;
    const char* gaussianApodize;
};
ProcessingExportNames ProcessingExports();

class SharedLibrary {
  public:
    explicit SharedLibrary(const char* path);  // Loaded() tells whether it worked
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool Loaded() const { return _handle != nullptr; }
    // Why the load failed, for the test's message.
    const std::string& Error() const { return _error; }
    // The export of that name, or null.
    void* Symbol(const char* name) const;

    // Whether the library at `path` is in the process's memory now (loaded
    // by anyone, this object or the library itself).
    static bool InMemory(const char* path);
    // Whether the library leaves memory once the host has unloaded it and
    // its last run has ended (Windows); false where a library that ever ran
    // an acquisition stays resident until the process exits (POSIX).
    static bool LeavesAfterARun();

  private:
    void* _handle = nullptr;
    std::string _error;
};

}  // namespace nadixq::test
