// What machine a module file (a driver's DLL or shared library) was built for: a
// Windows PE image or an ELF file, 32-bit or 64-bit, and its processor.
//
// The file is read through a callback, a few bytes at a time and never outside
// 0..fileSize: truncated files, wrong magic and header offsets that point past the end
// simply give an unrecognised result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace measure {

// Fills `buffer` with `count` bytes from `offset`; false when those bytes are not in the file.
using ReadAt = std::function<bool(uint64_t offset, void* buffer, size_t count)>;

struct ModuleBits {
    int bits = 0;        // 32, 64, or 0 when not recognised
    std::string format;  // "PE" or "ELF"; "" when not recognised
    std::string machine; // "i386", "AMD64", "ARM64", "x86", "x86-64", "AArch64", ...; a
                         // machine code without a name reads "0x" and four hex digits
    // Whether the module exports DllGetClassObject, the entry point of a driver's server:
    // from the PE export table, or from the ELF dynamic symbols. False when the format is
    // not recognised or its tables cannot be read.
    bool exportsClassObject = false;
    // A Wine built-in DLL's PE file ("Wine builtin DLL" or "Wine placeholder DLL" right
    // after the DOS header): Wine loads the module's code from its own library, so a
    // placeholder's missing exports say nothing about the module.
    bool wineBuiltin = false;
};

// Recognises a PE image ("MZ", the offset at 0x3C to "PE\0\0", the machine field, then
// the optional header's magic 0x10B or 0x20B) or an ELF file ("\x7F" "ELF", the class
// byte, e_machine in the file's byte order). Anything else, or any byte it needs
// missing, gives bits 0 and empty texts. The export tables are walked within bounds: a
// table that points outside the file, or holds an absurd number of names, exports
// nothing.
ModuleBits moduleBits(const ReadAt& read, uint64_t fileSize);

// The same for a file on disk, given its path in the program's 8-bit encoding; bits 0 when
// it cannot be opened.
ModuleBits moduleBitsOfFile(const std::string& path);

} // namespace measure
