// Linux has no message box: the caption and text go to standard error as one line.
#include "platform/platform.h"

namespace plat {

void messageBox(const std::u16string& text, const std::u16string& caption, uint32_t /*style*/) {
    writeErrorLine(caption + u": " + text);
}

} // namespace plat
