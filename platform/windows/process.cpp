// Facts about the process and its environment: locale separator, version, program
// path, memory use and arguments.
#include <windows.h>

#include <psapi.h>
#include <shellapi.h>

#include "platform/platform.h"
#include "platform/windows/wide.h"

namespace plat {

bool thousandsSeparator(char16_t& separator) {
    wchar_t answer[2] = {};
    // A separator longer than one character does not fit and the call fails.
    if (GetLocaleInfoW(GetThreadLocale(), LOCALE_STHOUSAND, answer, 2) == 0 || answer[0] == 0) return false;
    separator = static_cast<char16_t>(answer[0]);
    return true;
}

// GetVersionEx is deprecated for feature tests; here the version itself is wanted.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
bool osMajorVersion(uint32_t& major) {
    OSVERSIONINFOW wideInfo{};
    wideInfo.dwOSVersionInfoSize = sizeof wideInfo;
    if (GetVersionExW(&wideInfo)) {
        major = wideInfo.dwMajorVersion;
        return true;
    }
    OSVERSIONINFOA narrowInfo{};
    narrowInfo.dwOSVersionInfoSize = sizeof narrowInfo;
    if (GetVersionExA(&narrowInfo)) {
        major = narrowInfo.dwMajorVersion;
        return true;
    }
    return false;
}
#pragma GCC diagnostic pop

std::u16string modulePath() {
    wchar_t path[260];
    DWORD length = GetModuleFileNameW(nullptr, path, 260);
    return fromWide(path, length);
}

// The process's commit charge (its private committed bytes): one cheap call, where
// walking the heap would cost time proportional to its blocks and race with other
// threads' allocations. It counts a little more than the heap (stacks, private
// mappings) but follows every allocation the program holds. PagefileUsage is the same
// figure as PrivateUsage and, unlike it, is also filled in by older systems.
uint32_t heapBytesInUse() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return static_cast<uint32_t>(counters.PagefileUsage);
}

std::vector<std::u16string> arguments() {
    std::vector<std::u16string> result;
    int count = 0;
    LPWSTR* values = CommandLineToArgvW(GetCommandLineW(), &count);
    if (values == nullptr) return result;
    for (int i = 0; i < count; ++i)
        result.push_back(fromWide(values[i], wcslen(values[i])));
    LocalFree(values);
    return result;
}

} // namespace plat
