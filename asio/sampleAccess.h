// The sample formats: their descriptions, container widths, and the conversions used
// when a sample given as a double is written into a driver buffer.
#pragma once

#include <cstdint>

#include "asio/asioTypes.h"
#include "core/telTypes.h"

enum telASIOSampleOp : int32_t { soAdd = 0, soSub = 1, soReplace = 2 };

// Readable description of a sample type code; "Unknown type: <code>" for other codes.
telText sampleTypeText(ASIOSampleType type);

// Bytes of one sample of the type in its buffer (1 for types without a listed width).
int32_t sampleTypeWidth(ASIOSampleType type);

// Stored sample plus scaled value, rounded half to even and limited to 16 bits.
int16_t saturate16(int16_t stored, double scaled);
// Stored sample plus scaled value in double precision, limited to 32 bits, truncated.
int32_t saturate32(int32_t stored, double scaled);
