// The COM stand-in: per-thread initialisation counts, class identifier text, and
// in-process servers found through the stand-in registry and loaded as shared
// libraries. Loaded modules are never unloaded, so a live object never loses its code.
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/registryTesting.h"

namespace plat {
namespace {

constexpr int32_t hrNotInitialized = static_cast<int32_t>(0x800401F0u); // CO_E_NOTINITIALIZED
constexpr int32_t hrErrorInDll = static_cast<int32_t>(0x800401F9u);     // CO_E_ERRORINDLL

thread_local int32_t initialisations = 0;

struct TestServers {
    std::mutex mutex;
    std::map<std::string, DllGetClassObjectProc> procedures;
    bool onlyRegistered = false; // no module is loaded at all
};

TestServers& testServers() {
    static TestServers instance;
    return instance;
}

// The procedure registered for `path`, or nullptr; `mayLoad` says whether a path without
// one may be loaded as a module.
DllGetClassObjectProc testServer(const std::string& path, bool& mayLoad) {
    TestServers& servers = testServers();
    std::lock_guard lock(servers.mutex);
    mayLoad = !servers.onlyRegistered;
    auto found = servers.procedures.find(path);
    return found == servers.procedures.end() ? nullptr : found->second;
}

// Only a regular file can be a module. Anything else is refused before dlopen sees it:
// opening a FIFO blocks until a writer comes, a device may never end. A name without
// "/" is left to dlopen, which looks for it in the loader's library folders only.
bool mayBeModule(const std::string& path) {
    if (path.empty()) return false; // dlopen("") would hand back the program itself
    if (path.find('/') == std::string::npos) return true;
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Reads `count` hexadecimal digits of `text` from `pos`; false on any other character.
bool readHex(const std::u16string& text, size_t pos, size_t count, uint32_t& value) {
    value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        char16_t c = text[i];
        uint32_t digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return false;
        value = value << 4 | digit;
    }
    return true;
}

std::string clsidText(const Guid& clsid) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", clsid.data1,
                  clsid.data2, clsid.data3, clsid.data4[0], clsid.data4[1], clsid.data4[2], clsid.data4[3],
                  clsid.data4[4], clsid.data4[5], clsid.data4[6], clsid.data4[7]);
    return text;
}

// The default value of CLSID\{clsid}\InprocServer32; false when the class is not registered.
bool serverPath(const Guid& clsid, std::string& path) {
    RegKey key;
    if (regOpenKeyA(regClassesRoot(), "CLSID\\" + clsidText(clsid) + "\\InprocServer32", key) != errorSuccess)
        return false;
    uint32_t size = 0;
    int32_t status = regQueryValueExA(key, nullptr, nullptr, size);
    std::vector<uint8_t> buffer(size);
    if (status == errorSuccess) status = regQueryValueExA(key, nullptr, buffer.data(), size);
    regCloseKey(key);
    if (status != errorSuccess) return false;
    auto text = reinterpret_cast<const char*>(buffer.data());
    path.assign(text, std::find(text, text + std::min<size_t>(size, buffer.size()), '\0'));
    return true;
}

} // namespace

int32_t coInitialize() {
    return ++initialisations == 1 ? hrOk : hrFalse;
}

void coUninitialize() {
    if (initialisations > 0) --initialisations;
}

int32_t clsidFromString(const std::u16string& text, Guid& clsid) {
    if (text.size() != 38 || text[0] != u'{' || text[37] != u'}') return hrInvalidClassString;
    for (size_t dash : {9, 14, 19, 24})
        if (text[dash] != u'-') return hrInvalidClassString;

    Guid parsed{};
    uint32_t part;
    if (!readHex(text, 1, 8, parsed.data1)) return hrInvalidClassString;
    if (!readHex(text, 10, 4, part)) return hrInvalidClassString;
    parsed.data2 = static_cast<uint16_t>(part);
    if (!readHex(text, 15, 4, part)) return hrInvalidClassString;
    parsed.data3 = static_cast<uint16_t>(part);
    for (size_t i = 0; i < 8; ++i) {
        size_t pos = i < 2 ? 20 + 2 * i : 25 + 2 * (i - 2);
        if (!readHex(text, pos, 2, part)) return hrInvalidClassString;
        parsed.data4[i] = static_cast<uint8_t>(part);
    }
    clsid = parsed;
    return hrOk;
}

int32_t coCreateInstance(const Guid& clsid, const Guid& iid, void** object) {
    if (object == nullptr) return hrPointer;
    *object = nullptr;
    if (initialisations == 0) return hrNotInitialized;

    std::string path;
    if (!serverPath(clsid, path)) return hrClassNotRegistered;
    bool mayLoad = false;
    DllGetClassObjectProc getClassObject = testServer(path, mayLoad);
    if (getClassObject == nullptr) {
        void* module = mayLoad && mayBeModule(path) ? dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
        if (module == nullptr) return hrModuleNotFound;
        getClassObject = reinterpret_cast<DllGetClassObjectProc>(dlsym(module, "DllGetClassObject"));
        if (getClassObject == nullptr) return hrErrorInDll;
    }

    void* factoryObject = nullptr;
    int32_t result = getClassObject(clsid, iidClassFactory, &factoryObject);
    if (result < 0) return result;
    if (factoryObject == nullptr) return hrFail;
    auto* factory = static_cast<ComClassFactory*>(factoryObject);
    result = factory->CreateInstance(nullptr, iid, object);
    factory->Release();
    return result;
}

namespace testing {

void registerInprocServer(const std::string& path, DllGetClassObjectProc getClassObject) {
    TestServers& servers = testServers();
    std::lock_guard lock(servers.mutex);
    if (getClassObject == nullptr)
        servers.procedures.erase(path);
    else
        servers.procedures[path] = getClassObject;
}

void loadOnlyRegisteredServers(bool only) {
    TestServers& servers = testServers();
    std::lock_guard lock(servers.mutex);
    servers.onlyRegistered = only;
}

} // namespace testing
} // namespace plat
