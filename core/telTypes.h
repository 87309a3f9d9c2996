// Basic types shared by every module of the tool.
#pragma once

#include <cstdint>
#include <string>

// Text inside the system is UTF-16; an empty text and a missing text are the same.
using telText = std::u16string;

// 8-bit text, used only at the console and log sinks and in driver records.
using telAnsiText = std::string;

// Booleans that cross operations are 32-bit: true has all bits set, and any non-zero
// value counts as true on input.
using telBool = int32_t;
inline constexpr telBool telTrue = -1;
inline constexpr telBool telFalse = 0;
inline constexpr telBool toTelBool(bool value) { return value ? telTrue : telFalse; }

// Pointer types of the object base's growable arrays.
using pUint32Array = uint32_t*;
using pArray = uint8_t*;

// Module start-up: asks the operating system for its version without using the answer.
void telTypesStartup();
