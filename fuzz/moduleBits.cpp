// Fuzz target: what machine a module file was built for, from its PE or ELF header.
//
// Input: the file's bytes. Checked: the reader never asks for a byte outside the file,
// and what it recognises is a 32- or 64-bit image of a known format.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "measure/moduleBits.h"

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "moduleBits: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const measure::ReadAt read = [data, size](uint64_t offset, void* buffer, size_t count) {
        require(offset <= size && count <= size - offset, "a read outside the file");
        std::memcpy(buffer, data + offset, count);
        return true;
    };
    const measure::ModuleBits bits = measure::moduleBits(read, size);
    require(bits.bits == 0 || bits.bits == 32 || bits.bits == 64, "bits other than 0, 32 and 64");
    require((bits.bits == 0) == bits.format.empty(), "a format without bits, or bits without a format");
    require(bits.format.empty() || bits.format == "PE" || bits.format == "ELF", "an unknown format");
    return 0;
}
