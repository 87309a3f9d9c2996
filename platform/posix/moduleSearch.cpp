// Where dlopen finds a module given by bare name: the folders of LD_LIBRARY_PATH, then
// those its cache is built from (/etc/ld.so.conf and the files it includes), then the
// system library folders. (A program's own run path is not searched: echoprobe has none.)
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <glob.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/platform.h"

namespace plat {

namespace {

bool isModuleFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void addSeparated(const std::string& list, std::vector<std::string>& folders) {
    for (size_t begin = 0; begin <= list.size();) {
        const size_t end = std::min(list.find_first_of(":;", begin), list.size());
        // An empty entry is the current folder, as the loader reads it.
        const std::string folder = list.substr(begin, end - begin);
        folders.push_back(folder.empty() ? "." : folder);
        begin = end + 1;
    }
}

// The folders named in a loader configuration file, its "include" patterns followed.
void addConfigured(const std::string& file, std::vector<std::string>& folders, int depth) {
    std::ifstream in(file);
    if (!in || depth > 8) return;
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        const size_t begin = line.find_first_not_of(" \t\r");
        if (begin == std::string::npos) continue;
        line = line.substr(begin, line.find_last_not_of(" \t\r") + 1 - begin);
        if (line.rfind("include", 0) == 0 && line.size() > 7 && (line[7] == ' ' || line[7] == '\t')) {
            std::string pattern = line.substr(line.find_first_not_of(" \t", 7));
            if (!pattern.empty() && pattern[0] != '/') pattern = "/etc/" + pattern;
            glob_t found{};
            if (glob(pattern.c_str(), 0, nullptr, &found) == 0)
                for (size_t i = 0; i < found.gl_pathc; ++i)
                    addConfigured(found.gl_pathv[i], folders, depth + 1);
            globfree(&found);
        } else if (line[0] == '/') {
            folders.push_back(line);
        }
    }
}

} // namespace

std::u16string findModule(const std::u16string& name) {
    const std::string module = toNarrow(name);
    if (module.empty()) return {};
    if (module.find('/') != std::string::npos) return pathExists(name) ? name : std::u16string();
    std::vector<std::string> folders;
    if (const char* paths = std::getenv("LD_LIBRARY_PATH"); paths != nullptr && *paths != '\0')
        addSeparated(paths, folders);
    addConfigured("/etc/ld.so.conf", folders, 0);
    for (const char* system : {"/lib64", "/usr/lib64", "/lib", "/usr/lib"})
        folders.emplace_back(system);
    for (const std::string& folder : folders) {
        const std::string candidate = folder + "/" + module;
        if (isModuleFile(candidate)) return fromNarrow(candidate);
    }
    return {};
}

} // namespace plat
