#include "core/telTypes.h"

#include "platform/platform.h"

void telTypesStartup() {
    // The version is asked once at start-up; nothing depends on the answer.
    uint32_t major = 0;
    (void)plat::osMajorVersion(major);
}
