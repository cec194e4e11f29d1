#include "support/log_tail.h"

#include <gtest/gtest.h>

namespace nadixq::test {

namespace {

constexpr const char* kLogPath = "nadixq_log.txt";

std::streamoff LogSize() {
    std::ifstream in(kLogPath, std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

}  // namespace

LogTail::LogTail() : _previous(std::filesystem::current_path()) {
    static const std::filesystem::path base = std::filesystem::current_path();
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    const auto dir = base / "logs" / name;
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    _start = LogSize();
}

LogTail::~LogTail() {
    std::filesystem::current_path(_previous);
}

std::vector<std::string> LogTail::Lines() const {
    std::ifstream in(kLogPath, std::ios::binary);
    in.seekg(_start);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        // The text-mode line end is CR LF on Windows.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "[MM-DD hh:mm:ss]  message"
        lines.push_back(line.size() >= 18 && line[0] == '[' ? line.substr(18) : line);
    }
    return lines;
}

EmptyClass::EmptyClass(const platform::Guid& cls)
    : _cls(cls), _previous(RegisteredDriver(cls)), _previousFallback(FallbackDriver(cls)) {
    UnregisterDriver(cls);
    RegisterFallbackDriver(cls, nullptr);
}

EmptyClass::~EmptyClass() {
    RegisterDriver(_cls, _previous);
    RegisterFallbackDriver(_cls, _previousFallback);
}

}  // namespace nadixq::test
