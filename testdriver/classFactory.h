// The class factory DllGetClassObject hands out: bound to one class identifier, it
// creates reference driver objects configured for that identifier.
#pragma once

#include <atomic>

#include "platform/com.h"

namespace refdrv {

class ClassFactory final : public plat::ComClassFactory {
  public:
    // Starts with one reference, owned by the caller.
    explicit ClassFactory(const plat::Guid& clsid);
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    int32_t TEL_STDCALL QueryInterface(const plat::Guid& iid, void** object) override;
    uint32_t TEL_STDCALL AddRef() override;
    uint32_t TEL_STDCALL Release() override;
    // Reads the class's configuration and creates a driver object; no aggregation.
    int32_t TEL_STDCALL CreateInstance(plat::ComUnknown* outer, const plat::Guid& iid,
                                       void** object) override;
    int32_t TEL_STDCALL LockServer(int32_t lock) override;

  private:
    ~ClassFactory();

    const plat::Guid clsid_;
    std::atomic<uint32_t> references_{1};
};

} // namespace refdrv
