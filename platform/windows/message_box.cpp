// A modal message box with no owner window; returns when the user closes it.
#include <windows.h>

#include "platform/platform.h"
#include "platform/windows/wide.h"

namespace plat {

void messageBox(const std::u16string& text, const std::u16string& caption, uint32_t style) {
    MessageBoxW(nullptr, wide(text), wide(caption), style);
}

} // namespace plat
