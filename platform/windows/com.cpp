// COM through ole32. plat::Guid is laid out as GUID, so identifiers pass through as they are.
#include <windows.h>

#include <objbase.h>

#include <cstddef>
#include <cstring>

#include "platform/platform.h"

namespace plat {
namespace {

static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(offsetof(Guid, data1) == offsetof(GUID, Data1) &&
              offsetof(Guid, data2) == offsetof(GUID, Data2) &&
              offsetof(Guid, data3) == offsetof(GUID, Data3) &&
              offsetof(Guid, data4) == offsetof(GUID, Data4));

const GUID& toGuid(const Guid& guid) {
    return *reinterpret_cast<const GUID*>(&guid);
}

} // namespace

int32_t coInitialize() {
    return CoInitialize(nullptr);
}

void coUninitialize() {
    CoUninitialize();
}

int32_t clsidFromString(const std::u16string& text, Guid& clsid) {
    // CLSIDFromString takes a writable string; hand it a copy.
    std::wstring copy(text.begin(), text.end());
    CLSID parsed{};
    HRESULT result = CLSIDFromString(copy.data(), &parsed);
    if (result == S_OK) std::memcpy(&clsid, &parsed, sizeof clsid);
    return result;
}

int32_t coCreateInstance(const Guid& clsid, const Guid& iid, void** object) {
    return CoCreateInstance(toGuid(clsid), nullptr, CLSCTX_INPROC_SERVER, toGuid(iid), object);
}

} // namespace plat
