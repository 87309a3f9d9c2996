// UTF-16 <-> the ANSI code page, converted the way Windows converts.
#include <windows.h>

#include "platform/platform.h"
#include "platform/windows/wide.h"

namespace plat {

std::string toNarrow(const std::u16string& text) {
    if (text.empty()) return {};
    const int units = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide(text), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    bytes = WideCharToMultiByte(CP_ACP, 0, wide(text), units, out.data(), bytes, nullptr, nullptr);
    out.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
    return out;
}

std::string toUtf8(const std::u16string& text) {
    if (text.empty()) return {};
    const int units = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide(text), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    bytes = WideCharToMultiByte(CP_UTF8, 0, wide(text), units, out.data(), bytes, nullptr, nullptr);
    out.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
    return out;
}

std::u16string fromNarrow(const std::string& text) {
    if (text.empty()) return {};
    const int bytes = static_cast<int>(text.size());
    int units = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
    if (units <= 0) return {};
    std::u16string out(static_cast<size_t>(units), u'\0');
    units = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, reinterpret_cast<wchar_t*>(out.data()), units);
    out.resize(units > 0 ? static_cast<size_t>(units) : 0);
    return out;
}

} // namespace plat
