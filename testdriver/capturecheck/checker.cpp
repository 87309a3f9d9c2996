#include "checker.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "sampleCodec.h"
#include "testdriver/captureFormat.h"
#include "toneGenerator.h"

namespace capcheck {

namespace {

CheckResult fault(const std::string& text) {
    return CheckResult{false, text};
}

std::string where(uint32_t switchNumber, size_t output) {
    return "switch " + std::to_string(switchNumber) + ", output " + std::to_string(output);
}

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string byteText(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

CheckResult checkCounts(const Capture& capture, const CheckOptions& options) {
    if (options.bufferSize != 0 && capture.bufferSize != options.bufferSize)
        return fault("buffers of " + std::to_string(capture.bufferSize) + " samples, expected " +
                     std::to_string(options.bufferSize));
    if (options.sampleRate != 0.0 && capture.sampleRate != options.sampleRate)
        return fault("a stream at " + number(capture.sampleRate) + " Hz, expected " +
                     number(options.sampleRate));
    if (capture.switches < options.minSwitches)
        return fault(std::to_string(capture.switches) + " switches, expected at least " +
                     std::to_string(options.minSwitches));
    if (capture.lateSwitches > options.allowedLate)
        return fault(std::to_string(capture.lateSwitches) + " late switches (longest callback " +
                     std::to_string(capture.maxCallbackMicros) + " us), allowed " +
                     std::to_string(options.allowedLate));
    if (capture.records > capture.switches)
        return fault(std::to_string(capture.records) + " records for " + std::to_string(capture.switches) +
                     " switches");
    if (capture.switches > 0 && capture.records == 0) return fault("no record captured");
    const uint32_t expectedCalls = capture.outputReadyWanted ? capture.switches : 0;
    if (capture.outputReadyCalls != expectedCalls)
        return fault("outputReady called " + std::to_string(capture.outputReadyCalls) + " times in " +
                     std::to_string(capture.switches) + " switches, expected " +
                     std::to_string(expectedCalls));
    for (uint32_t r = 0; r < capture.records; ++r)
        if (capture.switchNumber(r) != r || capture.half(r) != (r & 1))
            return fault("record " + std::to_string(r) + " holds switch " +
                         std::to_string(capture.switchNumber(r)) + " half " +
                         std::to_string(capture.half(r)) + ", expected switch " + std::to_string(r) +
                         " half " + std::to_string(r & 1));
    return CheckResult{true, {}};
}

std::string summary(const Capture& capture) {
    std::string format;
    const auto& in = capture.inputs;
    const auto& out = capture.outputs;
    int32_t first = !in.empty() ? in.front().type : (!out.empty() ? out.front().type : -1);
    bool uniform = true;
    for (const auto* list : {&in, &out})
        for (const CaptureChannel& channel : *list)
            uniform = uniform && channel.type == first;
    if (uniform)
        format = first < 0 ? "no channels" : typeName(first);
    else
        format = (in.empty() ? "-" : typeName(in.front().type)) + "/" +
                 (out.empty() ? "-" : typeName(out.front().type));
    return std::to_string(capture.switches) + " switches, " + std::to_string(in.size()) + "x" +
           std::to_string(out.size()) + " " + format + " ok";
}

} // namespace

CheckResult checkCapture(const Capture& capture, const CheckOptions& options) {
    CheckResult counts = checkCounts(capture, options);
    if (!counts.ok) return counts;

    const size_t pairs = options.noLoop ? 0 : std::min(capture.inputs.size(), capture.outputs.size());
    const size_t toneOutputs = options.noSine ? 0 : std::min<size_t>(2, capture.outputs.size());
    const uint32_t frames = capture.bufferSize;
    ToneGenerator tone;
    std::vector<double> toneValues(frames);
    std::vector<uint8_t> base;

    for (uint32_t r = 0; r < capture.records; ++r) {
        if (toneOutputs > 0)
            for (double& value : toneValues)
                value = tone.next();
        for (size_t k = 0; k < capture.outputs.size(); ++k) {
            const CaptureChannel& output = capture.outputs[k];
            // What the output holds before the tone: the copied input, the rest sentinel.
            base.assign(output.bytes, capture::sentinelByte);
            const bool looped = k < pairs;
            if (looped) {
                const size_t copied = std::min(capture.inputs[k].bytes, output.bytes);
                std::copy_n(capture.input(r, k), copied, base.begin());
            }
            const uint8_t* actual = capture.output(r, k);

            if (k < toneOutputs && toneWritable(output.type)) {
                const size_t width = output.bytes / frames;
                for (uint32_t s = 0; s < frames; ++s) {
                    const double stored = decodeSample(&base[s * width], output.type);
                    const double expected = toneResult(output.type, stored, toneValues[s], looped);
                    const double got = decodeSample(actual + s * width, output.type);
                    if (!withinOneUnit(output.type, expected, got))
                        return fault(where(r, k) + ", sample " + std::to_string(s) + ": expected " +
                                     number(expected) + ", got " + number(got) + " (" +
                                     typeName(output.type) + ")");
                }
                continue;
            }
            const auto mismatch = std::mismatch(base.begin(), base.end(), actual);
            if (mismatch.first != base.end()) {
                const size_t at = static_cast<size_t>(mismatch.first - base.begin());
                return fault(where(r, k) + ", byte " + std::to_string(at) + ": expected " +
                             byteText(*mismatch.first) + ", got " + byteText(*mismatch.second) +
                             (looped ? " (copy of input " + std::to_string(k) + ")" : " (untouched output)"));
            }
        }
    }
    return CheckResult{true, summary(capture)};
}

} // namespace capcheck
