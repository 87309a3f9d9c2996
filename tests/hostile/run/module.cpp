// The module's COM entry points: any class identifier registered with this module is
// one hostile device, configured by the values under its class key.
#include <atomic>
#include <new>

#include "platform/com.h"
#include "tests/hostile/run/hostileDriver.h"

#ifdef _WIN32
#define HOSTILE_ENTRY extern "C"
#else
#define HOSTILE_ENTRY TEL_EXPORT
#endif

namespace {

std::atomic<int32_t> liveObjects{0};

class Factory final : public plat::ComClassFactory {
  public:
    explicit Factory(const plat::Guid& clsid) : f_clsid(clsid) { ++liveObjects; }

    int32_t TEL_STDCALL QueryInterface(const plat::Guid& iid, void** object) override {
        if (object == nullptr) return plat::hrPointer;
        if (iid == plat::iidUnknown || iid == plat::iidClassFactory) {
            *object = static_cast<plat::ComClassFactory*>(this);
            AddRef();
            return plat::hrOk;
        }
        *object = nullptr;
        return plat::hrNoInterface;
    }
    uint32_t TEL_STDCALL AddRef() override { return f_references.fetch_add(1) + 1; }
    uint32_t TEL_STDCALL Release() override {
        const uint32_t left = f_references.fetch_sub(1) - 1;
        if (left == 0) {
            --liveObjects;
            delete this;
        }
        return left;
    }
    int32_t TEL_STDCALL CreateInstance(plat::ComUnknown* outer, const plat::Guid& iid,
                                       void** object) override {
        if (object == nullptr) return plat::hrPointer;
        *object = nullptr;
        if (outer != nullptr) return plat::hrNoAggregation;
        auto* driver = new (std::nothrow) hostile::HostileDriver(f_clsid, hostile::loadSettings(f_clsid));
        if (driver == nullptr) return plat::hrOutOfMemory;
        const int32_t status = driver->QueryInterface(iid, object);
        driver->Release();
        return status;
    }
    int32_t TEL_STDCALL LockServer(int32_t) override { return plat::hrOk; }

  private:
    const plat::Guid f_clsid;
    std::atomic<uint32_t> f_references{1};
};

} // namespace

HOSTILE_ENTRY int32_t TEL_STDCALL DllGetClassObject(const plat::Guid& clsid, const plat::Guid& iid,
                                                    void** object) {
    if (object == nullptr) return plat::hrPointer;
    *object = nullptr;
    auto* factory = new (std::nothrow) Factory(clsid);
    if (factory == nullptr) return plat::hrOutOfMemory;
    const int32_t status = factory->QueryInterface(iid, object);
    factory->Release();
    return status;
}

// Driver objects hold no count here: the host releases them before it unloads.
HOSTILE_ENTRY int32_t TEL_STDCALL DllCanUnloadNow() {
    return liveObjects.load() == 0 ? plat::hrOk : plat::hrFalse;
}
