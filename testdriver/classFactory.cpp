#include "testdriver/classFactory.h"

#include <new>
#include <utility>

#include "testdriver/driverConfig.h"
#include "testdriver/moduleCounts.h"
#include "testdriver/referenceDriver.h"

namespace refdrv {

ClassFactory::ClassFactory(const plat::Guid& clsid) : clsid_(clsid) {
    objectCreated();
}

ClassFactory::~ClassFactory() {
    objectDestroyed();
}

int32_t ClassFactory::QueryInterface(const plat::Guid& iid, void** object) {
    if (!object) return plat::hrPointer;
    if (iid == plat::iidUnknown || iid == plat::iidClassFactory) {
        *object = static_cast<plat::ComClassFactory*>(this);
        AddRef();
        return plat::hrOk;
    }
    *object = nullptr;
    return plat::hrNoInterface;
}

uint32_t ClassFactory::AddRef() {
    return references_.fetch_add(1) + 1;
}

uint32_t ClassFactory::Release() {
    const uint32_t remaining = references_.fetch_sub(1) - 1;
    if (remaining == 0) delete this;
    return remaining;
}

int32_t ClassFactory::CreateInstance(plat::ComUnknown* outer, const plat::Guid& iid, void** object) {
    if (!object) return plat::hrPointer;
    *object = nullptr;
    if (outer) return plat::hrNoAggregation;
    DriverConfig config = loadDriverConfig(clsid_);
    CallFaults(config.callFaults).enter(DriverCall::create);
#ifndef _WIN32
    if (config.throwsAt(FailPoint::create)) throw std::bad_alloc();
#endif
    if (config.fails(FailPoint::create)) return config.failCode;
    ReferenceDriver* driver = new (std::nothrow) ReferenceDriver(clsid_, std::move(config));
    if (!driver) return plat::hrOutOfMemory;
    const int32_t status = driver->QueryInterface(iid, object);
    driver->Release(); // the interface's reference keeps it alive, or it goes now
    return status;
}

int32_t ClassFactory::LockServer(int32_t lock) {
    if (lock)
        serverLocked();
    else
        serverUnlocked();
    return plat::hrOk;
}

} // namespace refdrv
