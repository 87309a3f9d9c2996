// The module's COM entry points and its class factory: any class registered with this
// module as its server is one hostile device, configured by its own class key.
#include <atomic>
#include <new>

#include "hostileDriver.h"
#include "moduleLife.h"

namespace hostile {

namespace {

std::atomic<int> liveObjects{0}, serverLocks{0};

class Factory final : public plat::ComClassFactory {
  public:
    explicit Factory(const plat::Guid& clsid) : clsid_(clsid) { objectMade(); }
    Factory(const Factory&) = delete;
    Factory& operator=(const Factory&) = delete;

    int32_t TEL_STDCALL QueryInterface(const plat::Guid& iid, void** object) override {
        if (!object) return plat::hrPointer;
        *object = nullptr;
        if (!(iid == plat::iidUnknown) && !(iid == plat::iidClassFactory)) return plat::hrNoInterface;
        *object = static_cast<plat::ComClassFactory*>(this);
        AddRef();
        return plat::hrOk;
    }
    uint32_t TEL_STDCALL AddRef() override { return references_.fetch_add(1) + 1; }
    uint32_t TEL_STDCALL Release() override {
        const uint32_t remaining = references_.fetch_sub(1) - 1;
        if (remaining == 0) delete this;
        return remaining;
    }
    int32_t TEL_STDCALL CreateInstance(plat::ComUnknown* outer, const plat::Guid& iid,
                                       void** object) override {
        if (!object) return plat::hrPointer;
        *object = nullptr;
        if (outer) return plat::hrNoAggregation;
        auto* driver = new (std::nothrow) HostileDriver(clsid_, loadTricks(clsid_));
        if (!driver) return plat::hrOutOfMemory;
        const int32_t status = driver->QueryInterface(iid, object);
        driver->Release();
        return status;
    }
    int32_t TEL_STDCALL LockServer(int32_t lock) override {
        serverLock(lock != 0);
        return plat::hrOk;
    }

  private:
    ~Factory() { objectGone(); }
    const plat::Guid clsid_;
    std::atomic<uint32_t> references_{1};
};

} // namespace

void objectMade() {
    liveObjects.fetch_add(1);
}
void objectGone() {
    liveObjects.fetch_sub(1);
}
void serverLock(bool lock) {
    serverLocks.fetch_add(lock ? 1 : -1);
}
bool moduleIdle() {
    return liveObjects.load() == 0 && serverLocks.load() == 0;
}

} // namespace hostile

// On Windows the module definition file exports the entry points by their plain names.
#ifdef _WIN32
#define HOSTILE_ENTRY extern "C"
#else
#define HOSTILE_ENTRY TEL_EXPORT
#endif

HOSTILE_ENTRY int32_t TEL_STDCALL DllGetClassObject(const plat::Guid& clsid, const plat::Guid& iid,
                                                    void** object) {
    if (!object) return plat::hrPointer;
    *object = nullptr;
    auto* factory = new (std::nothrow) hostile::Factory(clsid);
    if (!factory) return plat::hrOutOfMemory;
    const int32_t status = factory->QueryInterface(iid, object);
    factory->Release();
    return status;
}

HOSTILE_ENTRY int32_t TEL_STDCALL DllCanUnloadNow() {
    return hostile::moduleIdle() ? plat::hrOk : plat::hrFalse;
}
