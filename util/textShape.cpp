// Text shaping: trimming, ASCII upper case, padding, copying into fixed buffers, UTF-8,
// and a class identifier as text.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "util/telUtils.h"

telText trimText(const telText& text, telBool left, telBool right) {
    // Spaces and control characters (everything up to U+0020) count as blank.
    size_t begin = 0;
    size_t end = text.size();
    if (left)
        while (begin < end && text[begin] <= u' ')
            ++begin;
    if (right)
        while (end > begin && text[end - 1] <= u' ')
            --end;
    return text.substr(begin, end - begin);
}

telText upperCaseText(const telText& text) {
    telText result = text;
    for (char16_t& ch : result)
        if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - u'a' + u'A');
    return result;
}

telText terminalSafeText(const telText& text) {
    telText shown = text;
    for (char16_t& ch : shown) {
        const bool kept = ch == u'\t' || ch == u'\n' || ch == u'\r';
        const bool control = ch < 0x20 || (ch >= 0x7F && ch <= 0x9F);
        if (control && !kept) ch = u'?';
    }
    return shown;
}

telText fillText(char16_t ch, int32_t count) {
    return count > 0 ? telText(static_cast<size_t>(count), ch) : telText();
}

telText padText(const telText& text, int32_t width, char16_t fill, telBool padLeft, telBool truncate) {
    const size_t w = static_cast<size_t>(std::llabs(static_cast<long long>(width)));
    telText result = text;
    if (w > result.size()) {
        const telText padding = fillText(fill, static_cast<int32_t>(w - result.size()));
        result = padLeft ? padding + result : result + padding;
    }
    if (truncate && result.size() > w)
        result = padLeft ? result.substr(result.size() - w) : result.substr(0, w);
    return result;
}

namespace {

template <typename Unit, typename Text>
int32_t copyToBuffer(const Text& text, Unit* destination, int32_t maxLength) {
    // A negative maximum copies nothing and reports 0 rather than a negative count.
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(text.size()), maxLength));
    if (n < 1) {
        destination[0] = 0;
        return 0;
    }
    std::copy_n(text.data(), n, destination);
    destination[n] = 0;
    return n;
}

} // namespace

int32_t copyTextToBuffer(const telAnsiText& text, char* destination, int32_t maxLength) {
    return copyToBuffer(text, destination, maxLength);
}

int32_t copyWideTextToBuffer(const telText& text, char16_t* destination, int32_t maxLength) {
    return copyToBuffer(text, destination, maxLength);
}

std::string utf8Text(const telText& text) {
    return plat::toUtf8(text);
}

std::string guidText(const plat::Guid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.data1), guid.data2, guid.data3, guid.data4[0], guid.data4[1],
                  guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
    return text;
}
