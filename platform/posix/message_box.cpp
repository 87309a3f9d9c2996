// Linux has no message box: the caption and text go to standard error as one line.
#include <cerrno>
#include <unistd.h>

#include "platform/platform.h"

namespace plat {

void messageBox(const std::u16string& text, const std::u16string& caption, uint32_t /*style*/) {
    std::string line = toNarrow(caption) + ": " + toNarrow(text) + "\n";
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

} // namespace plat
