#include "app/selection.h"

#include "app/inventory/driverInventory.h"
#include "app/report.h"
#include "conform/texts.h"
#include "util/telUtils.h"

namespace {

void reportSelectionFailure(const telText& line, telText* failure) {
    printMessage(line);
    if (failure != nullptr) *failure = line;
}

} // namespace

telAsioDriver* selectAndOpenDriver(telAsioDriverList& list, int32_t requestedIndex, int32_t& selectedIndex,
                                   telText* failure, bool diagnose) {
    const int32_t count = list.numDrv();
    if (count < 1) {
        reportSelectionFailure(u"No ASIO drivers found.", failure);
        return nullptr;
    }
    selectedIndex = requestedIndex <= count - 1 ? requestedIndex : count - 1;
    printMessage(u"Installed ASIO Drivers: " + decimalText(count) + u"; selected index=" + decimalText(selectedIndex));

    telAsioDriver* driver = nullptr;
    const int32_t result = list.asioOpenDriver(list.asioGetDrvID(selectedIndex), driver);
    if (result != 0 && diagnose) {
        const std::string why = creationDiagnosis(selectedIndex);
        reportSelectionFailure(u"Could not create selected driver, error code=" +
                          plat::fromNarrow(conform::hexText(static_cast<uint32_t>(result))) +
                          (why.empty() ? telText() : u": " + plat::fromNarrow(why)),
                      failure);
        return nullptr;
    }
    if (result != 0) {
        reportSelectionFailure(u"Could not create selected driver, error code=" + hexCodeText(result), failure);
        return nullptr;
    }
    return driver;
}

void closeSelectedDriver(telAsioDriverList& list, int32_t selectedIndex) {
    // The list closes by identifier; the selected position names the entry.
    if (selectedIndex >= 0) list.asioCloseDriver(list.asioGetDrvID(selectedIndex));
}
