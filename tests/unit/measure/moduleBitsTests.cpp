// Module bitness from PE and ELF headers built here, damaged and cut short in every way.
// (Real modules on disk, both PE widths and ELF, are read by the /list end-to-end runs.)
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "measure/moduleBits.h"

using measure::ModuleBits;

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void put32(Bytes& bytes, size_t at, uint32_t value) {
    put16(bytes, at, static_cast<uint16_t>(value));
    put16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

constexpr size_t peHeaderAt = 0x80;
// Bytes the reader needs: up to and including the optional header's magic.
constexpr size_t peNeeded = peHeaderAt + 26;

// A DOS stub, "PE\0\0", the file header and an empty optional header of the usual size.
Bytes peImage(uint16_t machine, uint16_t magic) {
    const uint16_t optionalSize = magic == 0x20B ? 0xF0 : 0xE0;
    Bytes bytes(peHeaderAt + 24 + optionalSize, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    put32(bytes, 0x3C, peHeaderAt);
    std::memcpy(&bytes[peHeaderAt], "PE\0\0", 4);
    put16(bytes, peHeaderAt + 4, machine);
    put16(bytes, peHeaderAt + 20, optionalSize);
    put16(bytes, peHeaderAt + 24, magic);
    return bytes;
}

constexpr size_t elfNeeded = 20; // identification and e_machine

// An ELF header: identification (class, byte order), e_type, e_machine in that order.
Bytes elfFile(uint8_t fileClass, uint8_t byteOrder, uint16_t machine) {
    Bytes bytes(fileClass == 2 ? 64 : 52, 0);
    std::memcpy(bytes.data(),
                "\x7F"
                "ELF",
                4);
    bytes[4] = fileClass;
    bytes[5] = byteOrder;
    bytes[6] = 1;
    put16(bytes, 16, 3);
    if (byteOrder == 2) {
        bytes[18] = static_cast<uint8_t>(machine >> 8);
        bytes[19] = static_cast<uint8_t>(machine);
    } else {
        put16(bytes, 18, machine);
    }
    return bytes;
}

// Reads the first `length` bytes of `bytes` as a file; any request outside it fails the test.
ModuleBits bitsOf(const Bytes& bytes, size_t length) {
    const measure::ReadAt read = [&bytes, length](uint64_t offset, void* buffer, size_t count) {
        if (offset > length || count > length - offset) {
            ADD_FAILURE() << "read of " << count << " bytes at " << offset << " outside a file of " << length;
            return false;
        }
        std::memcpy(buffer, bytes.data() + offset, count);
        return true;
    };
    return measure::moduleBits(read, length);
}

ModuleBits bitsOf(const Bytes& bytes) {
    return bitsOf(bytes, bytes.size());
}

void expectBits(const ModuleBits& found, int bits, const std::string& format, const std::string& machine) {
    EXPECT_EQ(found.bits, bits);
    EXPECT_EQ(found.format, format);
    EXPECT_EQ(found.machine, machine);
}

} // namespace

TEST(ModuleBits, RecognisesEveryWidthOnlyWhenComplete) {
    struct Case {
        Bytes file;
        size_t needed;
        int bits;
        std::string format, machine;
    };
    const std::vector<Case> cases = {
        {peImage(0x014C, 0x10B), peNeeded, 32, "PE", "i386"},
        {peImage(0x8664, 0x20B), peNeeded, 64, "PE", "AMD64"},
        {peImage(0xAA64, 0x20B), peNeeded, 64, "PE", "ARM64"},
        {peImage(0x1234, 0x10B), peNeeded, 32, "PE", "0x1234"},
        {elfFile(1, 1, 3), elfNeeded, 32, "ELF", "x86"},
        {elfFile(2, 1, 62), elfNeeded, 64, "ELF", "x86-64"},
        {elfFile(1, 2, 40), elfNeeded, 32, "ELF", "ARM"}, // big-endian
        {elfFile(2, 1, 183), elfNeeded, 64, "ELF", "AArch64"},
        {elfFile(2, 2, 0xF3), elfNeeded, 64, "ELF", "0x00F3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format + " " + c.machine);
        expectBits(bitsOf(c.file), c.bits, c.format, c.machine);
        for (size_t length = 0; length < c.file.size(); ++length) {
            const ModuleBits cut = bitsOf(c.file, length);
            if (length < c.needed)
                expectBits(cut, 0, "", "");
            else
                EXPECT_EQ(cut.bits, c.bits) << "cut to " << length;
        }
    }
}

TEST(ModuleBits, DamagedHeadersAreNotRecognised) {
    const Bytes pe = peImage(0x8664, 0x20B);
    struct Case {
        const char* what;
        Bytes file;
    };
    std::vector<Case> cases;
    auto damaged = [&](const char* what, const Bytes& from, auto change) {
        Bytes bytes = from;
        change(bytes);
        cases.push_back({what, bytes});
    };
    damaged("MZ", pe, [](Bytes& b) { b[1] = 'X'; });
    damaged("PE signature", pe, [](Bytes& b) { b[peHeaderAt + 3] = 1; });
    damaged("optional header magic", pe, [](Bytes& b) { put16(b, peHeaderAt + 24, 0x107); });
    damaged("no optional header", pe, [](Bytes& b) { put16(b, peHeaderAt + 20, 0); });
    damaged("offset near 2^32", pe, [](Bytes& b) { put32(b, 0x3C, 0xFFFFFFF0); });
    damaged("offset 2^32 - 1", pe, [](Bytes& b) { put32(b, 0x3C, 0xFFFFFFFF); });
    damaged("offset at the end", pe, [](Bytes& b) { put32(b, 0x3C, static_cast<uint32_t>(b.size())); });
    damaged("offset past the end", pe,
            [](Bytes& b) { put32(b, 0x3C, static_cast<uint32_t>(b.size() - 25)); });
    const Bytes elf = elfFile(2, 1, 62);
    damaged("ELF magic", elf, [](Bytes& b) { b[3] = 'f'; });
    damaged("ELF class 0", elf, [](Bytes& b) { b[4] = 0; });
    damaged("ELF class 3", elf, [](Bytes& b) { b[4] = 3; });
    damaged("ELF byte order 0", elf, [](Bytes& b) { b[5] = 0; });
    cases.push_back({"empty", {}});
    cases.push_back({"text", {'M', 'Z'}});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectBits(bitsOf(c.file), 0, "", "");
    }

    // A reader that reports failure for bytes inside the file is not second-guessed.
    const measure::ReadAt refusing = [](uint64_t, void*, size_t) { return false; };
    expectBits(measure::moduleBits(refusing, pe.size()), 0, "", "");
}

// A Wine built-in DLL's file carries Wine's marker after the DOS header and (as a
// placeholder) no exports: it is told apart from a DLL without the entry point, and
// only by the whole marker at its place.
TEST(ModuleBits, WineBuiltinPlaceholdersAreRecognised) {
    auto marked = [](const char* marker, size_t at) {
        Bytes bytes = peImage(0x8664, 0x20B);
        std::memcpy(&bytes[at], marker, std::strlen(marker));
        return bytes;
    };
    for (const char* marker : {"Wine placeholder DLL", "Wine builtin DLL"}) {
        SCOPED_TRACE(marker);
        const Bytes file = marked(marker, 0x40);
        const ModuleBits found = bitsOf(file);
        expectBits(found, 64, "PE", "AMD64");
        EXPECT_TRUE(found.wineBuiltin);
        EXPECT_FALSE(found.exportsClassObject);
    }
    EXPECT_FALSE(bitsOf(peImage(0x8664, 0x20B)).wineBuiltin);
    EXPECT_FALSE(bitsOf(marked("Wine placeholder DLL", 0x41)).wineBuiltin);
    EXPECT_FALSE(bitsOf(marked("Wine placeholder", 0x40)).wineBuiltin);
    EXPECT_FALSE(bitsOf(elfFile(2, 1, 62)).wineBuiltin);
}
