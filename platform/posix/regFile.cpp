#include "platform/posix/regFile.h"

#include <algorithm>
#include <unordered_set>

#include "platform/platform.h"

namespace plat::regfile {
namespace {

// Each byte folded to upper case, as Windows compares names: "_" sorts after the
// letters. A table rather than a function, so that loops over names stay cheap in
// unoptimised builds too (the native preset is one).
constexpr struct FoldTable {
    unsigned char upper[256];
    constexpr FoldTable() : upper() {
        for (int c = 0; c < 256; ++c)
            upper[c] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
} fold;

unsigned char foldCase(char c) {
    return fold.upper[static_cast<unsigned char>(c)];
}

bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold.upper[static_cast<unsigned char>(a[i])] != fold.upper[static_cast<unsigned char>(b[i])])
            return false;
    return true;
}

std::string foldedName(std::string_view name) {
    std::string folded(name);
    char* p = folded.data();
    for (size_t i = 0, n = folded.size(); i < n; ++i)
        p[i] = static_cast<char>(fold.upper[static_cast<unsigned char>(p[i])]);
    return folded;
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

// 1 to 8 hexadecimal digits as a number; false for anything else.
bool readHexNumber(std::string_view digits, uint32_t& value) {
    if (digits.empty() || digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), isHexDigit))
        return false;
    value = 0;
    for (char c : digits)
        value = value << 4 | hexValue(c);
    return true;
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

// UTF-16LE bytes as UTF-8; a last odd byte is dropped.
std::string utf8FromUtf16Bytes(std::string_view bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return utf8FromUtf16(units);
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
        text = utf8FromUtf16Bytes(bytes);
        return true;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    text.assign(bytes);
    return true;
}

} // namespace

// Collects keys and values while the file is read. Keys are nodes with sibling links;
// a hash set over (parent, name without case) finds a child in constant time. Deleted
// keys stay as dead nodes and are left out when the store is built.
class StoreBuilder {
  public:
    StoreBuilder() : children_(0, ChildHash{&nodes_}, ChildEqual{&nodes_}) {
        // The hive roots and the empty key: nameless, parentless, never deleted.
        nodes_.resize(hiveCount + 1);
    }
    StoreBuilder(const StoreBuilder&) = delete; // the set's functors point at nodes_
    StoreBuilder& operator=(const StoreBuilder&) = delete;

    // The child `name` of `parent`; created when missing and `create` is set, else noKey.
    // `name` must outlive the builder.
    KeyId child(KeyId parent, std::string_view name, bool create) {
        auto found = children_.find(ChildName{parent, name});
        if (found != children_.end()) return *found;
        if (!create) return noKey;
        auto id = static_cast<KeyId>(nodes_.size());
        Node& node = nodes_.emplace_back();
        node.name = name;
        node.parent = parent;
        Node& above = nodes_[parent];
        (above.lastChild == noKey ? above.firstChild : nodes_[above.lastChild].nextSibling) = id;
        above.lastChild = id;
        children_.insert(id);
        return id;
    }

    // Deletes a key with all its subkeys, without recursion. Roots stay.
    void removeKey(KeyId key) {
        if (key <= hiveCount) return;
        std::vector<KeyId> pending{key};
        while (!pending.empty()) {
            KeyId next = pending.back();
            pending.pop_back();
            if (!nodes_[next].live) continue;
            children_.erase(next);
            nodes_[next].live = false;
            for (KeyId c = nodes_[next].firstChild; c != noKey; c = nodes_[c].nextSibling)
                pending.push_back(c);
        }
    }

    // Values are written down in file order; the last word on a name counts (finish).
    void setValue(KeyId key, std::string_view name, Value value) {
        values_.push_back({key, foldedName(name), std::move(value), false});
    }
    void removeValue(KeyId key, std::string_view name) {
        values_.push_back({key, foldedName(name), {}, true});
    }

    // The live keys in breadth-first order, each key's subkeys next to each other and
    // sorted, so that subkey i of a key is its first subkey's index plus i.
    KeyStore finish() {
        // No more lookups: the set's memory goes back before the store is built.
        decltype(children_)(0, children_.hash_function(), children_.key_eq()).swap(children_);
        KeyStore store;
        store.keys_.clear();
        std::vector<KeyId> newId(nodes_.size(), noKey);
        std::vector<KeyId> oldId; // of each key of the store, in store order
        for (KeyId root = 0; root <= hiveCount; ++root) {
            newId[root] = root;
            oldId.push_back(root);
            store.keys_.emplace_back();
        }
        // Sorting compares the folded names as plain bytes.
        std::vector<std::pair<std::string, KeyId>> live;
        for (size_t k = 0; k < oldId.size(); ++k) {
            live.clear();
            for (KeyId c = nodes_[oldId[k]].firstChild; c != noKey; c = nodes_[c].nextSibling)
                if (nodes_[c].live) live.emplace_back(foldedName(nodes_[c].name), c);
            std::sort(live.begin(), live.end());
            store.keys_[k].firstSubkey = static_cast<uint32_t>(oldId.size());
            store.keys_[k].subkeyCount = static_cast<uint32_t>(live.size());
            for (const auto& [folded, c] : live) {
                newId[c] = static_cast<KeyId>(oldId.size());
                oldId.push_back(c);
                store.keys_.emplace_back().name = std::string(nodes_[c].name);
            }
        }

        // Values of live keys, grouped by key (counted, then placed); within a key
        // sorted by name and file order, of which the last entry of each name counts.
        std::vector<uint32_t> start(store.keys_.size() + 1, 0);
        for (ValueEntry& entry : values_) {
            entry.key = newId[entry.key];
            if (entry.key != noKey) ++start[entry.key + 1];
        }
        for (size_t k = 1; k < start.size(); ++k)
            start[k] += start[k - 1];
        std::vector<uint32_t> grouped(start.back());
        std::vector<uint32_t> next(start.begin(), start.end() - 1);
        for (uint32_t i = 0; i < values_.size(); ++i)
            if (values_[i].key != noKey) grouped[next[values_[i].key]++] = i;
        auto byNameThenOrder = [this](uint32_t a, uint32_t b) {
            int order = values_[a].name.compare(values_[b].name);
            return order != 0 ? order < 0 : a < b;
        };
        for (size_t k = 0; k < store.keys_.size(); ++k) {
            auto first = grouped.begin() + start[k], last = grouped.begin() + start[k + 1];
            if (last - first > 1) std::sort(first, last, byNameThenOrder);
            store.keys_[k].firstValue = static_cast<uint32_t>(store.values_.size());
            for (auto it = first; it != last; ++it) {
                ValueEntry& entry = values_[*it];
                if ((it + 1 != last && values_[*(it + 1)].name == entry.name) || entry.removed) continue;
                store.values_.push_back({std::move(entry.name), std::move(entry.value)});
            }
            store.keys_[k].valueCount =
                static_cast<uint32_t>(store.values_.size()) - store.keys_[k].firstValue;
        }
        values_.clear();
        return store;
    }

  private:
    struct Node {
        std::string_view name;
        KeyId parent = noKey;
        KeyId firstChild = noKey, lastChild = noKey, nextSibling = noKey;
        bool live = true;
    };
    struct ChildName {
        KeyId parent;
        std::string_view name;
    };
    // FNV-1a over the parent and the case-folded name.
    static size_t hashOf(KeyId parent, std::string_view name) {
        uint64_t hash = 1469598103934665603ull ^ parent;
        for (char c : name)
            hash = (hash ^ fold.upper[static_cast<unsigned char>(c)]) * 1099511628211ull;
        return static_cast<size_t>(hash);
    }
    struct ChildHash {
        using is_transparent = void;
        const std::vector<Node>* nodes;
        size_t operator()(KeyId id) const { return hashOf((*nodes)[id].parent, (*nodes)[id].name); }
        size_t operator()(const ChildName& c) const { return hashOf(c.parent, c.name); }
    };
    struct ChildEqual {
        using is_transparent = void;
        const std::vector<Node>* nodes;
        ChildName of(KeyId id) const { return {(*nodes)[id].parent, (*nodes)[id].name}; }
        static ChildName of(const ChildName& c) { return c; }
        template <class A, class B> bool operator()(const A& a, const B& b) const {
            ChildName x = of(a), y = of(b);
            return x.parent == y.parent && sameNoCase(x.name, y.name);
        }
    };

    struct ValueEntry {
        KeyId key;
        std::string name; // folded
        Value value;
        bool removed;
    };

    std::vector<Node> nodes_;
    std::unordered_set<KeyId, ChildHash, ChildEqual> children_;
    std::vector<ValueEntry> values_;
};

namespace {

// The lines of the text, counted from 1, without their line ends.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : rest_(text) {}
    bool next(std::string_view& line) {
        if (done_) return false;
        size_t end = rest_.find('\n');
        line = rest_.substr(0, end);
        if (end == std::string_view::npos)
            done_ = true;
        else
            rest_.remove_prefix(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number_;
        return true;
    }
    int number() const { return number_; }

  private:
    std::string_view rest_;
    int number_ = 0;
    bool done_ = false;
};

class Parser {
  public:
    Parser(LineReader& lines, bool unicodeFile) : lines_(lines), unicodeFile_(unicodeFile) {}

    StoreBuilder builder;
    std::string error;

    // Handles the line just read (and the lines a hex value continues on); false with
    // `error` set when it is malformed.
    bool line(std::string_view text) {
        text = trim(text);
        if (text.empty() || text.front() == ';') return true;
        if (text.front() == '[') return sectionLine(text);
        if (text.front() == '"' || text.front() == '@') return valueLine(text);
        return fail("expected \"name\"=value or [key]");
    }

  private:
    LineReader& lines_;
    const bool unicodeFile_;
    enum class Section { none, key, deleted } sectionKind_ = Section::none;
    KeyId section_ = noKey;
    std::string continued_; // a hex value joined from its lines
    struct PathStep {
        std::string_view name;
        KeyId key;
    };
    KeyId lastBase_ = noKey;
    std::vector<PathStep> lastPath_; // the keys of the last section below lastBase_

    bool fail(std::string what) {
        error = std::move(what);
        return false;
    }

    // The hive root of a section path and the path below it (HKEY_CLASSES_ROOT becomes
    // its place under HKEY_LOCAL_MACHINE).
    bool splitRoot(std::string_view path, KeyId& root, std::string_view& below, bool& classes) {
        if (path.empty() || path.front() == '\\' || path.back() == '\\' ||
            path.find("\\\\") != std::string_view::npos)
            return fail("empty key name in the path");
        static constexpr struct {
            std::string_view name, shortName;
            Hive hive;
        } roots[] = {
            {"HKEY_LOCAL_MACHINE", "HKLM", Hive::localMachine},
            {"HKEY_CLASSES_ROOT", "HKCR", Hive::localMachine},
            {"HKEY_CURRENT_USER", "HKCU", Hive::currentUser},
            {"HKEY_USERS", "HKU", Hive::users},
            {"HKEY_CURRENT_CONFIG", "HKCC", Hive::currentConfig},
        };
        std::string_view rootName = firstSegment(path, below);
        for (const auto& r : roots) {
            if (sameNoCase(rootName, r.name) || sameNoCase(rootName, r.shortName)) {
                root = static_cast<KeyId>(r.hive);
                classes = &r == &roots[1];
                return true;
            }
        }
        return fail("unknown root key \"" + std::string(rootName) + "\"");
    }

    // Walks `path` from `key`; creates what is missing when `create` is set.
    KeyId walk(KeyId key, std::string_view path, bool create) {
        while (!path.empty() && key != noKey)
            key = builder.child(key, firstSegment(path, path), create);
        return key;
    }

    bool sectionLine(std::string_view text) {
        if (text.back() != ']') return fail("expected ] at the end of the key");
        std::string_view path = trim(text.substr(1, text.size() - 2));
        bool deletion = !path.empty() && path.front() == '-';
        if (deletion) path.remove_prefix(1);
        KeyId root;
        std::string_view below;
        bool classes;
        if (!splitRoot(path, root, below, classes)) return false;

        if (deletion) {
            // A hive cannot be deleted; a key that is not there needs no deleting. The
            // values that follow have no key to go to and are passed over.
            if (!below.empty()) {
                KeyId base = classes ? walk(root, classesRootPath, false) : root;
                KeyId key = walk(base, below, false);
                if (key != noKey) builder.removeKey(key);
                lastPath_.clear(); // its keys may be gone
            }
            sectionKind_ = Section::deleted;
            return true;
        }
        section_ = createPath(classes ? walk(root, classesRootPath, true) : root, below);
        sectionKind_ = Section::key;
        return true;
    }

    // Creates the keys of `path` under `base`. Consecutive sections mostly share the
    // start of their paths (an exported file lists a key, then its subkeys), so the keys
    // of the last path are reused for as many names as are written the same.
    KeyId createPath(KeyId base, std::string_view path) {
        if (base != lastBase_) lastPath_.clear();
        lastBase_ = base;
        KeyId key = base;
        size_t depth = 0;
        for (; !path.empty(); ++depth) {
            std::string_view name = firstSegment(path, path);
            if (depth < lastPath_.size() && lastPath_[depth].name == name) {
                key = lastPath_[depth].key;
                continue;
            }
            lastPath_.resize(depth);
            key = builder.child(key, name, true);
            lastPath_.push_back({name, key});
        }
        lastPath_.resize(depth);
        return key;
    }

    // Reads "…" starting at `pos` (on the opening quote); `pos` ends after the closing one.
    bool quoted(std::string_view text, size_t& pos, std::string& out) {
        out.clear();
        const char* const end = text.data() + text.size();
        const char* p = text.data() + pos + 1;
        for (;;) {
            // Plain characters are taken in runs.
            const char* run = p;
            while (p != end && *p != '"' && *p != '\\')
                ++p;
            out.append(run, p);
            if (p == end || (*p == '\\' && p + 1 == end)) break;
            if (*p == '"') {
                pos = static_cast<size_t>(p + 1 - text.data());
                return true;
            }
            char escaped = p[1];
            if (escaped != '\\' && escaped != '"')
                return fail(std::string("unknown escape \\") + escaped + " in text");
            out.push_back(escaped);
            p += 2;
        }
        return fail("text without its closing \"");
    }

    // The bytes of a hex value: two-digit (or one-digit) hexadecimal numbers between
    // commas, blanks allowed, one trailing comma allowed.
    bool hexBytes(std::string_view list, std::string& bytes) {
        bytes.clear();
        list = trim(list);
        while (!list.empty()) {
            size_t comma = list.find(',');
            std::string_view item = trim(list.substr(0, comma));
            uint32_t byte;
            if (item.size() > 2 || !readHexNumber(item, byte))
                return fail("hex: needs bytes of two hexadecimal digits separated by commas");
            bytes.push_back(static_cast<char>(byte));
            list = comma == std::string_view::npos ? std::string_view() : trim(list.substr(comma + 1));
        }
        return true;
    }

    // A hex value goes on over the lines that follow while a line ends in "\".
    std::string_view joinContinuation(std::string_view data) {
        if (data.empty() || data.back() != '\\') return data;
        continued_.assign(data.substr(0, data.size() - 1));
        std::string_view next;
        while (lines_.next(next)) {
            next = trim(next);
            bool more = !next.empty() && next.back() == '\\';
            if (more) next.remove_suffix(1);
            continued_.append(next);
            if (!more) break;
        }
        return continued_;
    }

    bool hexValue(std::string_view data, Value& value) {
        // "hex:" or "hex(N):" with N in hexadecimal.
        size_t colon = data.find(':');
        if (colon == std::string_view::npos) return fail("expected hex: or hex(N): before the bytes");
        std::string_view kind = data.substr(0, colon);
        if (sameNoCase(kind, "hex")) {
            value.type = typeBinary;
        } else if (kind.size() < 5 || kind.back() != ')' || !sameNoCase(kind.substr(0, 4), "hex(") ||
                   !readHexNumber(kind.substr(4, kind.size() - 5), value.type)) {
            return fail("hex(N): needs a type of 1 to 8 hexadecimal digits");
        }
        if (!hexBytes(joinContinuation(data.substr(colon + 1)), value.data)) return false;
        // A version 5.00 file writes the text kinds in UTF-16; 8-bit queries see 8-bit text.
        bool textKind =
            value.type == typeString || value.type == typeExpandString || value.type == typeMultiString;
        if (unicodeFile_ && textKind) value.data = utf8FromUtf16Bytes(value.data);
        return true;
    }

    bool valueLine(std::string_view text) {
        if (sectionKind_ == Section::none) return fail("value outside a key section");
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

        Value value;
        bool remove = false;
        if (data == "-") {
            remove = true;
        } else if (!data.empty() && data.front() == '"') {
            size_t end = 0;
            if (!quoted(data, end, value.data)) return false;
            if (end != data.size()) return fail("unexpected text after the value");
            value.data.push_back('\0'); // stored with its terminator, as the editor stores it
        } else if (sameNoCase(data.substr(0, 6), "dword:")) {
            uint32_t dword;
            if (!readHexNumber(data.substr(6), dword)) return fail("dword: needs 1 to 8 hexadecimal digits");
            value.type = typeDword;
            for (int shift = 0; shift < 32; shift += 8)
                value.data.push_back(static_cast<char>(dword >> shift & 0xFF));
        } else if (sameNoCase(data.substr(0, 3), "hex")) {
            if (!hexValue(data, value)) return false;
        } else if (size_t colon = data.find(':'); colon != std::string_view::npos) {
            return fail("unknown value type \"" + std::string(data.substr(0, colon + 1)) + "\"");
        } else {
            return fail("expected \"name\"=value");
        }

        if (sectionKind_ == Section::deleted) return true;
        if (remove)
            builder.removeValue(section_, name);
        else
            builder.setValue(section_, name, std::move(value));
        return true;
    }
};

} // namespace

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
    size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        unsigned char x = fold.upper[static_cast<unsigned char>(a[i])];
        unsigned char y = fold.upper[static_cast<unsigned char>(b[i])];
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

KeyStore::KeyStore() : keys_(hiveCount + 1) {}

KeyId KeyStore::find(KeyId from, std::string_view path) const {
    KeyId key = from;
    while (!path.empty() && key != noKey) {
        std::string_view name = firstSegment(path, path);
        const KeyRecord& record = keys_[key];
        auto first = keys_.begin() + record.firstSubkey, last = first + record.subkeyCount;
        auto found = std::lower_bound(first, last, name, [](const KeyRecord& k, std::string_view n) {
            return NoCaseLess()(k.name, n);
        });
        key = found != last && sameNoCase(found->name, name) ? static_cast<KeyId>(found - keys_.begin())
                                                             : noKey;
    }
    return key;
}

// Value names are kept folded, so the search compares plain bytes (std::string orders
// them as unsigned bytes, as NoCaseLess does).
const Value* KeyStore::value(KeyId key, std::string_view name) const {
    const KeyRecord& record = keys_[key];
    const std::string folded = foldedName(name);
    auto first = values_.begin() + record.firstValue, last = first + record.valueCount;
    auto found = std::lower_bound(first, last, folded,
                                  [](const NamedValue& v, const std::string& n) { return v.name < n; });
    return found != last && found->name == folded ? &found->value : nullptr;
}

ParseResult parseRegistryText(std::string_view bytes) {
    ParseResult result;
    if (bytes.size() > maxTextBytes) {
        result.error = "larger than 64 MiB";
        return result;
    }
    std::string text;
    if (!decodeText(bytes, text, result.error)) return result;

    LineReader lines(text);
    std::string_view line;
    lines.next(line);
    line = trim(line);
    bool unicodeFile = line == "Windows Registry Editor Version 5.00";
    if (!unicodeFile && line != "REGEDIT4") {
        result.error = "expected REGEDIT4 or Windows Registry Editor Version 5.00";
        result.errorLine = 1;
        return result;
    }

    Parser parser(lines, unicodeFile);
    while (lines.next(line)) {
        int lineNumber = lines.number();
        if (!parser.line(line)) {
            result.error = std::move(parser.error);
            result.errorLine = lineNumber;
            return result;
        }
    }
    result.store = parser.builder.finish();
    return result;
}

std::string utf8FromUtf16(std::u16string_view text) {
    return toUtf8(std::u16string(text));
}

} // namespace plat::regfile
