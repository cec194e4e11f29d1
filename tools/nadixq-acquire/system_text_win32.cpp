#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "system_text.h"

namespace acquire {
namespace {

// The message table's text in the user's language, on one line: the table
// ends its texts with a period and CR LF, which a message built around the
// text does not want.
std::string SystemMessage(uint32_t error) {
    char text[512];
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == ' ' || message.back() == '\r' ||
                                message.back() == '\n' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

}  // namespace

std::string FileErrorText(uint32_t error) {
    return SystemMessage(error);
}

std::string DriverErrorText(uint32_t error) {
    return SystemMessage(error);
}

}  // namespace acquire
