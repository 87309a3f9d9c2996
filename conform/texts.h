// The small texts the checks' details are made of.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asio/asioTypes.h"

namespace conform {

// "InvalidMode (-997)", "success (0x3F4847A0)", "0", "1": a driver status by name where it has one.
std::string statusText(ASIOError status);
// "0x80040154": a COM result.
std::string hexText(uint32_t value);
// "44100", "44100.5", "NaN", "infinity", "-1", "1e+12".
std::string rateText(double rate);
// "1.204 s"; "5.3 ms" below a second when `small` is asked for.
std::string secondsText(double seconds);
std::string millisecondsText(double seconds);
// "a, b and c"; "a, b"-style lists for people.
std::string joined(const std::vector<std::string>& items, const std::string& separator = ", ");
// "1 switch", "3 switches".
std::string counted(uint64_t count, const std::string& singular, const std::string& plural);

} // namespace conform

namespace conform {

// A driver's 8-bit text (the system's code page) as UTF-8, the encoding of every detail.
std::string driverText(const std::string& narrow);
// UTF-8 back to UTF-16 for the console; a byte that is not UTF-8 becomes U+FFFD.
std::u16string fromUtf8(const std::string& text);

} // namespace conform
