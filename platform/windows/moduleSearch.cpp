// Where LoadLibrary finds a module given by bare name, in the standard search order
// with safe DLL search: the program's folder, the system folder, the 16-bit system
// folder, the Windows folder, the current folder, then the folders of PATH.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/wide.h"

namespace plat {

namespace {

bool isModuleFile(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::u16string folderOf(UINT(WINAPI* ask)(LPWSTR, UINT)) {
    wchar_t folder[MAX_PATH + 1];
    const UINT length = ask(folder, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? std::u16string() : fromWide(folder, length);
}

std::vector<std::u16string> searchFolders() {
    std::vector<std::u16string> folders;
    const std::u16string program = modulePath();
    if (const size_t slash = program.find_last_of(u"\\/"); slash != std::u16string::npos)
        folders.push_back(program.substr(0, slash));
    folders.push_back(folderOf(GetSystemDirectoryW));
    const std::u16string windowsFolder = folderOf(GetWindowsDirectoryW);
    if (!windowsFolder.empty()) folders.push_back(windowsFolder + u"\\System");
    folders.push_back(windowsFolder);
    wchar_t current[MAX_PATH + 1];
    const DWORD currentLength = GetCurrentDirectoryW(MAX_PATH + 1, current);
    if (currentLength > 0 && currentLength <= MAX_PATH) folders.push_back(fromWide(current, currentLength));
    std::vector<wchar_t> path(32768);
    const DWORD pathLength = GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size()));
    const std::u16string paths =
        pathLength < path.size() ? fromWide(path.data(), pathLength) : std::u16string();
    for (size_t begin = 0; begin < paths.size();) {
        const size_t end = std::min(paths.find(u';', begin), paths.size());
        if (end > begin) folders.push_back(paths.substr(begin, end - begin));
        begin = end + 1;
    }
    return folders;
}

} // namespace

std::u16string findModule(const std::u16string& name) {
    if (name.empty()) return {};
    if (name.find_first_of(u"\\/:") != std::u16string::npos)
        return pathExists(name) ? name : std::u16string();
    // A name without an extension is a DLL's, as LoadLibrary reads it.
    const std::u16string file = name.find(u'.') == std::u16string::npos ? name + u".dll" : name;
    for (std::u16string folder : searchFolders()) {
        if (folder.empty()) continue;
        if (folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
        if (isModuleFile(folder + file)) return folder + file;
    }
    return {};
}

} // namespace plat
