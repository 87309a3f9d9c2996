// The registry stand-in: a read-only key tree loaded once from the registry-editor file
// named by ASIO_REGISTRY, read through handles with the Windows result codes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/posix/regFile.h"
#include "platform/registryTesting.h"

namespace plat {
namespace {

using regfile::Key;

constexpr int32_t errorInvalidHandle = 6;
constexpr int32_t errorInvalidParameter = 87;

constexpr RegKey localMachineHandle = 1;
constexpr RegKey classesRootHandle = 2;
constexpr RegKey firstOpenHandle = 16;

// An open key keeps the tree it points into alive, so replacing the content (tests)
// never leaves a handle dangling.
struct OpenKey {
    std::shared_ptr<const Key> tree;
    const Key* key = nullptr;
};

struct Registry {
    std::once_flag loaded;
    std::mutex mutex; // guards everything below
    std::shared_ptr<const Key> tree = std::make_shared<Key>();
    std::unordered_map<RegKey, OpenKey> open;
    RegKey nextHandle = firstOpenHandle;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

void replaceTree(std::shared_ptr<const Key> tree) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.tree = std::move(tree);
}

std::string loadText(const std::string& bytes, const std::string& sourceName) {
    regfile::ParseResult parsed = regfile::parseRegistryText(bytes);
    if (!parsed.error.empty()) {
        replaceTree(std::make_shared<Key>());
        std::string where = "echoprobe: registry file " + sourceName;
        if (parsed.errorLine > 0) where += ", line " + std::to_string(parsed.errorLine);
        return where + ": " + parsed.error;
    }
    replaceTree(std::make_shared<Key>(std::move(parsed.localMachine)));
    return {};
}

std::string loadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    if (file) bytes << file.rdbuf();
    if (!file) {
        replaceTree(std::make_shared<Key>());
        return "echoprobe: registry file " + path + ": cannot be read";
    }
    return loadText(bytes.str(), path);
}

void loadFromEnvironment() {
    const char* path = std::getenv("ASIO_REGISTRY");
    if (path == nullptr || *path == '\0') return;
    std::string error = loadFile(path);
    if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
}

void ensureLoaded() {
    std::call_once(registry().loaded, loadFromEnvironment);
}

// The key behind a handle; false for a handle that is not open.
bool resolve(RegKey handle, OpenKey& out) {
    ensureLoaded();
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (handle == localMachineHandle || handle == classesRootHandle) {
        static const Key emptyKey;
        out.tree = r.tree;
        out.key = handle == localMachineHandle ? r.tree.get() : r.tree->find(regfile::classesRootPath);
        if (out.key == nullptr) out.key = &emptyKey;
        return true;
    }
    auto found = r.open.find(handle);
    if (found == r.open.end()) return false;
    out = found->second;
    return true;
}

int32_t openKey(RegKey parent, const std::string& path, RegKey& key) {
    key = 0;
    OpenKey base;
    if (!resolve(parent, base)) return errorInvalidHandle;
    const Key* target = base.key->find(path);
    if (target == nullptr) return errorFileNotFound;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    key = r.nextHandle;
    r.nextHandle += 4;
    r.open.emplace(key, OpenKey{base.tree, target});
    return errorSuccess;
}

} // namespace

RegKey regLocalMachine() {
    return localMachineHandle;
}
RegKey regClassesRoot() {
    return classesRootHandle;
}

int32_t regOpenKeyW(RegKey root, const std::u16string& path, RegKey& key) {
    return openKey(root, regfile::utf8FromUtf16(path), key);
}

int32_t regOpenKeyA(RegKey root, const std::string& path, RegKey& key) {
    return openKey(root, path, key);
}

int32_t regOpenKeyExA(RegKey parent, const std::string& name, RegKey& key) {
    return openKey(parent, name, key);
}

int32_t regEnumKeyA(RegKey key, uint32_t index, char* buffer, uint32_t size) {
    OpenKey open;
    if (!resolve(key, open)) return errorInvalidHandle;
    if (buffer == nullptr) return errorInvalidParameter;
    if (index >= open.key->subkeys.size()) return errorNoMoreItems;
    const std::string& name = std::next(open.key->subkeys.begin(), index)->first;
    if (name.size() + 1 > size) return errorMoreData;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return errorSuccess;
}

int32_t regQueryValueExA(RegKey key, const char* name, uint8_t* buffer, uint32_t& size) {
    OpenKey open;
    if (!resolve(key, open)) return errorInvalidHandle;
    auto found = open.key->values.find(name == nullptr ? std::string() : std::string(name));
    if (found == open.key->values.end()) return errorFileNotFound;

    const regfile::Value& value = found->second;
    uint8_t dwordBytes[4] = {uint8_t(value.dword), uint8_t(value.dword >> 8), uint8_t(value.dword >> 16),
                             uint8_t(value.dword >> 24)};
    const uint8_t* data = value.isDword ? dwordBytes : reinterpret_cast<const uint8_t*>(value.text.c_str());
    uint32_t needed = value.isDword ? 4 : static_cast<uint32_t>(value.text.size() + 1);

    // Without a buffer the call only reports the size, as on Windows.
    if (buffer == nullptr) {
        size = needed;
        return errorSuccess;
    }
    bool fits = needed <= size;
    size = needed;
    if (!fits) return errorMoreData;
    std::memcpy(buffer, data, needed);
    return errorSuccess;
}

int32_t regCloseKey(RegKey key) {
    if (key == localMachineHandle || key == classesRootHandle) return errorSuccess;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.open.erase(key) == 1 ? errorSuccess : errorInvalidHandle;
}

namespace testing {

std::string loadRegistryText(const std::string& bytes, const std::string& sourceName) {
    ensureLoaded(); // so that a later first call cannot load over this content
    return loadText(bytes, sourceName);
}

} // namespace testing
} // namespace plat
