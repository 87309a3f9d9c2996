#include "app/inventory/driverInventory.h"

#include <algorithm>
#include <cstring>
#include <set>

#include <nlohmann/json.hpp>

#include "app/report.h"
#include "measure/moduleBits.h"
#include "util/telUtils.h"

namespace {

// The driver list's own limits: key names of 127 characters, class identifier values of
// 256 bytes, server paths of 261 bytes, descriptions of 256 bytes.
constexpr uint32_t keyNameBytes = 128;
constexpr uint32_t longKeyNameBytes = 1024; // what /list reads to name a longer key
constexpr uint32_t clsidBytes = 256;
constexpr uint32_t serverPathBytes = 261;
constexpr uint32_t descriptionBytes = 256;
constexpr size_t clsidTextLimit = 100;

int ownBits() { return plat::ownRegistryView() == plat::RegView::bits64 ? 64 : 32; }

const char* viewName(plat::RegView view) { return view == plat::RegView::bits64 ? "64-bit" : "32-bit"; }

// A string value, up to its zero byte or the bytes read, whichever comes first.
bool readText(plat::RegKey key, const char* name, uint32_t capacity, std::string& text) {
    std::vector<uint8_t> buffer(capacity);
    uint32_t size = capacity;
    if (plat::regQueryValueExA(key, name, buffer.data(), size) != plat::errorSuccess) return false;
    auto begin = reinterpret_cast<const char*>(buffer.data());
    text.assign(begin, std::find(begin, begin + std::min(size, capacity), '\0'));
    return true;
}

bool keyExists(plat::RegKey root, const std::string& path, plat::RegView view) {
    plat::RegKey key = 0;
    if (plat::regOpenKeyInView(root, path, view, key) != plat::errorSuccess) return false;
    plat::regCloseKey(key);
    return true;
}

// The server module of a class, as the driver list finds it; a reason when it cannot.
bool findServer(const std::string& clsid, plat::RegView view, std::string& module, std::string& reason) {
    const std::string classPath = "clsid\\" + clsid;
    plat::RegKey key = 0;
    if (plat::regOpenKeyInView(plat::regClassesRoot(), classPath + "\\InprocServer32", view, key) !=
        plat::errorSuccess) {
        reason = keyExists(plat::regClassesRoot(), classPath, view)
                     ? "class " + clsid + " has no InprocServer32 key"
                     : "class " + clsid + " is not registered";
        return false;
    }
    const bool read = readText(key, nullptr, serverPathBytes, module);
    plat::regCloseKey(key);
    if (!read) reason = "class " + clsid + " has no readable server path";
    return read;
}

bool isBareName(const std::string& module) {
    return !module.empty() && module.find_first_of("\\/:") == std::string::npos;
}

// What stands in the way of a listed driver, if anything. A module of another bitness
// than its registry view is a broken registration; one of the other bitness than this
// program, in this program's view, is a driver this build cannot load.
void judgeModule(inventoryEntry& entry) {
    plat::Guid parsed{};
    const telText wide = plat::fromNarrow(entry.clsid);
    if (wide.size() >= clsidTextLimit || plat::clsidFromString(wide, parsed) != plat::hrOk) {
        entry.problem = "the class id cannot be parsed";
        return;
    }
    // A bare name (as registration tools write it) is where the loader finds it.
    entry.modulePath = plat::toNarrow(plat::findModule(plat::fromNarrow(entry.module)));
    entry.moduleExists = !entry.modulePath.empty();
    if (!entry.moduleExists) {
        entry.problem = isBareName(entry.module) ? "the module file is missing: the loader finds " +
                                                       entry.module + " in none of the folders it searches"
                                                 : "the module file is missing";
        return;
    }
    const measure::ModuleBits module = measure::moduleBitsOfFile(entry.modulePath);
    entry.moduleBits = module.bits;
    entry.wineBuiltin = module.wineBuiltin;
    if (module.bits == 0) {
        entry.problem = "the module is neither a Windows DLL nor a shared library";
        return;
    }
    const int viewBits = entry.view == plat::RegView::bits64 ? 64 : 32;
    if (entry.moduleBits == viewBits) {
        if (!module.exportsClassObject && !module.wineBuiltin)
            entry.problem = "the module does not export DllGetClassObject: it is no driver";
        return;
    }
    const std::string built = "the module is built for " + std::to_string(entry.moduleBits) + "-bit programs";
    entry.problem = viewBits == ownBits() ? built + "; this " + std::to_string(ownBits()) +
                                                "-bit echoprobe cannot load it"
                                          : built + ", but it is registered for " + std::to_string(viewBits) +
                                                "-bit ones";
}

inventoryEntry readEntry(plat::RegKey asioKey, const std::string& name, plat::RegView view) {
    inventoryEntry entry;
    entry.keyName = name;
    entry.description = name;
    entry.view = view;
    plat::RegKey key = 0;
    if (plat::regOpenKeyExA(asioKey, name, key) != plat::errorSuccess) {
        entry.problem = "the key cannot be opened";
        return entry;
    }
    std::string description;
    if (readText(key, "description", descriptionBytes, description)) entry.description = description;
    if (!readText(key, "clsid", clsidBytes, entry.clsid))
        entry.problem = "no readable class id";
    else if (findServer(entry.clsid, view, entry.module, entry.problem))
        entry.problem.clear();
    plat::regCloseKey(key);
    return entry;
}

// "  0: name, class {...}, module path (64-bit): ready"; a skipped key, and a key of the
// other view, has no position in this program's list.
telText entryLine(const inventoryEntry& entry, bool ownView) {
    telText text = entry.index && ownView ? u"  " + decimalText(*entry.index) + u": " : telText(u"  -: ");
    text += plat::fromNarrow(entry.keyName);
    if (!entry.index) return text + u": " + plat::fromNarrow(entry.problem);
    text += u", class " + plat::fromNarrow(entry.clsid) + u", module " + plat::fromNarrow(entry.module);
    if (!entry.modulePath.empty() && entry.modulePath != entry.module)
        text += u", found as " + plat::fromNarrow(entry.modulePath);
    if (entry.moduleBits != 0)
        text += u" (" + decimalText(entry.moduleBits) + u"-bit" +
                (entry.wineBuiltin ? u", a Wine built-in" : u"") + u")";
    return text + u": " + (entry.problem.empty() ? telText(u"ready") : plat::fromNarrow(entry.problem));
}

nlohmann::json entryJson(const inventoryEntry& entry) {
    auto text = [](const std::string& value) { return utf8Text(plat::fromNarrow(value)); };
    return {
        {"index", entry.index ? nlohmann::json(*entry.index) : nlohmann::json(nullptr)},
        {"name", text(entry.keyName)},
        {"description", text(entry.description)},
        {"clsid", entry.clsid.empty() ? nlohmann::json(nullptr) : nlohmann::json(text(entry.clsid))},
        {"module", entry.module.empty() ? nlohmann::json(nullptr) : nlohmann::json(text(entry.module))},
        {"modulePath",
         entry.modulePath.empty() ? nlohmann::json(nullptr) : nlohmann::json(text(entry.modulePath))},
        {"moduleExists", entry.moduleExists},
        {"wineBuiltin", entry.wineBuiltin},
        {"moduleBits", entry.moduleBits != 0 ? nlohmann::json(entry.moduleBits) : nlohmann::json(nullptr)},
        {"view", viewName(entry.view)},
        {"problem", entry.problem.empty() ? nlohmann::json(nullptr) : nlohmann::json(text(entry.problem))}};
}

} // namespace

std::vector<inventoryEntry> takeInventory(plat::RegView view) {
    std::vector<inventoryEntry> entries;
    plat::RegKey asioKey = 0;
    if (plat::regOpenKeyInView(plat::regLocalMachine(), "software\\asio", view, asioKey) != plat::errorSuccess)
        return entries;
    char name[keyNameBytes];
    int32_t next = 0;
    for (uint32_t index = 0;; ++index) {
        const int32_t status = plat::regEnumKeyA(asioKey, index, name, sizeof name);
        if (status == plat::errorMoreData) {
            // The driver list skips a key whose name does not fit its buffer; its name is
            // read here with room to spare, to say which key it is.
            char longName[longKeyNameBytes];
            inventoryEntry entry;
            if (plat::regEnumKeyA(asioKey, index, longName, sizeof longName) == plat::errorSuccess)
                entry.keyName = std::string(longName, strnlen(longName, sizeof longName));
            entry.description = entry.keyName;
            entry.view = view;
            entry.problem = "the key's name has " + std::to_string(entry.keyName.size()) +
                            " characters; the driver list reads names of at most " +
                            std::to_string(keyNameBytes - 1);
            entries.push_back(std::move(entry));
            continue;
        }
        if (status != plat::errorSuccess) break;
        inventoryEntry entry = readEntry(asioKey, std::string(name, strnlen(name, sizeof name)), view);
        if (entry.problem.empty()) {
            entry.index = next++;
            judgeModule(entry);
        }
        entries.push_back(std::move(entry));
    }
    plat::regCloseKey(asioKey);
    return entries;
}

std::string creationDiagnosis(int32_t listIndex) {
    for (const inventoryEntry& entry : takeInventory(plat::ownRegistryView())) {
        if (entry.index != listIndex) continue;
        std::string module = entry.module;
        if (!entry.modulePath.empty() && entry.modulePath != entry.module)
            module += ", found as " + entry.modulePath;
        if (entry.moduleBits != 0) module += ", " + std::to_string(entry.moduleBits) + "-bit";
        return entry.problem.empty()
                   ? "its module looks ready (" + module + "), so the creation itself failed"
                   : entry.problem + " (module " + module + ")";
    }
    return {};
}

void printDriverInventory(telAsioDriverList& list, int32_t requestedIndex, runJson& json) {
    const plat::RegView own = plat::ownRegistryView();
    const plat::RegView other = own == plat::RegView::bits64 ? plat::RegView::bits32 : plat::RegView::bits64;
    const std::vector<inventoryEntry> entries = takeInventory(own);

    const int32_t count = list.numDrv();
    if (count < 1) {
        printMessage(u"No ASIO drivers found.");
    } else {
        const int32_t selected = requestedIndex <= count - 1 ? requestedIndex : count - 1;
        printMessage(u"Installed ASIO Drivers: " + decimalText(count) + u"; selected index=" + decimalText(selected));
    }
    nlohmann::json drivers = nlohmann::json::array();
    for (const inventoryEntry& entry : entries)
        if (entry.index) {
            printMessage(entryLine(entry, true));
            drivers.push_back(entryJson(entry));
        }
    bool heading = false;
    for (const inventoryEntry& entry : entries)
        if (!entry.index) {
            if (!heading) printMessage(u"Skipped by the driver list:");
            heading = true;
            printMessage(entryLine(entry, true));
            drivers.push_back(entryJson(entry));
        }

    // Keys of the other view that this view does not have: drivers only the other build sees.
    std::set<std::string> here;
    for (const inventoryEntry& entry : entries) here.insert(utf8Text(upperCaseText(plat::fromNarrow(entry.keyName))));
    heading = false;
    const std::string otherBits = viewName(other);
    for (const inventoryEntry& entry : takeInventory(other)) {
        if (here.count(utf8Text(upperCaseText(plat::fromNarrow(entry.keyName)))) > 0) continue;
        if (!heading)
            printMessage(u"Registered only for " + plat::fromNarrow(otherBits) + u" programs (the " +
                         plat::fromNarrow(otherBits) + u" echoprobe can open them):");
        heading = true;
        printMessage(entryLine(entry, false));
        nlohmann::json other = entryJson(entry);
        other["index"] = nullptr; // a position in the other build's list, not in this one
        drivers.push_back(other);
    }
    printMessage(u"");
    json.document().setSection("drivers", drivers);
}
