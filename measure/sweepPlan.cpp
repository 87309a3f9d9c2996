#include "measure/sweepPlan.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace measure {

const std::vector<double>& standardSampleRates() {
    static const std::vector<double> rates{8000,  11025,  16000,  22050,  32000,  44100,  48000, 88200,
                                           96000, 176400, 192000, 352800, 384000, 705600, 768000};
    return rates;
}

std::vector<int32_t> sweepBufferSizes(const BufferSizeRule& rule, size_t most) {
    if (most == 0) return {};
    if (legalBufferSizeCount(rule) <= most) return legalBufferSizes(rule, most);
    // Too many to run them all: the three sizes a host offers first, then the powers of
    // two between min and max, nearest the preferred size first, while there is room.
    // Where one of the three is not itself legal (a maximum between two steps), the legal
    // size nearest it stands in, so the largest and the smallest legal size are run.
    std::set<int32_t> chosen;
    for (int64_t size : {int64_t{rule.min}, int64_t{rule.preferred}, int64_t{rule.max}})
        if (const std::optional<int32_t> legal = nearestLegalBufferSize(rule, size)) chosen.insert(*legal);
    // A driver whose sizes go in steps above its minimum takes few powers of two: the
    // legal size nearest each one stands in for it.
    std::vector<int32_t> powers;
    for (int64_t power = 1; power <= rule.max; power *= 2) {
        if (power <= rule.min || power >= rule.max) continue;
        const std::optional<int32_t> size = nearestLegalBufferSize(rule, power);
        if (size && std::find(powers.begin(), powers.end(), *size) == powers.end()) powers.push_back(*size);
    }
    const int64_t centre = nearestLegalBufferSize(rule, rule.preferred).value_or(rule.min);
    std::stable_sort(powers.begin(), powers.end(), [centre](int32_t a, int32_t b) {
        // By distance in octaves from the preferred size.
        const auto octaves = [centre](int64_t size) {
            int64_t steps = 0;
            for (int64_t low = std::min(size, centre), high = std::max(size, centre); low * 2 <= high;
                 low *= 2)
                ++steps;
            return steps;
        };
        return octaves(a) < octaves(b);
    });
    for (int32_t size : powers) {
        if (chosen.size() >= most) break;
        chosen.insert(size);
    }
    std::vector<int32_t> sizes(chosen.begin(), chosen.end());
    if (sizes.size() > most) sizes.resize(most);
    return sizes;
}

std::map<double, int32_t> smallestPassingSizes(const std::vector<SweepSettingOutcome>& settings) {
    std::map<double, int32_t> smallest;
    for (const SweepSettingOutcome& setting : settings) {
        if (!setting.accepted || setting.verdict != VerdictWord::pass) continue;
        auto [at, added] = smallest.emplace(setting.rate, setting.buffer);
        if (!added) at->second = std::min(at->second, setting.buffer);
    }
    return smallest;
}

VerdictWord sweepVerdictWord(const std::vector<SweepSettingOutcome>& settings) {
    std::optional<VerdictWord> worst;
    for (const SweepSettingOutcome& setting : settings) {
        if (!setting.accepted && !setting.advertised) continue;
        const VerdictWord word = setting.accepted ? setting.verdict : VerdictWord::fail;
        if (!worst || static_cast<int>(word) > static_cast<int>(*worst)) worst = word;
    }
    return worst.value_or(VerdictWord::error);
}

} // namespace measure
