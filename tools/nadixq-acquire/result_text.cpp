#include "result_text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "interface/nadixq.h"
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

// Descriptions of the board results that mean the same in every step, from
// the table the Python binding reads as well.
struct BoardResultText {
    int code;
    const char* text;
};
constexpr BoardResultText kBoardResults[] = {
#include "board_results.inc"
};

const char* BoardResult(int code) {
    for (const BoardResultText& entry : kBoardResults) {
        if (entry.code == code) return entry.text;
    }
    return nullptr;
}

}  // namespace

std::string CodeText(int result) {
    const auto code = static_cast<uint32_t>(result);
    if (code < 0x10000u) return Format("%d", result);
    return Format("0x%08X", code);
}

std::string DescribeResult(Step step, int result, int model, const std::string& path) {
    const std::string codeText = " (" + CodeText(result) + ")";
    switch (step) {
        case Step::kOpen:
            if (result == NADIXQ_NO_BOARD_CLASS)
                return Format("no board class for model %d", model) + codeText;
            if (result == NADIXQ_OPEN_FAILED) {
                return Format("the board for model %d did not open: no device of its interface",
                              model) +
                       codeText;
            }
            if (result == NADIXQ_OUT_OF_MEMORY) {
                return Format("opening model %d failed: out of memory", model) + codeText;
            }
            return Format("opening model %d failed", model) + codeText;
        case Step::kStream:
            if (result == NADIXQ_OUT_OF_MEMORY) {
                return "cannot create the stream file " + path + ": out of memory" + codeText;
            }
            if (NADIXQ_IS_SYSTEM_ERROR(result) && NADIXQ_SYSTEM_ERROR(result) != 0) {
                const std::string text = FileErrorText(NADIXQ_SYSTEM_ERROR(result));
                if (!text.empty()) {
                    return "cannot create the stream file " + path + ": " + text + codeText;
                }
            }
            if (result == NADIXQ_REFUSED) return "the streamed run did not start" + codeText;
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
    if (const char* text = BoardResult(result)) return Format("%s: %s", stepName, text) + codeText;
    if (result == NADIXQ_REFUSED) {
        if (step == Step::kStart) return "the run did not start" + codeText;
        return Format("%s refused, or its driver request failed", stepName) + codeText;
    }
    if (NADIXQ_IS_SYSTEM_ERROR(result)) {
        const std::string text = DriverErrorText(NADIXQ_SYSTEM_ERROR(result));
        if (!text.empty()) return Format("%s failed: ", stepName) + text + codeText;
        return Format("%s failed with system error %u", stepName, NADIXQ_SYSTEM_ERROR(result)) +
               codeText;
    }
    return Format("%s failed", stepName) + codeText;
}

}  // namespace acquire
