// The registry stand-in: a read-only key store loaded once from the registry-editor file
// named by ASIO_REGISTRY, read through handles with the Windows result codes.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/posix/regFile.h"
#include "platform/registryTesting.h"

namespace plat {
namespace {

using regfile::KeyId;
using regfile::KeyStore;

constexpr int32_t errorInvalidHandle = 6;
constexpr int32_t errorInvalidParameter = 87;

constexpr RegKey localMachineHandle = 1;
constexpr RegKey classesRootHandle = 2;
constexpr RegKey firstOpenHandle = 16;

// An open key keeps the store it points into alive, so replacing the content (tests)
// never leaves a handle dangling.
struct OpenKey {
    std::shared_ptr<const KeyStore> store;
    KeyId key = regfile::noKey;
};

struct Registry {
    std::once_flag loaded;
    std::mutex mutex; // guards everything below
    std::shared_ptr<const KeyStore> store = std::make_shared<KeyStore>();
    std::unordered_map<RegKey, OpenKey> open;
    RegKey nextHandle = firstOpenHandle;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

void replaceStore(std::shared_ptr<const KeyStore> store) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.store = std::move(store);
}

std::string loadText(const std::string& bytes, const std::string& sourceName) {
    regfile::ParseResult parsed = regfile::parseRegistryText(bytes);
    if (!parsed.error.empty()) {
        replaceStore(std::make_shared<KeyStore>());
        std::string where = "echoprobe: registry file " + sourceName;
        if (parsed.errorLine > 0) where += ", line " + std::to_string(parsed.errorLine);
        return where + ": " + parsed.error;
    }
    replaceStore(std::make_shared<KeyStore>(std::move(parsed.store)));
    return {};
}

// Reads the whole file, or says in a few words why not. A FIFO without a writer must
// not hang the open, so it opens without blocking and blocks again for the reads; a
// stream that never ends is cut off one byte past the limit, which the parser refuses.
bool readWholeFile(const std::string& path, std::string& bytes, std::string& why) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        why = "cannot be read";
        return false;
    }
    struct stat info;
    bool good = fstat(fd, &info) == 0;
    if (!good) {
        why = "cannot be read";
    } else if (S_ISDIR(info.st_mode)) {
        why = "is a folder, not a file";
        good = false;
    } else if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > regfile::maxTextBytes) {
        why = "larger than 64 MiB";
        good = false;
    }
    if (good) good = fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
    char chunk[65536];
    while (good && bytes.size() <= regfile::maxTextBytes) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            good = n == 0;
            if (!good) why = "cannot be read";
            break;
        }
        bytes.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return good;
}

std::string loadFile(const std::string& path) {
    std::string bytes, why;
    if (!readWholeFile(path, bytes, why)) {
        replaceStore(std::make_shared<KeyStore>());
        return "echoprobe: registry file " + path + ": " + why;
    }
    return loadText(bytes, path);
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

// The key behind a handle; false for a handle that is not open. The two predefined keys
// are the local machine's hive and the classes under it (empty when the file has none).
bool resolve(RegKey handle, OpenKey& out) {
    ensureLoaded();
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (handle == localMachineHandle || handle == classesRootHandle) {
        const KeyStore& store = *r.store;
        KeyId machine = store.root(regfile::Hive::localMachine);
        out.store = r.store;
        out.key = handle == localMachineHandle ? machine : store.find(machine, regfile::classesRootPath);
        if (out.key == regfile::noKey) out.key = store.emptyKey();
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
    KeyId target = base.store->find(base.key, path);
    if (target == regfile::noKey) return errorFileNotFound;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    key = r.nextHandle;
    r.nextHandle += 4;
    r.open.emplace(key, OpenKey{base.store, target});
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
    if (index >= open.store->subkeyCount(open.key)) return errorNoMoreItems;
    const std::string& name = open.store->name(open.store->subkey(open.key, index));
    if (name.size() + 1 > size) return errorMoreData;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return errorSuccess;
}

// The value's bytes as stored (see regfile::Value): a string's terminator is counted
// when the file stored one, as on Windows.
int32_t regQueryValueExA(RegKey key, const char* name, uint8_t* buffer, uint32_t& size) {
    OpenKey open;
    if (!resolve(key, open)) return errorInvalidHandle;
    const regfile::Value* value = open.store->value(open.key, name == nullptr ? "" : name);
    if (value == nullptr) return errorFileNotFound;
    auto needed = static_cast<uint32_t>(value->data.size());

    // Without a buffer the call only reports the size, as on Windows.
    if (buffer == nullptr) {
        size = needed;
        return errorSuccess;
    }
    bool fits = needed <= size;
    size = needed;
    if (!fits) return errorMoreData;
    std::memcpy(buffer, value->data.data(), needed);
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
