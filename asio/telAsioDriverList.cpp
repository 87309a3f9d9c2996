#include "asio/telAsioDriverList.h"

#include "asio/driverCall.h"
#include "asio/leftInMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

// Buffer sizes of the registry reads; a name or value that does not fit is not read.
constexpr uint32_t keyNameBytes = 128;
constexpr uint32_t clsidBytes = 256;
constexpr uint32_t serverPathBytes = 261;
constexpr uint32_t descriptionBytes = 256;
constexpr int32_t dllPathLimit = sizeof(ASIODRVSTRUCT::dllpath) - 1;
constexpr size_t clsidTextLimit = 100; // UTF-16 units, terminator included

// A string value as read into `buffer`: up to its first zero byte, but never past the
// bytes the read reported nor past the buffer, in case the stored value has no zero.
telAnsiText valueText(const uint8_t* buffer, uint32_t reported, uint32_t capacity) {
    auto text = reinterpret_cast<const char*>(buffer);
    return telAnsiText(text, std::find(text, text + std::min(reported, capacity), '\0'));
}

// Finds the COM server of a class under HKEY_CLASSES_ROOT. Returns 0, -1 when the key
// does not open, or the status of the value read.
int32_t lookupServerPath(const telAnsiText& clsidText, telAnsiText& path) {
    path.clear();
    plat::RegKey key;
    if (plat::regOpenKeyA(plat::regClassesRoot(), "clsid\\" + clsidText + "\\InprocServer32", key) !=
        plat::errorSuccess)
        return -1;
    uint8_t buffer[serverPathBytes];
    uint32_t size = sizeof buffer;
    int32_t status = plat::regQueryValueExA(key, nullptr, buffer, size);
    if (status == plat::errorSuccess) path = valueText(buffer, size, sizeof buffer);
    plat::regCloseKey(key);
    return status;
}

// Builds the entry for subkey `keyName` of the driver key, or nullptr when the driver is
// not usable (no key, no "clsid", no registered server) or memory runs out.
pASIODRVSTRUCT readDriverEntry(plat::RegKey parent, const telAnsiText& keyName, int32_t drvID) {
    plat::RegKey key;
    if (plat::regOpenKeyExA(parent, keyName, key) != plat::errorSuccess) return nullptr;

    uint8_t clsidValue[clsidBytes];
    uint32_t size = sizeof clsidValue;
    telAnsiText path;
    telAnsiText clsidText;
    pASIODRVSTRUCT entry = nullptr;
    if (plat::regQueryValueExA(key, "clsid", clsidValue, size) == plat::errorSuccess) {
        clsidText = valueText(clsidValue, size, sizeof clsidValue);
        if (lookupServerPath(clsidText, path) == plat::errorSuccess)
            entry = static_cast<pASIODRVSTRUCT>(std::calloc(1, sizeof(ASIODRVSTRUCT)));
    }
    if (entry == nullptr) {
        plat::regCloseKey(key);
        return nullptr;
    }

    entry->drvID = drvID;
    copyTextToBuffer(path, entry->dllpath, dllPathLimit);

    // An unparsable identifier leaves clsid zero; opening the entry then fails in COM.
    telText wideClsid = plat::fromNarrow(clsidText);
    plat::Guid clsid;
    if (wideClsid.size() < clsidTextLimit && plat::clsidFromString(wideClsid, clsid) == plat::hrOk)
        std::memcpy(&entry->clsid, &clsid, sizeof clsid);

    // The reported size includes the zero, so names of 128 bytes or more fill the field
    // with no terminator.
    uint8_t description[descriptionBytes];
    size = sizeof description;
    if (plat::regQueryValueExA(key, "description", description, size) == plat::errorSuccess)
        std::memcpy(entry->drvname, description,
                    std::min<size_t>({size, sizeof description, sizeof entry->drvname}));
    else
        std::memcpy(entry->drvname, keyName.data(), std::min(keyName.size(), sizeof entry->drvname));

    plat::regCloseKey(key);
    return entry;
}

// Releases the entry's driver object (stop, buffers, callback slot) and frees it, unless
// a callback of the driver is still inside it after the wait: then it stays in memory
// rather than being freed under the driver's thread.
void destroyDriver(pASIODRVSTRUCT entry) {
    telAsioDriver* driver = entry->asiodrv;
    if (driver == nullptr) return;
    entry->asiodrv = nullptr;
    driver->release();
    if (driver->callbackStillInside())
        leaveInMemory(driver);
    else
        telObjectDeleter()(driver);
}

// Frees the entries from the last to the first, each one's driver object before it.
// A loop, not recursion: the list is as long as the registry makes it. The list is
// reversed in place first, so the walk from its new head goes last to first.
void freeDriverEntries(pASIODRVSTRUCT entry) {
    pASIODRVSTRUCT reversed = nullptr;
    while (entry != nullptr) {
        pASIODRVSTRUCT next = entry->next;
        entry->next = reversed;
        reversed = entry;
        entry = next;
    }
    while (reversed != nullptr) {
        pASIODRVSTRUCT next = reversed->next;
        destroyDriver(reversed);
        std::free(reversed);
        reversed = next;
    }
}

// An 8-bit field that may lack its terminator, as text.
telAnsiText fieldText(const char* field, size_t size) {
    return telAnsiText(field, std::find(field, field + size, '\0'));
}

} // namespace

void telAsioDriverList::AfterConstruction() {
    plat::RegKey asioKey;
    if (plat::regOpenKeyW(plat::regLocalMachine(), u"software\\asio", asioKey) == plat::errorSuccess) {
        // Identifiers are positions: each usable driver takes the next one.
        pASIODRVSTRUCT* link = &f_lpdrvlist;
        int32_t nextID = 0;
        char name[keyNameBytes];
        for (uint32_t index = 0;; ++index) {
            const int32_t status = plat::regEnumKeyA(asioKey, index, name, sizeof name);
            // A key whose name does not fit is skipped, not taken for the end of the
            // list: the drivers after it are still found.
            if (status == plat::errorMoreData) continue;
            if (status != plat::errorSuccess) break;
            pASIODRVSTRUCT entry = readDriverEntry(asioKey, fieldText(name, sizeof name), nextID);
            if (entry == nullptr) continue;
            *link = entry;
            link = &entry->next;
            ++nextID;
        }
        plat::regCloseKey(asioKey);
    }
    for (pASIODRVSTRUCT entry = f_lpdrvlist; entry != nullptr; entry = entry->next)
        ++f_numdrv;
    if (f_numdrv > 0) plat::coInitialize();
    telObject::AfterConstruction();
}

void telAsioDriverList::BeforeDestruction() {
    telObject::BeforeDestruction();
    freeDriverEntries(f_lpdrvlist);
    f_lpdrvlist = nullptr;
    // Every driver object is gone by now, so COM can end on this thread. On Windows that
    // unloads the driver modules, whose own tear-down runs then: a supervisor times it.
    if (f_numdrv > 0)
        callDriver(
            telDriverCall::unload, 0, [](telDriverCall, const char*) noexcept {},
            [] {
                plat::coUninitialize();
                return 0;
            });
    f_numdrv = 0;
}

pASIODRVSTRUCT telAsioDriverList::findDriverEntry(int32_t drvID) {
    pASIODRVSTRUCT entry = f_lpdrvlist;
    while (entry != nullptr && entry->drvID != drvID)
        entry = entry->next;
    return entry;
}

namespace {

// What a driver throws while it is created or released is not carried further: the
// creation fails with the status below, and a release is done either way.
void ignoreThrow(telDriverCall, const char*) noexcept {}

void releaseInterface(IASIO* asio) {
    callDriver(telDriverCall::release, 0u, ignoreThrow, [asio] { return asio->Release(); });
}

} // namespace

int32_t telAsioDriverList::asioGetDrvID(int32_t index) {
    pASIODRVSTRUCT entry = f_lpdrvlist;
    for (; index > 0 && entry != nullptr; --index)
        entry = entry->next;
    return entry != nullptr ? entry->drvID : -1;
}

int32_t telAsioDriverList::asioOpenDriver(int32_t drvID, telAsioDriver*& asiodrv) {
    pASIODRVSTRUCT entry = findDriverEntry(drvID);
    if (entry == nullptr) return telDriverNotFound;
    if (entry->asiodrv != nullptr) {
        asiodrv = entry->asiodrv;
        return plat::hrOk;
    }

    void* object = nullptr;
    int32_t result = callDriver(telDriverCall::create, plat::hrUnexpected, ignoreThrow,
                                [&] { return plat::coCreateInstance(entry->clsid, entry->clsid, &object); });
    if (result != plat::hrOk || object == nullptr) {
        // A success code other than S_OK still hands out a reference that must go back.
        if (object != nullptr) releaseInterface(static_cast<IASIO*>(object));
        return result != plat::hrOk ? result : plat::hrNoInterface;
    }

    auto* asio = static_cast<IASIO*>(object);
    telOwned<telAsioDriver> driver = telCreate<telAsioDriver>(asio);
    releaseInterface(asio); // the driver object holds its own reference
    if (!driver) return plat::hrOutOfMemory;
    entry->asiodrv = driver.release();
    asiodrv = entry->asiodrv;
    return plat::hrOk;
}

int32_t telAsioDriverList::asioCloseDriver(int32_t drvID) {
    if (pASIODRVSTRUCT entry = findDriverEntry(drvID)) destroyDriver(entry);
    return plat::hrOk;
}

telAnsiText telAsioDriverList::asioGetDriverName(int32_t drvID) {
    pASIODRVSTRUCT entry = findDriverEntry(drvID);
    return entry != nullptr ? fieldText(entry->drvname, sizeof entry->drvname) : telAnsiText();
}

telAnsiText telAsioDriverList::asioGetDriverPath(int32_t drvID) {
    pASIODRVSTRUCT entry = findDriverEntry(drvID);
    return entry != nullptr ? fieldText(entry->dllpath, sizeof entry->dllpath) : telAnsiText();
}

int32_t telAsioDriverList::asioGetDriverCLSID(int32_t drvID, plat::Guid& clsid) {
    pASIODRVSTRUCT entry = findDriverEntry(drvID);
    if (entry == nullptr) return telDriverNotFound;
    std::memcpy(&clsid, &entry->clsid, sizeof clsid);
    return plat::hrOk;
}
