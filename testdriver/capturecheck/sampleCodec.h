// The output formats the host can write a tone into, and the result it must leave:
// 16-bit integers rounded half to even, 32-bit integers truncated toward zero, both
// saturated; floats summed in double precision.
#pragma once

#include <cstdint>
#include <string>

namespace capcheck {

// True for the formats with a tone: int16 and int32 (either byte order), float32 and
// float64 little-endian.
bool toneWritable(int32_t type);

// The sample at `at` as a number in the format's own units (integers unscaled).
double decodeSample(const uint8_t* at, int32_t type);

// What the host stores when it adds (`add`) or writes `value` onto `stored`, in the
// format's own units.
double toneResult(int32_t type, double stored, double value, bool add);

// Whether `actual` is within one unit of the format of `expected`.
bool withinOneUnit(int32_t type, double expected, double actual);

// A short name of a sample type code ("float32", "int16msb", "type 42").
std::string typeName(int32_t type);

} // namespace capcheck
