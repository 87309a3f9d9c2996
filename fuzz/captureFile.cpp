// Fuzz target: the capture reader of the test equipment (capcheck::parseCapture).
//
// A capture that parses must be what its header promises: `records` records of
// `recordBytes` bytes each, exactly the bytes it holds, and every channel half of every
// record inside them. The checker relies on that to read records without bounds
// checks of its own.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "captureFile.h"

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "captureFile: %s\n", what);
    std::abort();
}

// A half of `bytes` bytes at `start` lies inside the capture's records.
bool inside(const capcheck::Capture& capture, const uint8_t* start, size_t bytes) {
    const uint8_t* first = capture.data.data();
    return start >= first && static_cast<size_t>(start - first) <= capture.data.size() &&
           bytes <= capture.data.size() - static_cast<size_t>(start - first);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    capcheck::Capture capture;
    std::string error;
    if (!capcheck::parseCapture(file, capture, error)) {
        require(!error.empty(), "refused without a reason");
        return 0;
    }
    // The promise, computed without wrapping.
    const unsigned __int128 promised = static_cast<unsigned __int128>(capture.records) * capture.recordBytes;
    require(promised == capture.data.size(), "the records promised are not the bytes held");
    require(capture.recordBytes >= 8, "a record without its switch number and half");
    for (uint32_t record = 0; record < capture.records; ++record) {
        (void)capture.switchNumber(record);
        (void)capture.half(record);
        for (size_t k = 0; k < capture.inputs.size(); ++k)
            require(inside(capture, capture.input(record, k), capture.inputs[k].bytes),
                    "an input half outside");
        for (size_t k = 0; k < capture.outputs.size(); ++k)
            require(inside(capture, capture.output(record, k), capture.outputs[k].bytes),
                    "an output half outside");
    }
    return 0;
}
