// What the log output asks of the process: its file name, its heap use, a message box.
#include "util/telUtils.h"

void messageBox(const telText& text, const telText& caption, uint32_t style) {
    plat::messageBox(text, caption, style);
}

telText moduleNameWithExt(const telText& extension) {
    telText name = plat::modulePath();
    // Only a "." in the file name itself starts the extension; a path without one keeps
    // its whole name (a "." in a folder name is not an extension).
    const size_t nameStart = name.find_last_of(u"\\/");
    const size_t dot = name.rfind(u'.');
    if (dot != telText::npos && (nameStart == telText::npos || dot > nameStart)) name.resize(dot);
    if (!extension.empty()) name += u"." + extension;
    return name;
}

uint32_t memoryInUse() {
    return plat::heapBytesInUse();
}
