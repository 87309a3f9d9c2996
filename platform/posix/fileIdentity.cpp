// Which file a path names, for telling two outputs apart: the device and inode of what
// exists (stat follows symbolic links), else the folder's and the name.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace plat {

namespace {

std::string numberKey(const struct stat& info) {
    return std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(info.st_ino));
}

// The path from the root, "." and ".." and doubled slashes taken out by their text alone.
std::string absoluteText(const std::string& path) {
    std::string whole = path;
    if (whole.empty() || whole[0] != '/') {
        char folder[PATH_MAX];
        if (getcwd(folder, sizeof folder) != nullptr) whole = std::string(folder) + "/" + whole;
    }
    std::string result;
    for (size_t begin = 0; begin < whole.size();) {
        const size_t end = std::min(whole.find('/', begin), whole.size());
        const std::string part = whole.substr(begin, end - begin);
        if (part == "..") {
            const size_t slash = result.rfind('/');
            result.erase(slash == std::string::npos ? 0 : slash);
        } else if (!part.empty() && part != ".") {
            result += "/" + part;
        }
        begin = end + 1;
    }
    return result.empty() ? "/" : result;
}

} // namespace

std::u16string fileIdentity(const std::u16string& path) {
    const std::string name = toNarrow(path);
    struct stat info;
    if (!name.empty() && stat(name.c_str(), &info) == 0) return fromNarrow("file:" + numberKey(info));
    const size_t slash = name.rfind('/');
    const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    if (!leaf.empty() && leaf != "." && leaf != ".." && stat(folder.c_str(), &info) == 0)
        return fromNarrow("in:" + numberKey(info) + "/" + leaf);
    return fromNarrow("path:" + absoluteText(name));
}

} // namespace plat
