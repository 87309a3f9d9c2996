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

constexpr char classObjectEntry[] = "DllGetClassObject";
// Most names a table is searched through; more is no module a host would load.
constexpr uint64_t maxNames = 1u << 20;

// Whether the zero-terminated name at `offset` is the class-object entry point.
bool nameIsClassObject(const ReadAt& read, uint64_t fileSize, uint64_t offset) {
    char name[sizeof classObjectEntry];
    return readInside(read, fileSize, offset, name, sizeof name) &&
           std::memcmp(name, classObjectEntry, sizeof name) == 0;
}

uint64_t readLittle64(const uint8_t* bytes) {
    return static_cast<uint64_t>(readLittle32(bytes)) | static_cast<uint64_t>(readLittle32(bytes + 4)) << 32;
}

// The file offset of a PE relative virtual address, through the section table.
bool peFileOffset(const ReadAt& read, uint64_t fileSize, uint64_t sections, uint16_t count, uint32_t rva,
                  uint64_t& offset) {
    for (uint16_t i = 0; i < count; ++i) {
        uint8_t section[40];
        if (!readInside(read, fileSize, sections + 40u * i, section, sizeof section)) return false;
        const uint32_t virtualSize = readLittle32(section + 8), address = readLittle32(section + 12);
        const uint32_t rawSize = readLittle32(section + 16), raw = readLittle32(section + 20);
        const uint32_t span = virtualSize > rawSize ? virtualSize : rawSize;
        if (rva >= address && rva - address < span) {
            offset = uint64_t(raw) + (rva - address);
            return true;
        }
    }
    return false;
}

// The export directory (data directory 0) and its table of name addresses.
bool peExportsClassObject(const ReadAt& read, uint64_t fileSize, uint64_t optionalHeader, int bits,
                          uint16_t optionalHeaderSize, uint64_t sections, uint16_t sectionCount) {
    const uint64_t directories = optionalHeader + (bits == 64 ? 112 : 96);
    if (directories + 8 > optionalHeader + optionalHeaderSize) return false;
    uint8_t directory[8];
    if (!readInside(read, fileSize, directories, directory, sizeof directory)) return false;
    uint64_t exports = 0;
    if (readLittle32(directory) == 0 ||
        !peFileOffset(read, fileSize, sections, sectionCount, readLittle32(directory), exports))
        return false;
    uint8_t table[40];
    if (!readInside(read, fileSize, exports, table, sizeof table)) return false;
    const uint32_t names = readLittle32(table + 24);
    uint64_t nameAddresses = 0;
    if (names > maxNames || !peFileOffset(read, fileSize, sections, sectionCount, readLittle32(table + 32), nameAddresses))
        return false;
    for (uint32_t i = 0; i < names; ++i) {
        uint8_t rva[4];
        uint64_t name = 0;
        if (!readInside(read, fileSize, nameAddresses + 4u * i, rva, sizeof rva)) return false;
        if (peFileOffset(read, fileSize, sections, sectionCount, readLittle32(rva), name) &&
            nameIsClassObject(read, fileSize, name))
            return true;
    }
    return false;
}

// Wine's marker in the space after the 64-byte DOS header of its built-in DLLs.
bool hasWineMarker(const ReadAt& read, uint64_t fileSize) {
    for (const char* marker : {"Wine builtin DLL", "Wine placeholder DLL"}) {
        char text[24] = {};
        const size_t length = std::strlen(marker);
        if (readInside(read, fileSize, 0x40, text, length) && std::memcmp(text, marker, length) == 0)
            return true;
    }
    return false;
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
    ModuleBits module{bits, "PE", peMachineName(machine)};
    const uint16_t sectionCount = read16(bytes + 6, false);
    const uint64_t optionalHeader = header + 24;
    module.exportsClassObject = peExportsClassObject(read, fileSize, optionalHeader, bits, optionalHeaderSize,
                                                     optionalHeader + optionalHeaderSize, sectionCount);
    module.wineBuiltin = hasWineMarker(read, fileSize);
    return module;
}

// The ELF file's dynamic symbols (SHT_DYNSYM sections and the string tables they link):
// a defined global or weak symbol of that name.
bool elfExportsClassObject(const ReadAt& read, uint64_t fileSize, bool wide, bool bigEndian) {
    uint8_t header[64];
    if (!readInside(read, fileSize, 0, header, wide ? 64 : 52)) return false;
    auto get16 = [bigEndian](const uint8_t* at) { return read16(at, bigEndian); };
    auto get32 = [bigEndian](const uint8_t* at) {
        return bigEndian ? uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3]
                         : readLittle32(at);
    };
    auto get64 = [&](const uint8_t* at) {
        return bigEndian ? uint64_t(get32(at)) << 32 | get32(at + 4) : readLittle64(at);
    };
    const uint64_t sections = wide ? get64(header + 40) : get32(header + 32);
    const uint16_t entrySize = get16(header + (wide ? 58 : 46));
    const uint16_t count = get16(header + (wide ? 60 : 48));
    if (entrySize < (wide ? 64 : 40)) return false;
    struct Section {
        uint32_t type, link;
        uint64_t offset, size, entry;
    };
    auto section = [&](uint32_t index, Section& out) {
        uint8_t bytes[64];
        if (index >= count || !readInside(read, fileSize, sections + uint64_t(entrySize) * index, bytes, wide ? 64 : 40))
            return false;
        out.type = get32(bytes + 4);
        out.offset = wide ? get64(bytes + 24) : get32(bytes + 16);
        out.size = wide ? get64(bytes + 32) : get32(bytes + 20);
        out.link = get32(bytes + (wide ? 40 : 24));
        out.entry = wide ? get64(bytes + 56) : get32(bytes + 36);
        return true;
    };
    const uint64_t symbolSize = wide ? 24 : 16;
    for (uint32_t i = 0; i < count; ++i) {
        Section symbols{}, strings{};
        if (!section(i, symbols) || symbols.type != 11 /* SHT_DYNSYM */) continue;
        if (!section(symbols.link, strings) || symbols.size / symbolSize > maxNames) continue;
        for (uint64_t k = 0; k < symbols.size / symbolSize; ++k) {
            uint8_t symbol[24];
            if (!readInside(read, fileSize, symbols.offset + k * symbolSize, symbol, symbolSize)) break;
            const uint32_t name = get32(symbol);
            const uint8_t info = symbol[wide ? 4 : 12];
            const uint16_t sectionIndex = get16(symbol + (wide ? 6 : 14));
            const uint8_t binding = info >> 4; // 1 global, 2 weak
            if (sectionIndex == 0 || (binding != 1 && binding != 2) || name >= strings.size) continue;
            if (nameIsClassObject(read, fileSize, strings.offset + name)) return true;
        }
    }
    return false;
}

// "\x7F" "ELF", class (1 = 32-bit, 2 = 64-bit), byte order (1 little, 2 big), then e_machine
// at offset 18 in that order.
ModuleBits elfFile(const ReadAt& read, uint64_t fileSize) {
    uint8_t bytes[20];
    if (!readInside(read, fileSize, 0, bytes, sizeof bytes)) return {};
    const int bits = bytes[4] == 1 ? 32 : bytes[4] == 2 ? 64 : 0;
    if (bits == 0 || (bytes[5] != 1 && bytes[5] != 2)) return {};
    ModuleBits module{bits, "ELF", elfMachineName(read16(bytes + 18, bytes[5] == 2))};
    module.exportsClassObject = elfExportsClassObject(read, fileSize, bits == 64, bytes[5] == 2);
    return module;
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
