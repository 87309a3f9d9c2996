// Registration of the default class in the Windows registry: the server path under
// HKEY_CLASSES_ROOT\CLSID and the driver entry under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO.
#ifdef _WIN32

#include <windows.h>

#include <string>

#include "testdriver/driverConfig.h"
#include "testdriver/serverRegistration.h"

namespace refdrv {

namespace {

int32_t fromWin32(LONG status) {
    return status == ERROR_SUCCESS ? plat::hrOk : static_cast<int32_t>(HRESULT_FROM_WIN32(status));
}

LONG setString(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

// Creates (or opens) `path` under `root` and sets the given string values.
LONG writeKey(HKEY root, const std::string& path,
              std::initializer_list<std::pair<const char*, std::string>> values) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    for (const auto& [name, value] : values)
        if (status == ERROR_SUCCESS) status = setString(key, name, value);
    RegCloseKey(key);
    return status;
}

LONG deleteKey(HKEY root, const std::string& path) {
    const LONG status = RegDeleteKeyA(root, path.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

bool modulePath(std::string& path) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&registerServer), &module))
        return false;
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    path.assign(buffer, length);
    return true;
}

const std::string driverName = DriverConfig{}.driverName;
const std::string classKey = "CLSID\\" + guidToText(defaultClassId);
const std::string driverKey = "SOFTWARE\\ASIO\\" + driverName;

} // namespace

int32_t registerServer() {
    std::string path;
    if (!modulePath(path)) return plat::hrFail;
    LONG status = writeKey(HKEY_CLASSES_ROOT, classKey, {{nullptr, driverName}});
    if (status == ERROR_SUCCESS)
        status = writeKey(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32",
                          {{nullptr, path}, {"ThreadingModel", "Apartment"}});
    if (status == ERROR_SUCCESS)
        status = writeKey(HKEY_LOCAL_MACHINE, driverKey,
                          {{"CLSID", guidToText(defaultClassId)}, {"Description", driverName}});
    return fromWin32(status);
}

int32_t unregisterServer() {
    LONG status = deleteKey(HKEY_LOCAL_MACHINE, driverKey);
    const LONG serverStatus = deleteKey(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32");
    const LONG classStatus = deleteKey(HKEY_CLASSES_ROOT, classKey);
    if (status == ERROR_SUCCESS) status = serverStatus;
    if (status == ERROR_SUCCESS) status = classStatus;
    return fromWin32(status);
}

} // namespace refdrv

#endif
