// One sample in a channel's format, as a value at full scale 1.0: the input signal and
// the wire write samples this way, and the wire reads the host's output this way.
//
// Integers are scaled by 2^(bits-1) - 1 (int16 32767, packed int24 8388607, int32
// 2147483647, the 32-bit containers by their 16/18/20/24 significant bits, right-aligned
// and sign-extended), rounded to nearest and clipped to the format's range; floats are
// taken as they are; MSB formats are big-endian. DSD and unknown codes have no value.
#pragma once

#include <cstdint>

#include "asio/asioTypes.h"

namespace refdrv {

// False for DSD and unknown codes.
bool hasSampleValue(ASIOSampleType type);

// Writes `value` at `at` in `type`'s format; false (nothing written) for a format without
// a value. A NaN stores 0 in the integer formats.
bool encodeSample(uint8_t* at, ASIOSampleType type, double value);

// The value of the sample at `at`; 0 for a format without a value.
double decodeSample(const uint8_t* at, ASIOSampleType type);

} // namespace refdrv
