#include "report/markup.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace report {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not valid (overlong
// forms, surrogates and code points past U+10FFFF included).
size_t utf8SequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    uint32_t codePoint = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
        codePoint = (codePoint << 6) | (byte(i + k) & 0x3Fu);
    }
    if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000)) return 0;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
    if (codePoint > 0x10FFFF) return 0;
    return length;
}

// Drops the zeros after the point of "123.4500" and the point itself when nothing follows.
void trimFraction(std::string& text) {
    const size_t point = text.find('.');
    if (point == std::string::npos || text.find('e') != std::string::npos) return;
    size_t end = text.size();
    while (end > point + 1 && text[end - 1] == '0')
        --end;
    if (end == point + 1) end = point;
    text.resize(end);
    if (text == "-0") text = "0";
}

std::string nonFinite(double value) {
    if (std::isnan(value)) return "nan";
    return value > 0 ? "inf" : "-inf";
}

} // namespace

std::string escapeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = utf8SequenceLength(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            if (c >= 0x20 || c == '\t' || c == '\n')
                out += static_cast<char>(c);
            else if (c == '\r')
                out += '\n';
            break;
        }
        ++i;
    }
    return out;
}

std::string compactNumber(double value, int significant) {
    if (!std::isfinite(value)) return nonFinite(value);
    if (significant < 1) significant = 1;
    if (significant > 17) significant = 17;
    char buffer[64];
    const double magnitude = std::fabs(value);
    if (magnitude != 0 && (magnitude >= 1e15 || magnitude < 1e-6)) {
        std::snprintf(buffer, sizeof buffer, "%.*g", significant, value);
        return buffer;
    }
    // Digits after the point that keep `significant` significant digits.
    const int integerDigits = magnitude >= 1 ? int(std::floor(std::log10(magnitude))) + 1 : 0;
    int decimals = significant - integerDigits;
    if (magnitude > 0 && magnitude < 1) decimals += -int(std::floor(std::log10(magnitude))) - 1;
    if (decimals < 0) decimals = 0;
    if (decimals > 20) decimals = 20;
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
    trimFraction(text);
    return text;
}

std::string fixedNumber(double value, int decimals) {
    if (!std::isfinite(value)) return nonFinite(value);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals < 0 ? 0 : decimals, value);
    std::string text = buffer;
    // A value that rounds to zero is written without a sign: "0.00", never "-0.00".
    if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
    return text;
}

std::string pixel(double value) {
    if (!std::isfinite(value)) return "0";
    if (value > 1e6) value = 1e6;
    if (value < -1e6) value = -1e6;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    std::string text = buffer;
    trimFraction(text);
    return text;
}

} // namespace report
