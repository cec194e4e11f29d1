#include "support/trace_capture.h"

#include <algorithm>

#include "platform/platform.h"

namespace nadixq::test {

TraceCapture::TraceCapture() {
    platform::SetDebugSink(&TraceCapture::Sink, this);
}

TraceCapture::~TraceCapture() {
    platform::SetDebugSink(nullptr, nullptr);
}

void TraceCapture::Sink(const char* message, void* context) {
    auto* self = static_cast<TraceCapture*>(context);
    {
        std::lock_guard<std::mutex> lock(self->_mutex);
        self->_lines.emplace_back(message);
    }
    self->_arrived.notify_all();
}

std::vector<std::string> TraceCapture::Lines() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _lines;
}

static std::string WithoutNewline(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::vector<std::string> TraceCapture::Texts() const {
    std::vector<std::string> texts;
    for (auto& line : Lines()) texts.push_back(WithoutNewline(line));
    return texts;
}

std::vector<std::string> TraceCapture::TextsStartingWith(const std::string& prefix) const {
    std::vector<std::string> texts;
    for (auto& text : Texts()) {
        if (text.compare(0, prefix.size(), prefix) == 0) texts.push_back(text);
    }
    return texts;
}

bool TraceCapture::Contains(const std::string& text) const {
    auto texts = Texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

bool TraceCapture::WaitFor(const std::string& text, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(_mutex);
    return _arrived.wait_for(lock, timeout, [&] {
        for (auto& line : _lines) {
            if (WithoutNewline(line) == text) return true;
        }
        return false;
    });
}

void TraceCapture::Clear() {
    std::lock_guard<std::mutex> lock(_mutex);
    _lines.clear();
}

}  // namespace nadixq::test
