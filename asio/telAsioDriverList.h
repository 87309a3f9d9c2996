// telAsioDriverList: the installed drivers read from the registry, one entry per usable
// driver, in enumeration order, with identifiers equal to positions. It opens drivers
// through COM and owns the driver objects it opened.
#pragma once

#include <cstdint>

#include "asio/telAsioDriver.h"
#include "core/telClasses.h"
#include "platform/com.h"

struct ASIODRVSTRUCT {
    int32_t drvID;
    plat::Guid clsid;
    char dllpath[512];
    char drvname[128];
    telAsioDriver* asiodrv; // owned
    ASIODRVSTRUCT* next;
};
using pASIODRVSTRUCT = ASIODRVSTRUCT*;

// Result of asioOpenDriver for an identifier the list does not hold.
inline constexpr int32_t telDriverNotFound = -5003;

class telAsioDriverList : public telObject {
  public:
    // Reads the registry; initialises COM on this thread when a driver was found.
    void AfterConstruction() override;
    // Destroys every open driver object, frees the entries, then ends COM.
    void BeforeDestruction() override;

    int32_t numDrv() const { return f_numdrv; }
    pASIODRVSTRUCT lpdrvlist() const { return f_lpdrvlist; }

    // drvID of the entry at position `index` (the head's for a negative index); -1 past the end.
    int32_t asioGetDrvID(int32_t index);
    // Opens the entry or hands out its already open driver object.
    int32_t asioOpenDriver(int32_t drvID, telAsioDriver*& asiodrv);
    // Destroys the entry's driver object, if any. Always 0.
    int32_t asioCloseDriver(int32_t drvID);

    // Declared for completeness; nothing in the tool calls them.
    int32_t asioGetNumDev() { return f_numdrv; }
    telAnsiText asioGetDriverName(int32_t drvID);
    telAnsiText asioGetDriverPath(int32_t drvID);
    int32_t asioGetDriverCLSID(int32_t drvID, plat::Guid& clsid);

  private:
    int32_t f_numdrv = 0;
    pASIODRVSTRUCT f_lpdrvlist = nullptr;

    pASIODRVSTRUCT findDriverEntry(int32_t drvID);
};
