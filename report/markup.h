// Text and numbers as they go into the report's HTML and SVG.
#pragma once

#include <string>
#include <string_view>

namespace report {

// The text with &, <, >, " and ' escaped, fit for element content and quoted attribute
// values in HTML and XML alike. Bytes that are not valid UTF-8 become U+FFFD, and
// control characters other than tab and line end are dropped (XML allows none of them).
std::string escapeMarkup(std::string_view text);

// A number in at most `significant` significant digits, without trailing zeros or a
// trailing point and without an exponent for everyday magnitudes: 3.125, 6250, 0.001.
// Not a number and infinities are written as "nan", "inf" and "-inf".
std::string compactNumber(double value, int significant = 9);

// A number with exactly `decimals` digits after the point: "14.500"; one that rounds to
// zero has no sign ("0.00" for -0.001).
std::string fixedNumber(double value, int decimals);

// A pixel coordinate: at most one decimal, no trailing zero.
std::string pixel(double value);

} // namespace report
