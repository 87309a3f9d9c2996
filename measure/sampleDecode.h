// Driver sample bytes as floats at full scale 1.0, for analysis off the callback path.
//
// Integers are divided by their largest positive value (int16 by 32767, packed int24 by
// 8388607, int32 by 2147483647); the 32-bit containers with 16/18/20/24 significant bits
// use the sign-extended low N bits divided by 2^(N-1) - 1, ignoring the container's upper
// bits; float32 and float64 are taken as they are. Big-endian formats are swapped first.
// DSD formats and unknown codes carry no sample values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "asio/asioTypes.h"

namespace measure {

// Bytes of one sample in a driver buffer: 2, 3, 4 or 8; 1 for DSD and unknown codes.
int sampleWidth(ASIOSampleType type);

// True for the formats decodeSamples converts (every format except DSD and unknown codes).
bool hasSampleValues(ASIOSampleType type);

// Converts `count` samples at `source` (any alignment) into `target`. False, with nothing
// written, for DSD and unknown codes.
bool decodeSamples(ASIOSampleType type, const void* source, size_t count, float* target);

// The same, storing each float's four bytes `targetStride` bytes after the previous one
// (for instance into one channel's slot of interleaved frames; any alignment).
bool decodeSamplesStrided(ASIOSampleType type, const void* source, size_t count, uint8_t* target,
                          size_t targetStride);

} // namespace measure
