// The binary shape of the COM objects the tool talks to: class identifiers, the base
// interface every driver derives from, and the class factory an in-process server
// hands out. Declared here once for the host, the platform stand-in and the reference
// driver; the layout matches what Windows compilers produce.
#pragma once

#include <cstdint>

#include "platform/callconv.h"

namespace plat {

// A class or interface identifier, 16 bytes in the Windows layout.
struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16);

inline bool operator==(const Guid& a, const Guid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}

// {00000000-0000-0000-C000-000000000046}
inline constexpr Guid iidUnknown{0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {00000001-0000-0000-C000-000000000046}
inline constexpr Guid iidClassFactory{1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// HRESULTs used by the COM code paths.
inline constexpr int32_t hrOk = 0;
inline constexpr int32_t hrFalse = 1;
inline constexpr int32_t hrNoInterface = static_cast<int32_t>(0x80004002u);
inline constexpr int32_t hrPointer = static_cast<int32_t>(0x80004003u);
inline constexpr int32_t hrFail = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t hrUnexpected = static_cast<int32_t>(0x8000FFFFu); // E_UNEXPECTED
inline constexpr int32_t hrOutOfMemory = static_cast<int32_t>(0x8007000Eu);
inline constexpr int32_t hrInvalidArg = static_cast<int32_t>(0x80070057u);
inline constexpr int32_t hrClassNotRegistered = static_cast<int32_t>(0x80040154u); // REGDB_E_CLASSNOTREG
inline constexpr int32_t hrClassNotAvailable = static_cast<int32_t>(0x80040111u);  // CLASS_E_CLASSNOTAVAILABLE
inline constexpr int32_t hrNoAggregation = static_cast<int32_t>(0x80040110u);      // CLASS_E_NOAGGREGATION
inline constexpr int32_t hrModuleNotFound = static_cast<int32_t>(0x8007007Eu);     // ERROR_MOD_NOT_FOUND
inline constexpr int32_t hrInvalidClassString = static_cast<int32_t>(0x800401F3u); // CO_E_CLASSSTRING

// Slots 0 to 2 of every COM interface. No virtual destructor: it would add vtable slots.
struct ComUnknown {
    virtual int32_t TEL_STDCALL QueryInterface(const Guid& iid, void** object) = 0;
    virtual uint32_t TEL_STDCALL AddRef() = 0;
    virtual uint32_t TEL_STDCALL Release() = 0;
};

struct ComClassFactory : ComUnknown {
    virtual int32_t TEL_STDCALL CreateInstance(ComUnknown* outer, const Guid& iid, void** object) = 0;
    virtual int32_t TEL_STDCALL LockServer(int32_t lock) = 0;
};

// Signature of the DllGetClassObject export of an in-process server.
using DllGetClassObjectProc = int32_t(TEL_STDCALL*)(const Guid& clsid, const Guid& iid, void** object);

} // namespace plat
