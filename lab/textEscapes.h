// Text made safe for the formats a lab reads: valid UTF-8 first, then the escapes of a
// metric's label value or of XML.
#pragma once

#include <string>
#include <string_view>

namespace lab {

// The text with every byte sequence that is not valid UTF-8 replaced by U+FFFD, so a
// driver's name in another code page still reads as text.
std::string validUtf8(std::string_view text);

// A label value of the metrics text format: backslash, double quote and line feed
// escaped (\\, \", \n); any other character, non-ASCII too, as it is (valid UTF-8).
std::string labelValue(std::string_view text);

// Text for an XML 1.0 attribute or element: the five special characters escaped, tab,
// line feed and carriage return as character references (so an attribute keeps its
// line breaks), other control characters that XML 1.0 cannot hold replaced by U+FFFD.
std::string xmlText(std::string_view text);

} // namespace lab
