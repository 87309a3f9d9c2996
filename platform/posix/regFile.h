// The registry-editor text format and the key tree it describes, for the POSIX stand-in
// registry. Parsing is a pure function from the file's bytes to a tree or an error, so
// it can be tested without touching the process's registry.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace plat::regfile {

// Orders names as the registry compares them: ASCII letters folded to upper case, every
// other byte as it is. Subkeys enumerate in this order.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct Value {
    bool isDword = false;
    std::string text; // a string value, UTF-8, without its terminator
    uint32_t dword = 0;
};

struct Key {
    std::map<std::string, Value, NoCaseLess> values; // "" is the default value
    std::map<std::string, std::unique_ptr<Key>, NoCaseLess> subkeys;

    // The subkey reached by a "\"-separated path, or nullptr. An empty path is this key.
    const Key* find(std::string_view path) const;
};

// The path of HKEY_CLASSES_ROOT inside HKEY_LOCAL_MACHINE: Windows merges the two, and
// so does the stand-in by keeping one tree.
inline constexpr std::string_view classesRootPath = "SOFTWARE\\Classes";

struct ParseResult {
    Key localMachine;
    // Empty on success. Otherwise what is wrong, on line `errorLine` (counted from 1;
    // 0 when the fault concerns the whole text).
    std::string error;
    int errorLine = 0;
};

// Reads a file's bytes: "REGEDIT4" or "Windows Registry Editor Version 5.00" first,
// then [key] sections, "name"="text", @="text", "name"=dword:hex, ";" comments and
// blank lines; deletions are refused. UTF-8 (with or without BOM) or UTF-16LE
// with its BOM; CR LF or LF line ends. On error the returned tree is empty.
ParseResult parseRegistryText(std::string_view bytes);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);

} // namespace plat::regfile
