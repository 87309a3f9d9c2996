// The buffer sizes a driver accepts, from the four figures it reports.
//
// A size below 1 is never legal and a size must lie in min..max (none does when
// min > max). Within that range the granularity decides: −1 allows only powers of two,
// a value above 1 only min + k × granularity (k ≥ 0), and 0, 1 or any other negative
// value every size. The figures come from a driver and may be nonsense: every function
// here works in 64-bit arithmetic and never overflows, whatever the inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace measure {

struct BufferSizeRule {
    int32_t min;
    int32_t max;
    int32_t preferred; // reported alongside; the rule itself does not depend on it
    int32_t granularity;
};

bool isLegalBufferSize(const BufferSizeRule& rule, int64_t size);

// The legal size closest to `wanted` (the smaller one of two equally close); empty when no
// size is legal. Constant time, however wide the range.
std::optional<int32_t> nearestLegalBufferSize(const BufferSizeRule& rule, int64_t wanted);

// The legal sizes in ascending order, at most `limit` of them.
std::vector<int32_t> legalBufferSizes(const BufferSizeRule& rule, size_t limit);

uint64_t legalBufferSizeCount(const BufferSizeRule& rule);

// One line for a person: "64 to 2048", "64 only", "64 to 2048 in steps of 7",
// "powers of two from 64 to 2048 (64, 128, 256, 512, 1024, 2048)", or "none (...)" with
// the reason.
std::string legalBufferSizesText(const BufferSizeRule& rule);

} // namespace measure
