#include "conform/texts.h"

#include <cmath>
#include <cstdio>

namespace conform {

std::string statusText(ASIOError status) {
    const char* name = nullptr;
    switch (status) {
    case ASE_OK:
        return "0";
    case ASE_SUCCESS:
        name = "success";
        break;
    case ASE_NotPresent:
        name = "NotPresent";
        break;
    case -999:
        name = "HWMalfunction";
        break;
    case ASE_InvalidParameter:
        name = "InvalidParameter";
        break;
    case ASE_InvalidMode:
        name = "InvalidMode";
        break;
    case -996:
        name = "SPNotAdvancing";
        break;
    case -995:
        name = "NoClock";
        break;
    case ASE_NoMemory:
        name = "NoMemory";
        break;
    default:
        return std::to_string(status);
    }
    if (status == ASE_SUCCESS) return std::string(name) + " (" + hexText(static_cast<uint32_t>(status)) + ")";
    return std::string(name) + " (" + std::to_string(status) + ")";
}

std::string hexText(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string rateText(double rate) {
    if (std::isnan(rate)) return "NaN";
    if (std::isinf(rate)) return rate > 0 ? "infinity" : "-infinity";
    char text[32];
    if (rate == std::floor(rate) && std::fabs(rate) < 1e9)
        std::snprintf(text, sizeof text, "%.0f", rate);
    else
        std::snprintf(text, sizeof text, "%g", rate);
    return text;
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

std::string millisecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, seconds < 0.01 ? "%.2f ms" : "%.1f ms", seconds * 1000.0);
    return text;
}

std::string joined(const std::vector<std::string>& items, const std::string& separator) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : separator) + items[i];
    return text;
}

std::string counted(uint64_t count, const std::string& singular, const std::string& plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

} // namespace conform

#include "platform/platform.h"

namespace conform {

std::string driverText(const std::string& narrow) {
    return plat::toUtf8(plat::fromNarrow(narrow));
}

std::u16string fromUtf8(const std::string& text) {
    std::u16string result;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80         ? 1
                              : (lead >> 5) == 6  ? 2
                              : (lead >> 4) == 14 ? 3
                              : (lead >> 3) == 30 ? 4
                                                  : 0;
        uint32_t code = length == 1   ? lead
                        : length == 2 ? lead & 0x1F
                        : length == 3 ? lead & 0x0F
                                      : lead & 0x07;
        bool valid = length > 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next >> 6) == 2;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            result += u'\uFFFD';
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            result += static_cast<char16_t>(0xD800 + (code >> 10));
            result += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            result += static_cast<char16_t>(code);
        }
        i += length;
    }
    return result;
}

} // namespace conform
