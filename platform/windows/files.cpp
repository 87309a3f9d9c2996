// Standard output and plain files over Win32 handles.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/windows/wide.h"

namespace plat {

namespace {

HANDLE native(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// 0 and INVALID_HANDLE_VALUE both mean "no handle"; the latter is also the current
// process's pseudo handle, which must never reach CloseHandle or WriteFile.
bool usable(Handle handle) {
    return handle != 0 && handle != invalidHandle;
}

DWORD creation(Disposition disposition) {
    switch (disposition) {
    case Disposition::createNew:
        return CREATE_NEW;
    case Disposition::openExisting:
        return OPEN_EXISTING;
    case Disposition::truncateExisting:
        return TRUNCATE_EXISTING;
    case Disposition::createAlways:
        return CREATE_ALWAYS;
    }
    return OPEN_EXISTING;
}

} // namespace

Handle stdOutput() {
    HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle == nullptr) return 0;
    if (handle == INVALID_HANDLE_VALUE) return invalidHandle;
    return reinterpret_cast<Handle>(handle);
}

void writeErrorLine(const std::u16string& text) {
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    const std::string line = toNarrow(text) + "\r\n";
    DWORD written = 0;
    WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool pathExists(const std::u16string& name) {
    return !name.empty() && GetFileAttributesW(wide(name)) != INVALID_FILE_ATTRIBUTES;
}

Handle createFile(const std::u16string& name, bool readAccess, bool writeAccess, Disposition disposition,
                  uint32_t attributes) {
    DWORD access = (readAccess ? GENERIC_READ : 0) | (writeAccess ? GENERIC_WRITE : 0);
    HANDLE handle = CreateFileW(wide(name), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                creation(disposition), attributes, nullptr);
    return handle == INVALID_HANDLE_VALUE ? invalidHandle : reinterpret_cast<Handle>(handle);
}

bool closeHandle(Handle handle) {
    return usable(handle) && CloseHandle(native(handle)) != 0;
}

void setFilePointer(Handle handle, int32_t distance, MoveMethod method) {
    if (usable(handle)) SetFilePointer(native(handle), distance, nullptr, static_cast<DWORD>(method));
}

bool writeFile(Handle handle, const void* data, uint32_t size, uint32_t& written) {
    written = 0;
    if (!usable(handle)) return false;
    DWORD done = 0;
    BOOL ok = WriteFile(native(handle), data, size, &done, nullptr);
    written = done;
    return ok != 0;
}

// WriteFile does not buffer, and FlushFileBuffers would be wrong for a console or a pipe.
void flushStdOutput() {}

PathKind pathKind(const std::u16string& name) {
    if (name.empty()) return PathKind::missing;
    const DWORD attributes = GetFileAttributesW(wide(name));
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::other;
    return PathKind::file;
}

bool replaceFile(const std::u16string& from, const std::u16string& to) {
    return MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeFile(const std::u16string& name) {
    return DeleteFileW(wide(name)) != 0;
}

bool seekFile(Handle handle, uint64_t offset) {
    if (!usable(handle) || offset > uint64_t(INT64_MAX)) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(native(handle), distance, nullptr, FILE_BEGIN) != 0;
}

int64_t fileSize(Handle handle) {
    LARGE_INTEGER size;
    return usable(handle) && GetFileSizeEx(native(handle), &size) ? static_cast<int64_t>(size.QuadPart) : -1;
}

bool truncateFile(Handle handle, uint64_t size) {
    return seekFile(handle, size) && SetEndOfFile(native(handle)) != 0;
}

std::u16string lastFileError() {
    const DWORD code = GetLastError();
    wchar_t text[256] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, 256, nullptr);
    std::u16string words = fromWide(text, length);
    // The system's messages end with a full stop and a line end.
    while (!words.empty() && (words.back() == u'\n' || words.back() == u'\r' || words.back() == u'.' ||
                              words.back() == u' '))
        words.pop_back();
    if (words.empty()) words = u"error " + fromNarrow(std::to_string(code));
    return words;
}

} // namespace plat
