// Registration of the module's built-in default class, for DllRegisterServer and
// DllUnregisterServer. Only Windows has a registry to write to; elsewhere both
// succeed without doing anything.
#pragma once

#include <cstdint>

#include "platform/com.h"

namespace refdrv {

// {6F1D2C84-3B5A-4E97-A0C3-58D27E914B6A}
inline constexpr plat::Guid defaultClassId{
    0x6F1D2C84, 0x3B5A, 0x4E97, {0xA0, 0xC3, 0x58, 0xD2, 0x7E, 0x91, 0x4B, 0x6A}};

// HRESULTs: 0 on success.
int32_t registerServer();
int32_t unregisterServer();

} // namespace refdrv
