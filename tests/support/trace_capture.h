// Captures the library's debugger lines in-process for the lifetime of the
// object (the platform's debug sink).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace nadixq::test {

class TraceCapture {
  public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Every captured message, newline included, in arrival order.
    std::vector<std::string> Lines() const;
    // Captured messages with the trailing newline removed.
    std::vector<std::string> Texts() const;
    // Messages that begin with `prefix` (newline removed).
    std::vector<std::string> TextsStartingWith(const std::string& prefix) const;
    bool Contains(const std::string& text) const;
    // Waits until a message equal to `text` (without newline) has arrived.
    bool WaitFor(const std::string& text,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    void Clear();

  private:
    static void Sink(const char* message, void* context);

    mutable std::mutex _mutex;
    mutable std::condition_variable _arrived;
    std::vector<std::string> _lines;
};

}  // namespace nadixq::test
