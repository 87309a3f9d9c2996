// UTF-16 <-> UTF-8, the narrow encoding of the usual Linux locales. Written out by hand
// so that the result does not depend on the process locale. Ill-formed input is never
// refused: an unpaired surrogate, or each maximal ill-formed UTF-8 subsequence, becomes
// U+FFFD.
#include "platform/platform.h"

namespace plat {

namespace {

constexpr char32_t replacement = 0xFFFD;

bool isHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

// What a UTF-8 lead byte promises: how many bytes follow and the range allowed for the
// first of them (the narrower ranges exclude overlong forms, surrogates and values above
// U+10FFFF). `follow` is -1 for a byte that cannot start a sequence.
struct Lead {
    int follow;
    unsigned char low, high;
};

Lead leadOf(unsigned char b) {
    if (b < 0x80) return {0, 0, 0};
    if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
    if (b == 0xE0) return {2, 0xA0, 0xBF};
    if (b == 0xED) return {2, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
    if (b == 0xF0) return {3, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
    if (b == 0xF4) return {3, 0x80, 0x8F};
    return {-1, 0, 0};
}

} // namespace

// The stand-ins' 8-bit text is UTF-8.
std::string toNarrow(const std::u16string& text) { return toUtf8(text); }

std::string toUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            c = replacement;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::u16string fromNarrow(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i++]);
        Lead lead = leadOf(b);
        if (lead.follow < 0) {
            appendUtf16(out, replacement);
            continue;
        }
        char32_t c = lead.follow == 0 ? b : b & (0x3F >> lead.follow);
        bool complete = true;
        for (int k = 0; k < lead.follow; ++k) {
            unsigned char low = k == 0 ? lead.low : 0x80, high = k == 0 ? lead.high : 0xBF;
            if (i >= text.size()) {
                complete = false;
                break;
            }
            unsigned char next = static_cast<unsigned char>(text[i]);
            // The offending byte is not consumed: it may begin the next sequence.
            if (next < low || next > high) {
                complete = false;
                break;
            }
            c = (c << 6) | (next & 0x3F);
            ++i;
        }
        appendUtf16(out, complete ? c : replacement);
    }
    return out;
}

} // namespace plat
