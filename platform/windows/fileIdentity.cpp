// Which file a path names, for telling two outputs apart: the volume and file index of
// what exists (links and other spellings meet there), else the folder's and the name,
// without regard to case as the file system compares names.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/windows/wide.h"

namespace plat {

namespace {

// The volume serial number and file index of an existing file or folder; empty when the
// path names none (or a device, which has no index).
std::u16string numberKey(const std::u16string& path) {
    HANDLE handle = CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return {};
    return fromNarrow(std::to_string(info.dwVolumeSerialNumber) + ":" +
                      std::to_string(uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow));
}

std::u16string upper(std::u16string text) {
    if (!text.empty()) CharUpperBuffW(reinterpret_cast<wchar_t*>(&text[0]), static_cast<DWORD>(text.size()));
    return text;
}

} // namespace

std::u16string fileIdentity(const std::u16string& path) {
    if (path.empty()) return u"path:";
    if (const std::u16string key = numberKey(path); !key.empty()) return u"file:" + key;
    wchar_t full[32768];
    wchar_t* leaf = nullptr;
    const DWORD length = GetFullPathNameW(wide(path), 32768, full, &leaf);
    if (length == 0 || length >= 32768) return u"path:" + upper(path);
    const std::u16string whole = fromWide(full, length);
    if (leaf == nullptr) return u"path:" + upper(whole);
    const size_t leafAt = static_cast<size_t>(leaf - full);
    const std::u16string folderKey = numberKey(whole.substr(0, leafAt));
    if (folderKey.empty()) return u"path:" + upper(whole);
    return u"in:" + folderKey + u"\\" + upper(whole.substr(leafAt));
}

} // namespace plat
