// capturecheck [--noloop] [--nosine] [--expect-switches-min N] [--allow-late N]
//              [--expect-buffer N] [--expect-rate R] FILE
// capturecheck --wav RECORDING FILE
// capturecheck --wav-signal RECORDING MIN-FRAMES MAX-FRAMES
//
// Checks a capture file of the reference driver against the host's loopback and test
// tone, or (--wav) checks the host's WAV recording of the driver's inputs in the same
// run against the capture instead. Prints one line; exits 0 when everything holds, 1 on
// a fault, 2 on bad usage or an unreadable file. --wav-signal checks a recording against
// the driver's known input signal alone, for runs that leave no capture.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "captureFile.h"
#include "checker.h"
#include "measure/wavFile.h"
#include "wavCheck.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: capturecheck [--noloop] [--nosine] [--expect-switches-min N] [--allow-late N]\n"
                 "                    [--expect-buffer N] [--expect-rate R] FILE\n"
                 "       capturecheck --wav RECORDING FILE\n"
                 "       capturecheck --wav-signal RECORDING MIN-FRAMES MAX-FRAMES\n");
    return 2;
}

bool parseCount(const char* text, uint32_t& value) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text, &end, 10);
    if (!*text || *end || parsed > 0xFFFFFFFFul) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

int checkSignal(int argc, char** argv) {
    uint32_t minFrames = 0, maxFrames = 0;
    if (argc != 5 || !parseCount(argv[3], minFrames) || !parseCount(argv[4], maxFrames)) return usage();
    std::string error;
    const auto wav = measure::readWav(argv[2], &error);
    if (!wav) {
        std::printf("capturecheck: %s: %s\n", argv[2], error.c_str());
        return 2;
    }
    const capcheck::CheckResult result = capcheck::checkWavSignal(*wav, minFrames, maxFrames);
    std::printf("capturecheck: %s\n", result.message.c_str());
    return result.ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--wav-signal") return checkSignal(argc, argv);
    capcheck::CheckOptions options;
    std::string path, wavPath;
    bool loopOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--noloop") {
            options.noLoop = loopOptions = true;
        } else if (argument == "--nosine") {
            options.noSine = loopOptions = true;
        } else if (argument == "--expect-switches-min" || argument == "--allow-late") {
            uint32_t& target = argument == "--allow-late" ? options.allowedLate : options.minSwitches;
            if (++i >= argc || !parseCount(argv[i], target)) return usage();
            loopOptions = true;
        } else if (argument == "--expect-buffer") {
            if (++i >= argc || !parseCount(argv[i], options.bufferSize)) return usage();
            loopOptions = true;
        } else if (argument == "--expect-rate") {
            uint32_t rate = 0;
            if (++i >= argc || !parseCount(argv[i], rate)) return usage();
            options.sampleRate = rate;
            loopOptions = true;
        } else if (argument == "--wav") {
            if (++i >= argc || !wavPath.empty() || !*argv[i]) return usage();
            wavPath = argv[i];
        } else if (path.empty() && argument.rfind("--", 0) != 0) {
            path = argument;
        } else {
            return usage();
        }
    }
    // The recording check replaces the loopback checks, so their options make no sense with it.
    if (path.empty() || (!wavPath.empty() && loopOptions)) return usage();

    capcheck::Capture capture;
    std::string error;
    if (!capcheck::readCaptureFile(path, capture, error)) {
        std::printf("capturecheck: %s\n", error.c_str());
        return 2;
    }
    if (!wavPath.empty()) {
        const auto wav = measure::readWav(wavPath, &error);
        if (!wav) {
            std::printf("capturecheck: %s: %s\n", wavPath.c_str(), error.c_str());
            return 2;
        }
        const capcheck::CheckResult result = capcheck::checkWavRecording(capture, *wav);
        std::printf("capturecheck: %s\n", result.message.c_str());
        return result.ok ? 0 : 1;
    }
    const capcheck::CheckResult result = capcheck::checkCapture(capture, options);
    std::printf("capturecheck: %s\n", result.message.c_str());
    return result.ok ? 0 : 1;
}
