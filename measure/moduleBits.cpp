#include "measure/moduleBits.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace measure {

namespace {

// Asks for the bytes only when they lie wholly inside the file, so a header offset taken
// from the file itself can never lead the reader outside it.
bool readInside(const ReadAt& read, uint64_t fileSize, uint64_t offset, void* buffer, size_t count) {
    if (offset > fileSize || count > fileSize - offset) return false;
    return read(offset, buffer, count);
}

uint16_t read16(const uint8_t* bytes, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>(bytes[0] << 8 | bytes[1])
                     : static_cast<uint16_t>(bytes[1] << 8 | bytes[0]);
}

uint32_t readLittle32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

std::string codeText(uint16_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(code));
    return text;
}

std::string peMachineName(uint16_t machine) {
    switch (machine) {
    case 0x014C:
        return "i386";
    case 0x8664:
        return "AMD64";
    case 0xAA64:
        return "ARM64";
    case 0x01C0:
        return "ARM";
    case 0x01C4:
        return "ARMNT";
    case 0x0200:
        return "IA64";
    default:
        return codeText(machine);
    }
}

std::string elfMachineName(uint16_t machine) {
    switch (machine) {
    case 3:
        return "x86";
    case 62:
        return "x86-64";
    case 40:
        return "ARM";
    case 183:
        return "AArch64";
    default:
        return codeText(machine);
    }
}

// After "MZ": the 32-bit offset at 0x3C leads to "PE\0\0", the 20-byte file header (machine
// first, optional header size at 16) and then the optional header, whose magic tells the width.
ModuleBits peImage(const ReadAt& read, uint64_t fileSize) {
    uint8_t offsetBytes[4];
    if (!readInside(read, fileSize, 0x3C, offsetBytes, sizeof offsetBytes)) return {};
    const uint64_t header = readLittle32(offsetBytes);

    uint8_t bytes[26]; // signature, file header, optional header magic
    if (!readInside(read, fileSize, header, bytes, sizeof bytes)) return {};
    if (std::memcmp(bytes, "PE\0\0", 4) != 0) return {};
    const uint16_t machine = read16(bytes + 4, false);
    const uint16_t optionalHeaderSize = read16(bytes + 20, false);
    const uint16_t magic = read16(bytes + 24, false);
    if (optionalHeaderSize < 2) return {}; // no optional header: an object file, not an image

    const int bits = magic == 0x10B ? 32 : magic == 0x20B ? 64 : 0;
    if (bits == 0) return {};
    return {bits, "PE", peMachineName(machine)};
}

// "\x7F" "ELF", class (1 = 32-bit, 2 = 64-bit), byte order (1 little, 2 big), then e_machine
// at offset 18 in that order.
ModuleBits elfFile(const ReadAt& read, uint64_t fileSize) {
    uint8_t bytes[20];
    if (!readInside(read, fileSize, 0, bytes, sizeof bytes)) return {};
    const int bits = bytes[4] == 1 ? 32 : bytes[4] == 2 ? 64 : 0;
    if (bits == 0 || (bytes[5] != 1 && bytes[5] != 2)) return {};
    return {bits, "ELF", elfMachineName(read16(bytes + 18, bytes[5] == 2))};
}

} // namespace

ModuleBits moduleBits(const ReadAt& read, uint64_t fileSize) {
    uint8_t magic[4];
    if (readInside(read, fileSize, 0, magic, 2) && magic[0] == 'M' && magic[1] == 'Z')
        return peImage(read, fileSize);
    if (readInside(read, fileSize, 0, magic, 4) && std::memcmp(magic,
                                                               "\x7F"
                                                               "ELF",
                                                               4) == 0)
        return elfFile(read, fileSize);
    return {};
}

ModuleBits moduleBitsOfFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0) return {};

    const ReadAt read = [&file](uint64_t offset, void* buffer, size_t count) {
        file.clear();
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
        return file.gcount() == static_cast<std::streamsize>(count);
    };
    return moduleBits(read, static_cast<uint64_t>(size));
}

} // namespace measure
