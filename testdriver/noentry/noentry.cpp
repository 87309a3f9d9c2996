// A module that looks like an in-process server but has no DllGetClassObject: a host
// that loads it as a class's server must fail the creation cleanly. It exports one
// function so that it is not an empty library.
#include <cstdint>

#include "platform/callconv.h"

// Takes no arguments, so the caller-cleans convention used here cleans up exactly like
// the standard one and the name stays undecorated in the 32-bit build.
TEL_EXPORT int32_t DllCanUnloadNow() {
    return 0;
}
