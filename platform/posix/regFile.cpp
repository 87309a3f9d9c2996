#include "platform/posix/regFile.h"

#include <algorithm>

namespace plat::regfile {
namespace {

// Folds to upper case, as Windows compares names: "_" sorts after the letters.
unsigned char foldCase(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return foldCase(x) == foldCase(y); });
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (foldCase(c) >= 'A' && foldCase(c) <= 'F');
}

uint32_t hexValue(char c) {
    return c <= '9' ? uint32_t(c - '0') : uint32_t(foldCase(c) - 'A' + 10);
}

// The first path segment (up to "\") and the remainder after the separator.
std::string_view firstSegment(std::string_view path, std::string_view& rest) {
    size_t cut = path.find('\\');
    if (cut == std::string_view::npos) {
        rest = {};
        return path;
    }
    rest = path.substr(cut + 1);
    return path.substr(0, cut);
}

// Turns the file's bytes into UTF-8 text without a byte-order mark.
bool decodeText(std::string_view bytes, std::string& text, std::string& error) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        bytes.remove_prefix(2);
        if (bytes.size() % 2 != 0) {
            error = "UTF-16 text with an odd number of bytes";
            return false;
        }
        std::u16string units(bytes.size() / 2, u'\0');
        for (size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                             static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
        text = utf8FromUtf16(units);
        return true;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    text.assign(bytes);
    return true;
}

class Parser {
  public:
    Key root;

    // Handles one line after the header; false with `error` set when it is malformed.
    bool line(std::string_view text) {
        text = trim(text);
        if (text.empty() || text.front() == ';') return true;
        if (text.front() == '[') return sectionLine(text);
        if (text.front() == '"' || text.front() == '@') return valueLine(text);
        return fail("expected \"name\"=value or [key]");
    }

    std::string error;

  private:
    Key* section = nullptr;

    bool fail(std::string what) {
        error = std::move(what);
        return false;
    }

    // Rewrites a section's key path as a path under HKEY_LOCAL_MACHINE.
    bool localMachinePath(std::string_view path, std::string& result) {
        if (path.empty() || path.front() == '\\' || path.back() == '\\' ||
            path.find("\\\\") != std::string_view::npos)
            return fail("empty key name in the path");
        std::string_view rest;
        std::string_view rootName = firstSegment(path, rest);
        if (sameNoCase(rootName, "HKEY_LOCAL_MACHINE") || sameNoCase(rootName, "HKLM")) {
            result.assign(rest);
        } else if (sameNoCase(rootName, "HKEY_CLASSES_ROOT") || sameNoCase(rootName, "HKCR")) {
            result.assign(classesRootPath);
            if (!rest.empty()) result.append("\\").append(rest);
        } else {
            return fail("unknown root key \"" + std::string(rootName) + "\"");
        }
        return true;
    }

    bool sectionLine(std::string_view text) {
        if (text.back() != ']') return fail("expected ] at the end of the key");
        std::string_view path = trim(text.substr(1, text.size() - 2));
        // Deleting is not needed for describing drivers; refuse it rather than ignore it.
        if (!path.empty() && path.front() == '-') return fail("key deletions are not supported");
        std::string underRoot;
        if (!localMachinePath(path, underRoot)) return false;

        Key* key = &root;
        std::string_view remaining = underRoot;
        while (!remaining.empty()) {
            std::unique_ptr<Key>& child = key->subkeys[std::string(firstSegment(remaining, remaining))];
            if (!child) child = std::make_unique<Key>();
            key = child.get();
        }
        section = key;
        return true;
    }

    // Reads "…" starting at `pos` (on the opening quote); `pos` ends after the closing one.
    bool quoted(std::string_view text, size_t& pos, std::string& out) {
        out.clear();
        for (++pos; pos < text.size(); ++pos) {
            char c = text[pos];
            if (c == '"') {
                ++pos;
                return true;
            }
            if (c == '\\') {
                if (pos + 1 >= text.size()) break;
                char escaped = text[++pos];
                if (escaped != '\\' && escaped != '"')
                    return fail(std::string("unknown escape \\") + escaped + " in text");
                c = escaped;
            }
            out.push_back(c);
        }
        return fail("text without its closing \"");
    }

    bool valueLine(std::string_view text) {
        if (section == nullptr) return fail("value outside a key section");
        size_t pos = 0;
        std::string name;
        if (text.front() == '@')
            pos = 1;
        else if (!quoted(text, pos, name))
            return false;
        while (pos < text.size() && isBlank(text[pos]))
            ++pos;
        if (pos >= text.size() || text[pos] != '=') return fail("expected \"name\"=value");
        std::string_view data = trim(text.substr(pos + 1));

        if (data == "-") return fail("value deletions are not supported");
        Value value;
        if (!data.empty() && data.front() == '"') {
            size_t end = 0;
            if (!quoted(data, end, value.text)) return false;
            if (end != data.size()) return fail("unexpected text after the value");
        } else if (sameNoCase(data.substr(0, 6), "dword:")) {
            std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), isHexDigit))
                return fail("dword: needs 1 to 8 hexadecimal digits");
            value.isDword = true;
            for (char c : digits)
                value.dword = value.dword << 4 | hexValue(c);
        } else if (size_t colon = data.find(':'); colon != std::string_view::npos) {
            return fail("unsupported value type \"" + std::string(data.substr(0, colon + 1)) +
                        "\" (only text and dword: are read)");
        } else {
            return fail("expected \"name\"=value");
        }
        section->values[name] = std::move(value);
        return true;
    }
};

} // namespace

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return foldCase(x) < foldCase(y); });
}

const Key* Key::find(std::string_view path) const {
    const Key* key = this;
    while (!path.empty()) {
        std::string_view name = firstSegment(path, path);
        auto found = key->subkeys.find(std::string(name));
        if (found == key->subkeys.end()) return nullptr;
        key = found->second.get();
    }
    return key;
}

ParseResult parseRegistryText(std::string_view bytes) {
    ParseResult result;
    std::string text;
    if (!decodeText(bytes, text, result.error)) return result;

    Parser parser;
    std::string_view rest = text;
    for (int lineNumber = 1; !rest.empty() || lineNumber == 1; ++lineNumber) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        bool good;
        if (lineNumber == 1) {
            line = trim(line);
            good = line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00";
            if (!good) parser.error = "expected REGEDIT4 or Windows Registry Editor Version 5.00";
        } else {
            good = parser.line(line);
        }
        if (!good) {
            result.error = std::move(parser.error);
            result.errorLine = lineNumber;
            return result;
        }
    }
    result.localMachine = std::move(parser.root);
    return result;
}

std::string utf8FromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | code >> 6));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | code >> 12));
            out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | code >> 18));
            out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

} // namespace plat::regfile
