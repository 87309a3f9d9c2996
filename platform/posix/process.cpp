// Facts about the process and its environment: locale separator, version, program
// path and heap use.
#include <climits>
#include <langinfo.h>
#include <locale.h>
#include <malloc.h>
#include <unistd.h>

#include "platform/platform.h"

namespace plat {

bool thousandsSeparator(char16_t& separator) {
    // A private locale object from the environment, so the process locale (and with it
    // every other number formatting) stays as it is.
    locale_t numeric = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (numeric == static_cast<locale_t>(0)) return false;
    std::u16string answer = fromNarrow(nl_langinfo_l(THOUSEP, numeric));
    freelocale(numeric);
    if (answer.size() != 1) return false;
    separator = answer[0];
    return true;
}

// There is no operating-system version to check against here.
bool osMajorVersion(uint32_t& /*major*/) {
    return false;
}

std::u16string modulePath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0) return {};
    return fromNarrow(std::string(path, static_cast<size_t>(length)));
}

// Bytes handed out by malloc: small and medium chunks in use plus mmap'ed large blocks.
uint32_t heapBytesInUse() {
    struct mallinfo2 info = mallinfo2();
    return static_cast<uint32_t>(info.uordblks + info.hblkhd);
}

} // namespace plat
