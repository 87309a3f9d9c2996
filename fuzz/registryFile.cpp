// Fuzz target: the registry-file parser of the POSIX stand-in registry.
//
// Every input is parsed as it comes (UTF-8, or UTF-16LE when it starts with the BOM)
// and, when it is well-formed UTF-8, once more re-encoded as UTF-16LE with its BOM:
// both encodings must give the same outcome. A parsed store must hold together: every
// key reachable once from the roots, subkeys strictly in enumeration order and found
// again by name, every value found again by its name.
//
// Inputs up to 1 MiB: the faults of deep and wide files need more than libFuzzer's
// default of 4 KB.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/regFile.h"

using namespace plat::regfile;

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "registryFile: %s\n", what);
    std::abort();
}

// Walks the whole store without recursion; returns the number of keys reached.
size_t checkStore(const KeyStore& store) {
    std::vector<KeyId> pending;
    for (size_t hive = 0; hive < hiveCount; ++hive)
        pending.push_back(store.root(static_cast<Hive>(hive)));
    pending.push_back(store.emptyKey());
    require(store.subkeyCount(store.emptyKey()) == 0, "the empty key has subkeys");
    size_t reached = 0;
    while (!pending.empty()) {
        KeyId key = pending.back();
        pending.pop_back();
        ++reached;
        require(reached <= store.keyCount(), "a key is reached twice");
        for (size_t i = 0; i < store.subkeyCount(key); ++i) {
            KeyId child = store.subkey(key, i);
            const std::string& name = store.name(child);
            require(!name.empty() && name.find('\\') == std::string::npos, "a key name is empty or has a \\");
            if (i > 0)
                require(NoCaseLess()(store.name(store.subkey(key, i - 1)), name), "subkeys out of order");
            require(store.find(key, name) == child, "a subkey is not found by its name");
            pending.push_back(child);
        }
        require(store.value(key, "\x01 no such value \x02") == nullptr, "a value that was never written");
    }
    return reached;
}

void check(const ParseResult& parsed) {
    if (!parsed.error.empty()) {
        require(parsed.errorLine >= 0, "negative error line");
        require(parsed.store.keyCount() == KeyStore().keyCount(), "a refused file left keys behind");
        return;
    }
    require(checkStore(parsed.store) == parsed.store.keyCount(), "a key is not reachable from a root");
}

bool sameOutcome(const ParseResult& a, const ParseResult& b) {
    return a.error == b.error && a.errorLine == b.errorLine && a.store.keyCount() == b.store.keyCount();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Raise libFuzzer's input limit unless the command line sets one.
    for (int i = 1; i < *argc; ++i)
        if (std::strncmp((*argv)[i], "-max_len=", 9) == 0) return 0;
    static std::vector<char*> arguments((*argv), (*argv) + *argc);
    static char maxLength[] = "-max_len=1048576";
    arguments.insert(arguments.begin() + 1, maxLength);
    arguments.push_back(nullptr);
    *argc += 1;
    *argv = arguments.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const ParseResult parsed = parseRegistryText(bytes);
    check(parsed);

    // The same text in the other encoding, when it is text at all.
    std::string text = bytes;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    const std::u16string wide = plat::fromNarrow(text);
    if (plat::toNarrow(wide) != text) return 0;
    std::string utf16 = "\xFF\xFE";
    for (char16_t unit : wide)
        utf16 += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    const ParseResult reparsed = parseRegistryText(utf16);
    check(reparsed);
    // Only the size limit is measured in bytes of the file, so it may differ.
    if (parsed.error != "larger than 64 MiB" && reparsed.error != "larger than 64 MiB")
        require(sameOutcome(parsed, reparsed), "UTF-8 and UTF-16 give different outcomes");
    return 0;
}
