// Loads the built shared library (nadixq.so, nadixq.dll) at run time and finds
// its exports by name, as a host that binds late does.
#pragma once

#include <string>

namespace nadixq::test {

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

  private:
    void* _handle = nullptr;
    std::string _error;
};

}  // namespace nadixq::test
