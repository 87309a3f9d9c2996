// Writes values at full scale 1.0 into a driver buffer in any sample format that holds
// sample values (integers of 16, 24 and 32 bits in either byte order, right-aligned
// containers, floats), for the measurement signal of a loopback run. Integers are
// scaled by 2^(bits-1) - 1, rounded and limited to the format's range. Runs on the
// callback path: no allocation, no lock.
#pragma once

#include <cstddef>

#include "asio/asioTypes.h"

// False (and nothing written) for DSD and unknown types.
bool encodeSamples(ASIOSampleType type, const float* values, size_t count, void* target) noexcept;
