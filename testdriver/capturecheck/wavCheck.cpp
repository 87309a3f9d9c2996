#include "wavCheck.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "testdriver/inputSignal.h"

namespace capcheck {

namespace {

CheckResult wavFault(const std::string& text) {
    return CheckResult{false, text};
}

std::string formatText(const measure::WavPlan& format) {
    if (format.isFloat) return "float" + std::to_string(format.bitsPerSample);
    std::string text = std::to_string(format.bitsPerSample) + "-bit";
    if (format.validBits != format.bitsPerSample)
        text += " (" + std::to_string(format.validBits) + " valid bits)";
    return text;
}

std::string channelsText(uint16_t channels) {
    return std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

std::string sampleBytes(const uint8_t* at, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", at[i]);
        text += (i ? " " : "") + std::string(byte);
    }
    return text;
}

// The first sample of `actual` that differs from `expected` (both whole frames), as a
// wavFault naming its frame, channel and switch.
std::optional<CheckResult> firstDifference(const measure::WavPlan& plan, const uint8_t* expected,
                                           const uint8_t* actual, size_t bytes, uint64_t firstFrame,
                                           const std::string& what) {
    const auto [at, _] = std::mismatch(expected, expected + bytes, actual);
    if (at == expected + bytes) return std::nullopt;
    const size_t offset = static_cast<size_t>(at - expected);
    const size_t width = plan.bytesPerSample();
    const size_t sample = offset / width * width;
    const uint64_t frame = firstFrame + offset / plan.frameBytes();
    const size_t channel = (offset % plan.frameBytes()) / width;
    return wavFault("wav frame " + std::to_string(frame) + " (" + what + "), channel " +
                 std::to_string(channel) + ": expected " + sampleBytes(expected + sample, width) + ", got " +
                 sampleBytes(actual + sample, width));
}

CheckResult checkFormat(const measure::WavPlan& plan, const measure::WavContents& wav) {
    const measure::WavPlan& got = wav.format;
    if (got.channels != plan.channels)
        return wavFault("wav has " + channelsText(got.channels) + ", the capture " +
                     std::to_string(plan.channels) + " inputs");
    if (got.sampleRate != plan.sampleRate)
        return wavFault("wav rate " + std::to_string(got.sampleRate) + " Hz, the capture's " +
                     std::to_string(plan.sampleRate) + " Hz");
    if (got.bitsPerSample != plan.bitsPerSample || got.validBits != plan.validBits ||
        got.isFloat != plan.isFloat)
        return wavFault("wav format " + formatText(got) + ", expected " + formatText(plan));
    const bool extensible = measure::usesExtensibleHeader(plan);
    const uint16_t tag = extensible ? 0xFFFE : plan.isFloat ? 3 : 1;
    const uint32_t mask = !extensible ? 0 : plan.channels == 1 ? 0x4 : plan.channels == 2 ? 0x3 : 0;
    if (wav.formatTag != tag || wav.channelMask != mask)
        return wavFault("wav header form: format tag " + std::to_string(wav.formatTag) + ", channel mask " +
                     std::to_string(wav.channelMask) + ", expected " + std::to_string(tag) + " and " +
                     std::to_string(mask));
    return CheckResult{true, {}};
}

} // namespace

CheckResult checkWavRecording(const Capture& capture, const measure::WavContents& wav) {
    std::vector<ASIOSampleType> types;
    for (const CaptureChannel& input : capture.inputs)
        types.push_back(input.type);
    const measure::WavPlan plan = measure::planWav(types, capture.sampleRate);
    if (!plan.recordable) return wavFault("the capture's inputs cannot be recorded: " + plan.whyNot);
    CheckResult format = checkFormat(plan, wav);
    if (!format.ok) return format;

    const uint64_t frames = capture.bufferSize;
    const size_t blockBytes = static_cast<size_t>(frames * plan.frameBytes());
    uint32_t lastSwitch = 0;
    for (uint32_t r = 0; r < capture.records; ++r)
        lastSwitch = std::max(lastSwitch, capture.switchNumber(r));
    const uint64_t needed = capture.records == 0 ? 0 : (uint64_t(lastSwitch) + 1) * frames;
    if (wav.frames < needed)
        return wavFault("wav holds " + std::to_string(wav.frames) + " frames, the capture's switches need " +
                     std::to_string(needed));

    std::vector<bool> captured(capture.records == 0 ? 0 : size_t(lastSwitch) + 1, false);
    std::vector<uint8_t> expected(blockBytes);
    for (uint32_t r = 0; r < capture.records; ++r) {
        const uint32_t n = capture.switchNumber(r);
        captured[n] = true;
        for (size_t k = 0; k < capture.inputs.size(); ++k)
            if (!measure::convertToWavFrames(plan, capture.inputs[k].type, capture.input(r, k), frames,
                                             expected.data(), static_cast<uint16_t>(k)))
                return wavFault("input " + std::to_string(k) + " of type " +
                             std::to_string(capture.inputs[k].type) + " does not convert");
        const uint64_t first = uint64_t(n) * frames;
        if (auto difference = firstDifference(plan, expected.data(), &wav.data[first * plan.frameBytes()],
                                              blockBytes, first, "switch " + std::to_string(n)))
            return *difference;
    }
    // Switches the driver skipped: the host writes silence in their place.
    std::fill(expected.begin(), expected.end(), 0);
    for (size_t n = 0; n < captured.size(); ++n) {
        if (captured[n]) continue;
        const uint64_t first = uint64_t(n) * frames;
        if (auto difference =
                firstDifference(plan, expected.data(), &wav.data[first * plan.frameBytes()], blockBytes,
                                first, "switch " + std::to_string(n) + ", not captured"))
            return *difference;
    }
    return CheckResult{true, "wav " + channelsText(plan.channels) + " " + formatText(plan) + ", " +
                                 std::to_string(capture.records) + " switches ok"};
}

CheckResult checkWavSignal(const measure::WavContents& wav, uint64_t minFrames, uint64_t maxFrames) {
    const measure::WavPlan& plan = wav.format;
    if (wav.frames < minFrames || wav.frames > maxFrames)
        return wavFault("wav holds " + std::to_string(wav.frames) + " frames, expected " +
                     std::to_string(minFrames) + " to " + std::to_string(maxFrames));
    // The driver's sample type each WAV format comes from.
    const ASIOSampleType type = plan.isFloat               ? ASIOSTFloat32LSB
                                : plan.bitsPerSample == 16 ? ASIOSTInt16LSB
                                : plan.bitsPerSample == 24 ? ASIOSTInt24LSB
                                                           : ASIOSTInt32LSB;
    constexpr int32_t block = 4096;
    std::vector<uint8_t> source(block * 8), expected(block * plan.frameBytes());
    for (uint64_t first = 0; first < wav.frames; first += block) {
        const auto frames = static_cast<int32_t>(std::min<uint64_t>(block, wav.frames - first));
        for (uint16_t c = 0; c < plan.channels; ++c) {
            refdrv::fillInputSignal(source.data(), type, c, static_cast<int64_t>(first), frames);
            if (!measure::convertToWavFrames(plan, type, source.data(), size_t(frames), expected.data(), c))
                return wavFault("the WAV format " + formatText(plan) + " is not one the driver's inputs make");
        }
        if (auto difference = firstDifference(plan, expected.data(), &wav.data[first * plan.frameBytes()],
                                              size_t(frames) * plan.frameBytes(), first, "the input signal"))
            return *difference;
    }
    return CheckResult{true, "wav " + channelsText(plan.channels) + " " + formatText(plan) + ", " +
                                 std::to_string(wav.frames) + " frames of the input signal"};
}

} // namespace capcheck
