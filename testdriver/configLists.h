// Readers of the configuration's list and number texts (testdriver/README.md shows each
// value's form). Malformed entries are skipped rather than failing the whole value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testdriver/driverConfig.h"

namespace refdrv {

// Comma-separated integers, decimal or 0x-hexadecimal, each taken as 32 bits (so
// 0x3F4847A0 and -1 both fit); entries that are not a whole number are skipped.
std::vector<int32_t> parseIntegerList(const std::string& text);

// A decimal number such as "-6.5" with nothing after it but spaces.
std::optional<double> parseDecimal(const std::string& text);

// Comma-separated `name` or `name:group`, names trimmed and cut to 31 characters.
std::vector<ClockSourceEntry> parseClockSources(const std::string& text);

// Comma-separated `rate:min-max`; malformed entries and ranges with min < 1 or
// max < min are skipped.
std::vector<RateBufferSizes> parseBufferSizesByRate(const std::string& text);

// Comma-separated paths `OUT:IN[@DELAY][±GAIN][~DRIFT][i]` (WireMap): channels from 1,
// the delay in samples beyond the driver's two buffers, the gain in dB with its sign,
// the drift in samples per minute with its sign, `i` to invert. Nothing when any entry
// is malformed.
std::optional<std::vector<WirePath>> parseWireMap(const std::string& text);

// Whether a value's raw bytes are a short string rather than a dword: both are 4 bytes
// for a three-character string, which ends in a zero byte after printable characters.
bool rawValueIsText(const std::string& bytes);

} // namespace refdrv
