// The module's COM entry points.
#include <new>

#include "testdriver/classFactory.h"
#include "testdriver/driverConfig.h"
#include "testdriver/moduleCounts.h"
#include "testdriver/serverRegistration.h"

// On Windows the module definition file exports the entry points under their plain
// names; dllexport would add the 32-bit stdcall-decorated names as well.
#ifdef _WIN32
#define DRIVER_ENTRY extern "C"
#else
#define DRIVER_ENTRY TEL_EXPORT
#endif

// Any class identifier gets a factory bound to it: every identifier registered with this
// module as its server is one configured device. Fail=getClassObject answers S_OK with no
// object; Throw=getClassObject throws (native builds); CrashIn and HangIn strike here too.
DRIVER_ENTRY int32_t TEL_STDCALL DllGetClassObject(const plat::Guid& clsid, const plat::Guid& iid,
                                                   void** object) {
    if (!object) return plat::hrPointer;
    *object = nullptr;
    const refdrv::DriverConfig config = refdrv::loadDriverConfig(clsid);
    refdrv::CallFaults(config.callFaults).enter(refdrv::DriverCall::getClassObject);
#ifndef _WIN32
    if (config.throwsAt(refdrv::FailPoint::getClassObject)) throw std::bad_alloc();
#endif
    if (config.fails(refdrv::FailPoint::getClassObject)) return plat::hrOk;
    refdrv::ClassFactory* factory = new (std::nothrow) refdrv::ClassFactory(clsid);
    if (!factory) return plat::hrOutOfMemory;
    const int32_t status = factory->QueryInterface(iid, object);
    factory->Release();
    return status;
}

DRIVER_ENTRY int32_t TEL_STDCALL DllCanUnloadNow() {
    return refdrv::moduleIdle() ? plat::hrOk : plat::hrFalse;
}

DRIVER_ENTRY int32_t TEL_STDCALL DllRegisterServer() {
    return refdrv::registerServer();
}

DRIVER_ENTRY int32_t TEL_STDCALL DllUnregisterServer() {
    return refdrv::unregisterServer();
}
