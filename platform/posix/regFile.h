// The registry-editor text format and the key store it describes, for the POSIX
// stand-in registry. Parsing is a pure function from the file's bytes to a store or an
// error, so it can be tested without touching the process's registry.
//
// Cost: parsing is linear in the text (keys are found by hashing, never by walking
// siblings) and no step recurses, so neither the size nor the depth of a file can
// exhaust the stack. Subkeys are held sorted, so enumeration by index is O(1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat::regfile {

// Orders names as the registry compares them: ASCII letters folded to upper case, every
// other byte as it is. Subkeys enumerate in this order.
struct NoCaseLess {
    bool operator()(std::string_view a, std::string_view b) const;
};

// Value types, as the registry numbers them. Any other number is kept as it is.
inline constexpr uint32_t typeNone = 0;
inline constexpr uint32_t typeString = 1;
inline constexpr uint32_t typeExpandString = 2;
inline constexpr uint32_t typeBinary = 3;
inline constexpr uint32_t typeDword = 4;
inline constexpr uint32_t typeMultiString = 7;
inline constexpr uint32_t typeQword = 11;

struct Value {
    uint32_t type = typeString;
    // The bytes an 8-bit query hands back: the text kinds as 8-bit (UTF-8) text with the
    // zeros they were stored with (a quoted string gets its terminator), every other
    // kind exactly as written.
    std::string data;
};

// The roots of the file. The tool sees only the local machine; the others are kept
// apart so that a file exported from a whole registry still loads.
enum class Hive : uint8_t { localMachine, currentUser, users, currentConfig };
inline constexpr size_t hiveCount = 4;

using KeyId = uint32_t;
inline constexpr KeyId noKey = UINT32_MAX;

// Every key of a parsed file, flat: a key is an index, its subkeys and its values are
// ranges of two shared arrays, each sorted by name. Read-only once built.
class KeyStore {
  public:
    KeyStore(); // the hive roots and the empty key, nothing else

    KeyId root(Hive hive) const { return static_cast<KeyId>(hive); }
    // A key with no subkeys and no values, for a predefined key the file did not fill.
    KeyId emptyKey() const { return static_cast<KeyId>(hiveCount); }

    // The key reached from `from` by a "\"-separated path, or noKey. An empty path is
    // `from`; a trailing "\" is ignored; an empty name inside the path matches nothing.
    KeyId find(KeyId from, std::string_view path) const;
    size_t subkeyCount(KeyId key) const { return keys_[key].subkeyCount; }
    // Subkey `index` (below subkeyCount) in enumeration order.
    KeyId subkey(KeyId key, size_t index) const { return static_cast<KeyId>(keys_[key].firstSubkey + index); }
    const std::string& name(KeyId key) const { return keys_[key].name; }
    // The value `name` ("" for the default value) of `key`, or nullptr.
    const Value* value(KeyId key, std::string_view name) const;
    size_t keyCount() const { return keys_.size(); }

  private:
    friend class StoreBuilder;
    struct KeyRecord {
        std::string name;
        uint32_t firstSubkey = 0, subkeyCount = 0;
        uint32_t firstValue = 0, valueCount = 0;
    };
    struct NamedValue {
        std::string name; // in upper case
        Value value;
    };
    // A key's subkeys are consecutive records, so subkey i is the first one plus i.
    std::vector<KeyRecord> keys_;
    std::vector<NamedValue> values_;
};

// The path of HKEY_CLASSES_ROOT inside HKEY_LOCAL_MACHINE: Windows merges the two, and
// so does the stand-in by keeping one tree.
inline constexpr std::string_view classesRootPath = "SOFTWARE\\Classes";

// Larger texts are refused whole: the store of a file costs a few times its size.
inline constexpr size_t maxTextBytes = size_t{64} << 20;

struct ParseResult {
    KeyStore store;
    // Empty on success. Otherwise what is wrong, on line `errorLine` (counted from 1;
    // 0 when the fault concerns the whole text).
    std::string error;
    int errorLine = 0;
};

// Reads a file's bytes: "REGEDIT4" or "Windows Registry Editor Version 5.00" first,
// then [key] and [-key] sections under any of the four hives, values as "text",
// dword:, hex: and hex(N): (continued over lines ending in "\"), "name"=- deletions,
// ";" comments and blank lines. UTF-8 (with or without BOM) or UTF-16LE with its BOM;
// CR LF or LF line ends. In a version 5.00 file the text kinds written as hex are
// UTF-16LE and are stored as 8-bit text. On error the returned store is empty.
ParseResult parseRegistryText(std::string_view bytes);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);

} // namespace plat::regfile
