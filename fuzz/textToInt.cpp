// Fuzz target: the number reader textToInt, in every base (valid or not), both widths,
// with and without ignoreTrailing.
//
// Input: one byte of base, eight bytes of a number, the rest UTF-16LE text. Checked:
//  - the 32-bit form is the low half of the 64-bit one;
//  - a text that reads strictly (the same result under two different defaults) reads
//    the same with ignoreTrailing;
//  - every number written by intToText in bases 2 to 36 reads back (negative numbers
//    only up to base 16, where the reader takes a sign).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/telUtils.h"

namespace {

void require(bool condition, const char* what, const telText& text, uint32_t base) {
    if (condition) return;
    std::fprintf(stderr, "textToInt: %s (base %u, text \"%s\")\n", what, base, plat::toNarrow(text).c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    const uint32_t base = data[0];
    int64_t number;
    std::memcpy(&number, data + 1, sizeof number);
    telText text;
    for (size_t i = 9; i + 1 < size; i += 2)
        text += static_cast<char16_t>(data[i] | data[i + 1] << 8);

    for (telBool ignoreTrailing : {telFalse, telTrue}) {
        const int64_t wide = textToInt(text, int64_t{-7}, base, ignoreTrailing);
        const int32_t narrow = textToInt(text, int32_t{-7}, base, ignoreTrailing);
        require(narrow == static_cast<int32_t>(static_cast<uint32_t>(wide)),
                "32-bit form is not the low half", text, base);
    }
    const int64_t strict = textToInt(text, int64_t{-7}, base, telFalse);
    if (strict == textToInt(text, int64_t{8}, base, telFalse))
        require(textToInt(text, int64_t{-7}, base, telTrue) == strict, "ignoreTrailing changes a valid text",
                text, base);

    const uint32_t writeBase = 2 + base % 35;
    if (number < 0 && writeBase > 16) number = -(number + 1);
    const telText written = intToText(number, writeBase);
    require(textToInt(written, int64_t{~number}, writeBase, telFalse) == number,
            "a written number reads back", written, writeBase);
    return 0;
}
