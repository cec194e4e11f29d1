// One-line, human descriptions of the library's failure results, always
// naming the code, so that a failed run says what went wrong and with what.
#pragma once

#include <string>

namespace acquire {

// The step of the run whose result is described.
enum class Step { kOpen, kInitialize, kCalibrate, kStart, kStream, kAux, kFiber };

// E.g. "no board class for model 7 (0x80070011)". `model` names the board
// for the open step, `path` the stream file for the stream step.
std::string DescribeResult(Step step, int result, int model, const std::string& path = "");

// The code as printed in a message: small values in decimal, the HRESULT-like
// ones as 0x%08X.
std::string CodeText(int result);

}  // namespace acquire
