#include "result_text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "system_text.h"

namespace acquire {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

bool IsSystemError(uint32_t code) {
    return (code & 0xFFFF0000u) == 0x80070000u;
}

// The system error inside a 0x8007xxxx result.
uint32_t SystemError(uint32_t code) {
    return code & 0xFFFFu;
}

// Descriptions of the board results that mean the same in every step.
const char* BoardResult(uint32_t code) {
    switch (code) {
        case 0x80004001u:
            return "not supported by this board";
        case 0x8007045Du:
            return "the board's driver request failed";
        case 0x80070005u:
            return "the calibration failed";
        case 0x80070006u:
        case 0x20000006u:
            return "board type mismatch: the driver runs a different board";
        case 0x80070007u:
            return "the calibration failed with error 1";
        case 0x80070008u:
            return "the calibration failed with error 2";
        case 0x80070009u:
            return "the calibration failed with error 3";
        case 0x80070012u:
            return "the board's driver is out of date";
        case 0x20000012u:
            return "the calibration failed";
        default:
            return nullptr;
    }
}

}  // namespace

std::string CodeText(int result) {
    const auto code = static_cast<uint32_t>(result);
    if (code < 0x10000u) return Format("%d", result);
    return Format("0x%08X", code);
}

std::string DescribeResult(Step step, int result, int model, const std::string& path) {
    const auto code = static_cast<uint32_t>(result);
    const std::string codeText = " (" + CodeText(result) + ")";
    switch (step) {
        case Step::kOpen:
            if (code == 0x80070011u) return Format("no board class for model %d", model) + codeText;
            if (code == 0x8007006Eu) {
                return Format("the board for model %d did not open: no device of its interface",
                              model) +
                       codeText;
            }
            return Format("opening model %d failed", model) + codeText;
        case Step::kStream:
            if (IsSystemError(code) && SystemError(code) != 0) {
                const std::string text = FileErrorText(SystemError(code));
                if (!text.empty()) {
                    return "cannot create the stream file " + path + ": " + text + codeText;
                }
            }
            if (code == 1) return "the streamed run did not start" + codeText;
            return "cannot create the stream file " + path + codeText;
        default:
            break;
    }

    const char* stepName = "";
    switch (step) {
        case Step::kInitialize:
            stepName = "initialize";
            break;
        case Step::kCalibrate:
            stepName = "calibration";
            break;
        case Step::kStart:
            stepName = "start";
            break;
        case Step::kAux:
            stepName = "aux output";
            break;
        case Step::kFiber:
            stepName = "fiber link";
            break;
        default:
            stepName = "request";
            break;
    }
    if (const char* text = BoardResult(code)) return Format("%s: %s", stepName, text) + codeText;
    if (code == 1) {
        if (step == Step::kStart) return "the run did not start" + codeText;
        return Format("%s refused, or its driver request failed", stepName) + codeText;
    }
    if (IsSystemError(code)) {
        const std::string text = DriverErrorText(SystemError(code));
        if (!text.empty()) return Format("%s failed: ", stepName) + text + codeText;
        return Format("%s failed with system error %u", stepName, SystemError(code)) + codeText;
    }
    return Format("%s failed", stepName) + codeText;
}

}  // namespace acquire
