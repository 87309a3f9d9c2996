// The POSIX stand-in registry is read-only: registration is a file the tests write.
#include "testdriver/serverRegistration.h"

namespace refdrv {

int32_t registerServer() {
    return plat::hrOk;
}
int32_t unregisterServer() {
    return plat::hrOk;
}

} // namespace refdrv
