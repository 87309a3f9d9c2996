#include "measure/bufferSizes.h"

#include <algorithm>
#include <bit>

namespace measure {

namespace {

enum class Pattern { none, every, powersOfTwo, steps };

// The legal sizes as a progression: every size from first to last, every power of two
// from first to last, or first, first + step, ... last. All in 64 bits, so no step or
// bound of a 32-bit rule can overflow.
struct LegalSet {
    Pattern pattern = Pattern::none;
    int64_t first = 0;
    int64_t last = 0;
    int64_t step = 1;
};

LegalSet legalSetOf(const BufferSizeRule& rule) {
    const int64_t low = std::max<int64_t>(rule.min, 1);
    const int64_t high = rule.max;
    if (low > high) return {};

    if (rule.granularity == -1) {
        const auto first = static_cast<int64_t>(std::bit_ceil(static_cast<uint64_t>(low)));
        if (first > high) return {};
        return {Pattern::powersOfTwo, first,
                static_cast<int64_t>(std::bit_floor(static_cast<uint64_t>(high))), 2};
    }
    if (rule.granularity > 1) {
        const int64_t step = rule.granularity;
        // The first min + k × step that is at least 1.
        const int64_t first = rule.min + (low - rule.min + step - 1) / step * step;
        if (first > high) return {};
        return {Pattern::steps, first, first + (high - first) / step * step, step};
    }
    return {Pattern::every, low, high, 1};
}

uint64_t countOf(const LegalSet& set) {
    switch (set.pattern) {
    case Pattern::none:
        return 0;
    case Pattern::powersOfTwo:
        return static_cast<uint64_t>(std::countr_zero(static_cast<uint64_t>(set.last)) -
                                     std::countr_zero(static_cast<uint64_t>(set.first))) +
               1;
    case Pattern::every:
    case Pattern::steps:
        break;
    }
    return static_cast<uint64_t>((set.last - set.first) / set.step) + 1;
}

// Of two neighbouring legal sizes around `wanted`, the closer one; the smaller on a tie.
int64_t closer(int64_t below, int64_t above, int64_t wanted) {
    return wanted - below <= above - wanted ? below : above;
}

std::string noneReason(const BufferSizeRule& rule) {
    if (rule.min > rule.max)
        return "none (minimum " + std::to_string(rule.min) + " above maximum " + std::to_string(rule.max) +
               ")";
    if (rule.max < 1) return "none (maximum " + std::to_string(rule.max) + " below 1)";
    const std::string range =
        std::to_string(std::max<int32_t>(rule.min, 1)) + " to " + std::to_string(rule.max);
    if (rule.granularity == -1) return "none (no power of two from " + range + ")";
    return "none (no step of " + std::to_string(rule.granularity) + " from " + std::to_string(rule.min) +
           " lands in " + range + ")";
}

} // namespace

bool isLegalBufferSize(const BufferSizeRule& rule, int64_t size) {
    if (size < 1 || size < rule.min || size > rule.max) return false;
    if (rule.granularity == -1) return std::has_single_bit(static_cast<uint64_t>(size));
    if (rule.granularity > 1) return (size - rule.min) % rule.granularity == 0;
    return true;
}

std::optional<int32_t> nearestLegalBufferSize(const BufferSizeRule& rule, int64_t wanted) {
    const LegalSet set = legalSetOf(rule);
    if (set.pattern == Pattern::none) return std::nullopt;
    // Every bound of the set fits in 32 bits: it lies in 1..rule.max.
    if (wanted <= set.first) return static_cast<int32_t>(set.first);
    if (wanted >= set.last) return static_cast<int32_t>(set.last);
    if (set.pattern == Pattern::powersOfTwo) {
        const auto below = static_cast<int64_t>(std::bit_floor(static_cast<uint64_t>(wanted)));
        return static_cast<int32_t>(below == wanted ? below : closer(below, below * 2, wanted));
    }
    const int64_t below = set.first + (wanted - set.first) / set.step * set.step;
    return static_cast<int32_t>(below == wanted ? below : closer(below, below + set.step, wanted));
}

std::vector<int32_t> legalBufferSizes(const BufferSizeRule& rule, size_t limit) {
    const LegalSet set = legalSetOf(rule);
    std::vector<int32_t> sizes;
    if (set.pattern == Pattern::none || limit == 0) return sizes;
    sizes.reserve(static_cast<size_t>(std::min<uint64_t>(countOf(set), limit)));
    const bool doubling = set.pattern == Pattern::powersOfTwo;
    for (int64_t size = set.first; size <= set.last && sizes.size() < limit;
         size = doubling ? size * 2 : size + set.step)
        sizes.push_back(static_cast<int32_t>(size));
    return sizes;
}

uint64_t legalBufferSizeCount(const BufferSizeRule& rule) {
    return countOf(legalSetOf(rule));
}

std::string legalBufferSizesText(const BufferSizeRule& rule) {
    const LegalSet set = legalSetOf(rule);
    if (set.pattern == Pattern::none) return noneReason(rule);
    if (set.first == set.last) return std::to_string(set.first) + " only";

    const std::string low = std::to_string(std::max<int32_t>(rule.min, 1));
    const std::string high = std::to_string(rule.max);
    switch (set.pattern) {
    case Pattern::powersOfTwo: {
        std::string text = "powers of two from " + low + " to " + high + " (";
        for (int64_t size = set.first; size <= set.last; size *= 2)
            text += std::to_string(size) + (size == set.last ? ")" : ", ");
        return text;
    }
    case Pattern::steps:
        // The bounds as reported, so a person sees where the steps start and how far they may go.
        return std::to_string(set.first) + " to " + high + " in steps of " + std::to_string(set.step);
    case Pattern::every:
    case Pattern::none:
        break;
    }
    return low + " to " + high;
}

} // namespace measure
