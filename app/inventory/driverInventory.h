// /list: every installed driver with what stands in its way, the keys under the driver
// key that the driver list skips (and why: these are the drivers a user cannot find),
// and the drivers registered only in the other registry view (for the other build of
// echoprobe). Nothing is created or loaded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/measured/runJson.h"
#include "asio/telAsioDriverList.h"
#include "platform/platform.h"

struct inventoryEntry {
    std::optional<int32_t> index; // position in the driver list; none for a skipped key
    std::string keyName;          // the subkey's name (8-bit)
    std::string description;
    std::string clsid;            // the text registered; empty when none could be read
    std::string module;           // the server module as registered; empty when none
    std::string modulePath;       // the file the loader takes for it; empty when none
    bool moduleExists = false;
    int moduleBits = 0;           // 32, 64, or 0 when not known
    bool wineBuiltin = false;     // a Wine built-in DLL's placeholder: Wine loads its code
    plat::RegView view = plat::RegView::bits64;
    std::string problem;          // empty when nothing stands in the way
};

// The keys under the driver key of one registry view, in enumeration order, each
// judged the way the driver list judges it.
std::vector<inventoryEntry> takeInventory(plat::RegView view);

// What /list says of the driver at `listIndex` of this program's driver list, for a
// creation that failed: what stands in its module's way, or that the module looks ready
// (so the driver's own creation failed), with the module. Empty when there is no such
// entry.
std::string creationDiagnosis(int32_t listIndex);

// Prints the count line (as the run does), then the inventory, and puts it into the
// JSON report.
void printDriverInventory(telAsioDriverList& list, int32_t requestedIndex, runJson& json);
