// Fuzz target: the WAV reader the checks of recordings use.
//
// Input: a file's bytes. Checked: what the reader accepts is consistent (the data holds
// exactly the frames it counts, in a format a recording can have), and it never reads
// outside the bytes (the sanitizers watch that).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "measure/wavFile.h"

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "wavFile: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    const std::optional<measure::WavContents> wav = measure::parseWav(bytes);
    if (!wav) return 0;
    const measure::WavPlan& format = wav->format;
    require(format.channels >= 1, "no channels");
    require(format.bitsPerSample == 16 || format.bitsPerSample == 24 || format.bitsPerSample == 32, "bits");
    require(format.validBits >= 1 && format.validBits <= format.bitsPerSample, "valid bits");
    require(wav->data.size() == wav->frames * format.frameBytes(), "data and frame count disagree");
    return 0;
}
