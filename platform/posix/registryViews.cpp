// The two registry views of 64-bit Windows, in the stand-in registry. The stand-in
// keeps one tree, as a 64-bit Windows does for 64-bit programs; what 32-bit programs see
// lives where Windows keeps it: under SOFTWARE\Wow6432Node, with their classes under
// SOFTWARE\Wow6432Node\Classes.
#include <cctype>

#include "platform/platform.h"

namespace plat {
namespace {

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

} // namespace

RegView ownRegistryView() {
    return sizeof(void*) == 8 ? RegView::bits64 : RegView::bits32;
}

int32_t regOpenKeyInView(RegKey root, const std::string& path, RegView view, RegKey& key) {
    if (view == RegView::bits64) return regOpenKeyA(root, path, key);
    if (root == regClassesRoot()) return regOpenKeyA(regLocalMachine(), "SOFTWARE\\Wow6432Node\\Classes\\" + path, key);
    if (root == regLocalMachine() && startsWithNoCase(path, "software\\"))
        return regOpenKeyA(root, "SOFTWARE\\Wow6432Node\\" + path.substr(9), key);
    return regOpenKeyA(root, path, key);
}

} // namespace plat
