#include "testdriver/configLists.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace refdrv {

namespace {

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The comma-separated entries of `text`, each trimmed; empty entries are kept.
std::vector<std::string> entries(const std::string& text) {
    std::vector<std::string> parts;
    size_t begin = 0;
    for (;;) {
        const size_t comma = text.find(',', begin);
        parts.push_back(
            trimmed(text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin)));
        if (comma == std::string::npos) return parts;
        begin = comma + 1;
    }
}

// A whole number, decimal or 0x-hexadecimal (with an optional sign), and nothing else.
std::optional<int64_t> parseInteger(const std::string& text) {
    std::string digits = trimmed(text);
    bool negative = false;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.erase(0, 2);
    }
    if (digits.empty() || digits[0] == '-' || digits[0] == '+' || digits[0] == ' ') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(digits.c_str(), &end, base);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return negative ? -value : value;
}

} // namespace

std::vector<int32_t> parseIntegerList(const std::string& text) {
    std::vector<int32_t> values;
    for (const std::string& entry : entries(text)) {
        const std::optional<int64_t> value = parseInteger(entry);
        if (value && *value >= INT32_MIN && *value <= int64_t{UINT32_MAX})
            values.push_back(static_cast<int32_t>(static_cast<uint32_t>(*value)));
    }
    return values;
}

std::optional<double> parseDecimal(const std::string& text) {
    const std::string number = trimmed(text);
    if (number.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (*end != '\0') return std::nullopt;
    return value;
}

std::vector<ClockSourceEntry> parseClockSources(const std::string& text) {
    std::vector<ClockSourceEntry> sources;
    for (const std::string& entry : entries(text)) {
        if (entry.empty()) continue;
        ClockSourceEntry source{entry, -1};
        const size_t colon = entry.rfind(':');
        if (colon != std::string::npos) {
            const std::optional<int64_t> group = parseInteger(entry.substr(colon + 1));
            if (group && *group >= INT32_MIN && *group <= INT32_MAX) {
                source.name = trimmed(entry.substr(0, colon));
                source.group = static_cast<int32_t>(*group);
            }
        }
        if (source.name.size() > 31) source.name.resize(31);
        sources.push_back(source);
    }
    return sources;
}

std::vector<RateBufferSizes> parseBufferSizesByRate(const std::string& text) {
    std::vector<RateBufferSizes> limits;
    for (const std::string& entry : entries(text)) {
        const size_t colon = entry.find(':');
        const size_t dash = entry.find('-', colon == std::string::npos ? 0 : colon + 1);
        if (colon == std::string::npos || dash == std::string::npos) continue;
        const std::optional<double> rate = parseDecimal(entry.substr(0, colon));
        const std::optional<int64_t> min = parseInteger(entry.substr(colon + 1, dash - colon - 1));
        const std::optional<int64_t> max = parseInteger(entry.substr(dash + 1));
        if (!rate || !(*rate > 0.0) || !min || !max || *min < 1 || *max < *min || *max > INT32_MAX) continue;
        limits.push_back({*rate, static_cast<int32_t>(*min), static_cast<int32_t>(*max)});
    }
    return limits;
}

namespace {

// A decimal number at the front of `text` (strtod's form without exponent letters,
// which would take a following 'i'), advancing it; nothing without digits.
std::optional<double> leadingDecimal(std::string& text, bool signRequired) {
    size_t end = 0;
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
    else if (signRequired) return std::nullopt;
    const size_t digits = end;
    while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.'))
        ++end;
    if (end == digits) return std::nullopt;
    const std::optional<double> value = parseDecimal(text.substr(0, end));
    text.erase(0, end);
    return value;
}

std::optional<WirePath> parseWirePath(const std::string& entry) {
    std::string rest = trimmed(entry);
    WirePath path;
    const size_t colon = rest.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const std::optional<int64_t> from = parseInteger(rest.substr(0, colon));
    rest.erase(0, colon + 1);
    size_t digits = 0;
    while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits])))
        ++digits;
    const std::optional<int64_t> to = digits > 0 ? parseInteger(rest.substr(0, digits)) : std::nullopt;
    rest.erase(0, digits);
    if (!from || !to || *from < 1 || *to < 1 || *from > maxChannels || *to > maxChannels) return std::nullopt;
    path.from = static_cast<int32_t>(*from);
    path.to = static_cast<int32_t>(*to);
    if (!rest.empty() && rest[0] == '@') {
        rest.erase(0, 1);
        path.delay = leadingDecimal(rest, false);
        if (!path.delay || *path.delay < 0 || *path.delay > maxWireDelay) return std::nullopt;
    }
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        path.gainDb = leadingDecimal(rest, true);
        if (!path.gainDb) return std::nullopt;
    }
    if (!rest.empty() && rest[0] == '~') {
        rest.erase(0, 1);
        path.drift = leadingDecimal(rest, false);
        if (!path.drift) return std::nullopt;
    }
    if (!rest.empty() && rest[0] == 'i') {
        path.invert = true;
        rest.erase(0, 1);
    }
    if (!rest.empty()) return std::nullopt;
    return path;
}

} // namespace

std::optional<std::vector<WirePath>> parseWireMap(const std::string& text) {
    std::vector<WirePath> paths;
    for (const std::string& entry : entries(text)) {
        const std::optional<WirePath> path = parseWirePath(entry);
        if (!path) return std::nullopt;
        paths.push_back(*path);
    }
    if (paths.empty()) return std::nullopt;
    return paths;
}

bool rawValueIsText(const std::string& bytes) {
    if (bytes.size() != 4) return true;
    if (bytes[3] != '\0') return false;
    for (int i = 0; i < 3; ++i)
        if (static_cast<unsigned char>(bytes[i]) < 0x20 || static_cast<unsigned char>(bytes[i]) > 0x7E)
            return false;
    return true;
}

} // namespace refdrv
