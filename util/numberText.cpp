// Numbers in text: writing in any base from 2 to 68 with optional digit grouping, and
// reading decimal, hexadecimal and other bases with a forgiving sign prefix.
#include "util/telUtils.h"

namespace {

constexpr uint32_t alphabetLength = sizeof(digitAlphabet) / sizeof(digitAlphabet[0]) - 1;

// Written once at start-up, before any other thread exists.
char16_t separator = u' ';

telText digitsOf(uint64_t magnitude, uint32_t base) {
    telText result = magnitude == 0 ? u"0" : u"";
    if (base > 1 && base < alphabetLength) {
        while (magnitude != 0) {
            result.insert(result.begin(), digitAlphabet[magnitude % base]);
            magnitude /= base;
        }
    }
    return result;
}

// Inserts the group character in front of every group of `groupSize` digits counted
// from the right, never at the front.
void groupDigits(telText& digits, uint32_t groupSize, char16_t groupChar) {
    if (groupSize == 0) return;
    if (groupChar == u' ') groupChar = separator;
    const int64_t length = static_cast<int64_t>(digits.size());
    for (int64_t position = length - groupSize + 1; position > 1; position -= groupSize)
        digits.insert(digits.begin() + (position - 1), groupChar);
}

telText unsignedText(uint64_t value, uint32_t base, uint32_t groupSize, char16_t groupChar) {
    telText result = digitsOf(value, base);
    groupDigits(result, groupSize, groupChar);
    return result;
}

// Digit value of a character: 0-9, then the letters of either case as 10 to 35; -1 for
// anything else. Digits are deliberately not checked against the base.
int digitValue(char16_t ch) {
    if (ch >= u'0' && ch <= u'9') return ch - u'0';
    if (ch >= u'A' && ch <= u'Z') return ch - u'A' + 10;
    if (ch >= u'a' && ch <= u'z') return ch - u'a' + 10;
    return -1;
}

bool startsNumber(char16_t ch) {
    return (ch >= u'1' && ch <= u'9') || digitValue(ch) >= 10;
}

// Removes one hexadecimal marker ("$…", "0x…", "…h") and tells whether there was one.
bool removeHexMarker(telText& text) {
    const size_t n = text.size();
    const bool dollar = n >= 1 && text[0] == u'$';
    const bool suffix = n >= 1 && (text[n - 1] == u'h' || text[n - 1] == u'H');
    const bool prefix = n >= 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X');
    if (!dollar && !suffix && !prefix) return false;
    if (dollar)
        text.erase(0, 1);
    else if (text[0] == u'0')
        text.erase(0, 2);
    else
        text.pop_back();
    return true;
}

} // namespace

char16_t groupSeparator() {
    return separator;
}

void loadGroupSeparator() {
    // A locale without a one-character separator (none at all, or a longer one) gets a
    // comma, so grouped numbers stay readable.
    char16_t answer = 0;
    separator = plat::thousandsSeparator(answer) && answer != 0 ? answer : u',';
}

telText intToText(uint64_t value, uint32_t base, uint32_t groupSize, char16_t groupChar) {
    return unsignedText(value, base, groupSize, groupChar);
}

telText intToText(int64_t value, uint32_t base, uint32_t groupSize, char16_t groupChar) {
    // Unsigned negation also covers the most negative value.
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    telText result = unsignedText(magnitude, base, groupSize, groupChar);
    if (value < 0) result.insert(result.begin(), u'-');
    return result;
}

telText intToText(int32_t value, uint32_t base, uint32_t groupSize, char16_t groupChar) {
    return intToText(static_cast<int64_t>(value), base, groupSize, groupChar);
}

telText intToText(uint32_t value, uint32_t base, uint32_t groupSize, char16_t groupChar) {
    return unsignedText(value, base, groupSize, groupChar);
}

telText intToText(uint16_t value, uint32_t base, uint32_t groupSize, char16_t groupChar) {
    return unsignedText(value, base, groupSize, groupChar);
}

int64_t textToInt(const telText& text, int64_t defaultValue, uint32_t base, telBool ignoreTrailing) {
    if (text.empty() || base < 2 || base > 36) return defaultValue;

    const size_t first = text.find_first_not_of(u' ');
    telText body =
        first == telText::npos ? telText() : text.substr(first, text.find_last_not_of(u' ') - first + 1);

    // A decimal reader also accepts hexadecimal texts that carry a marker; the digits
    // behind the marker are then read in base 16. Unmarked letters keep their plain
    // digit values in base 10 ("1A" is 20).
    if (base == 10 && removeHexMarker(body)) base = 16;

    size_t start = 0;
    bool negative = false;
    if (base <= 16) {
        for (; start < body.size() && !startsNumber(body[start]); ++start) {
            const char16_t ch = body[start];
            if (ch == u'+')
                negative = false;
            else if (ch == u'-')
                negative = true;
            else if (ch != u'0')
                return defaultValue;
        }
    }

    // Digits from the last to the first; arithmetic wraps silently. With ignoreTrailing
    // an invalid character discards what was read right of it, leaving the value of the
    // digits in front of the first invalid character.
    uint64_t value = 0;
    uint64_t weight = 1;
    for (size_t i = body.size(); i > start; --i) {
        const int digit = digitValue(body[i - 1]);
        if (digit < 0) {
            if (!ignoreTrailing) return defaultValue;
            value = 0;
            weight = 1;
            continue;
        }
        value += static_cast<uint64_t>(digit) * weight;
        weight *= base;
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

int32_t textToInt(const telText& text, int32_t defaultValue, uint32_t base, telBool ignoreTrailing) {
    const int64_t wide = textToInt(text, static_cast<int64_t>(defaultValue), base, ignoreTrailing);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
}
