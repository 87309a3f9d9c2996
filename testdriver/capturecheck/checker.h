// Checks a capture against what the host must do in each buffer half: input k copied
// byte for byte into output k (k below the smaller channel count, pairs taken in the
// order the host created its buffers), the swept tone added to outputs 0 and 1 (or
// written alone where no input was copied), every other output untouched.
#pragma once

#include <cstdint>
#include <string>

#include "captureFile.h"

namespace capcheck {

struct CheckOptions {
    bool noLoop = false;      // the host ran without loopback
    bool noSine = false;      // the host ran without the tone
    uint32_t minSwitches = 1; // fewer switches fail
    uint32_t allowedLate = 0; // more late switches fail
    uint32_t bufferSize = 0;  // when not 0: the buffers the host asked for, in samples
    double sampleRate = 0.0;  // when not 0: the rate the stream started at
};

struct CheckResult {
    bool ok = false;
    std::string message; // the summary, or the first fault found
};

CheckResult checkCapture(const Capture& capture, const CheckOptions& options);

} // namespace capcheck
