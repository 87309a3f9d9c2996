// The registry through advapi32. Keys travel as their HKEY values.
#include <windows.h>

#include "platform/platform.h"

namespace plat {
namespace {

static_assert(sizeof(RegKey) >= sizeof(HKEY));

HKEY toHkey(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

} // namespace

RegKey regLocalMachine() {
    return reinterpret_cast<RegKey>(HKEY_LOCAL_MACHINE);
}
RegKey regClassesRoot() {
    return reinterpret_cast<RegKey>(HKEY_CLASSES_ROOT);
}

int32_t regOpenKeyW(RegKey root, const std::u16string& path, RegKey& key) {
    HKEY opened = nullptr;
    LONG result = RegOpenKeyW(toHkey(root), reinterpret_cast<LPCWSTR>(path.c_str()), &opened);
    key = reinterpret_cast<RegKey>(opened);
    return result;
}

int32_t regOpenKeyA(RegKey root, const std::string& path, RegKey& key) {
    HKEY opened = nullptr;
    LONG result = RegOpenKeyA(toHkey(root), path.c_str(), &opened);
    key = reinterpret_cast<RegKey>(opened);
    return result;
}

int32_t regOpenKeyExA(RegKey parent, const std::string& name, RegKey& key) {
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExA(toHkey(parent), name.c_str(), 0, KEY_READ, &opened);
    key = reinterpret_cast<RegKey>(opened);
    return result;
}

int32_t regEnumKeyA(RegKey key, uint32_t index, char* buffer, uint32_t size) {
    return RegEnumKeyA(toHkey(key), index, buffer, size);
}

int32_t regQueryValueExA(RegKey key, const char* name, uint8_t* buffer, uint32_t& size) {
    DWORD type = 0;
    DWORD bytes = size;
    LONG result = RegQueryValueExA(toHkey(key), name, nullptr, &type, buffer, &bytes);
    size = bytes;
    return result;
}

int32_t regCloseKey(RegKey key) {
    return RegCloseKey(toHkey(key));
}

RegView ownRegistryView() {
    return sizeof(void*) == 8 ? RegView::bits64 : RegView::bits32;
}

int32_t regOpenKeyInView(RegKey root, const std::string& path, RegView view, RegKey& key) {
    HKEY opened = nullptr;
    const REGSAM access = KEY_READ | (view == RegView::bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
    LONG result = RegOpenKeyExA(toHkey(root), path.c_str(), 0, access, &opened);
    key = reinterpret_cast<RegKey>(opened);
    return result;
}

} // namespace plat
