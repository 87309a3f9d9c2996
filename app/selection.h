// Choosing the installed driver by position, opening it, and closing it at the end.
#pragma once

#include <cstdint>

#include "asio/telAsioDriverList.h"

// Prints "No ASIO drivers found." or the count line, then opens the driver at the
// requested position (limited to the last one; a negative position opens the first).
// Returns the open driver object, owned by the list, or nullptr after printing why.
// The failure line, when one was printed, is also handed to `failure`. With `diagnose`
// (the new modes) a failed creation's line gives COM's answer as 0x and eight hex digits
// and what /list says of the driver's module; otherwise it is the original line.
telAsioDriver* selectAndOpenDriver(telAsioDriverList& list, int32_t requestedIndex, int32_t& selectedIndex,
                                   telText* failure = nullptr, bool diagnose = false);

// Closes the driver opened at `selectedIndex` (nothing for a negative index: the list
// releases that driver when it is freed).
void closeSelectedDriver(telAsioDriverList& list, int32_t selectedIndex);
