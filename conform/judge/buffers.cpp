#include "conform/judge/buffers.h"

#include <algorithm>

#include "conform/texts.h"

namespace conform {

namespace {

bool isPowerOfTwo(int64_t size) {
    return size > 0 && (size & (size - 1)) == 0;
}

// Sizes this large are not tried, however legal: a buffer of them would take minutes.
constexpr int64_t largestTried = 1 << 20;

} // namespace

std::vector<int32_t> sizesToTry(const measure::BufferSizeRule& rule) {
    std::vector<int32_t> sizes;
    auto add = [&](int64_t wanted) {
        const std::optional<int32_t> size = measure::nearestLegalBufferSize(rule, wanted);
        if (size && *size <= largestTried) sizes.push_back(*size);
    };
    add(rule.preferred);
    if (rule.granularity != 0 || rule.min == rule.max) {
        add(rule.min);
        add(rule.max);
        const int64_t span = static_cast<int64_t>(rule.max) - rule.min;
        for (int k = 1; k <= 8 && span > 0; ++k)
            add(rule.min + span * k / 9);
    }
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}

std::optional<int32_t> illegalSize(const measure::BufferSizeRule& rule) {
    if (rule.min < 1 || rule.min > rule.max) return std::nullopt;
    const int64_t inside =
        rule.granularity == -1 ? (isPowerOfTwo(rule.min + 1) ? rule.min + 2 : rule.min + 1) : rule.min + 1;
    if ((rule.granularity == -1 || rule.granularity > 1) && inside < rule.max &&
        !measure::isLegalBufferSize(rule, inside))
        return static_cast<int32_t>(inside);
    if (static_cast<int64_t>(rule.max) + 1 <= largestTried) return rule.max + 1;
    if (rule.min > 1) return rule.min - 1;
    return std::nullopt;
}

Outcome judgeBufferSizes(const BufferSizesObservation& seen) {
    if (seen.ruleStatus != ASE_OK) return failed("getBufferSize answered " + statusText(seen.ruleStatus));
    if (seen.legal.empty())
        return failed("no legal buffer size: " + measure::legalBufferSizesText(seen.rule));
    Findings findings;
    std::vector<std::string> ran;
    for (const RunTrace& run : seen.legal) {
        const std::string fault = runFault(run, 3, true);
        if (fault.empty())
            ran.push_back(std::to_string(run.size));
        else
            findings.fault("at the legal size " + std::to_string(run.size) + ": " + fault);
    }
    std::string illegalText = "no illegal size to try";
    if (seen.illegal) {
        const RunTrace& illegal = *seen.illegal;
        const std::string size = std::to_string(illegal.size);
        if (illegal.createStatus != ASE_OK) {
            illegalText = "the illegal " + size + " refused";
        } else {
            const std::string fault = runFault(illegal, 3, true);
            if (fault.empty())
                illegalText = "the illegal " + size + " accepted and really run at";
            else
                findings.fault("createBuffers accepted the illegal size " + size + ", then " + fault);
        }
        if (seen.afterwards) {
            const std::string fault = runFault(*seen.afterwards, 3, true);
            if (!fault.empty())
                findings.fault("after the illegal size, at " + std::to_string(seen.afterwards->size) + ": " +
                               fault);
        }
    }
    return findings.outcome(counted(ran.size(), "size", "sizes") + " (" + joined(ran) +
                            ") ran with positions stepping by their size; " + illegalText);
}

Outcome judgeChannelSubsets(const std::vector<SubsetRun>& runs) {
    Findings findings;
    std::vector<std::string> ran, impossible;
    for (const SubsetRun& subset : runs) {
        if (!subset.possible) {
            impossible.push_back(subset.what);
            continue;
        }
        const std::string fault = runFault(subset.run, 3, false);
        if (fault.empty())
            ran.push_back(subset.what);
        else
            findings.fault(subset.what + ": " + fault);
    }
    if (ran.empty() && !findings.anyFault()) return skipped("the driver's channels allow no subset");
    return findings.outcome(joined(ran) + ": each ran with advancing positions" +
                            (impossible.empty() ? std::string() : "; not possible: " + joined(impossible)));
}

Outcome judgeCreateTwice(const CreateTwiceObservation& seen) {
    if (seen.first != ASE_OK) return failed("createBuffers answered " + statusText(seen.first));
    Findings findings;
    std::string second = "refused (" + statusText(seen.second) + ")";
    if (seen.second == ASE_OK) {
        second = "handled: the new buffers ran";
        if (seen.secondNullBuffer)
            findings.fault("a second createBuffers answered 0 but left the buffers null");
        else if (seen.secondRun) {
            const std::string fault = runFault(*seen.secondRun, 3, false);
            if (!fault.empty()) findings.fault("a second createBuffers answered 0, then " + fault);
        }
    }
    if (seen.dispose != ASE_OK) findings.fault("disposeBuffers answered " + statusText(seen.dispose));
    const std::string fault = runFault(seen.again, 3, false);
    if (!fault.empty()) findings.fault("after disposeBuffers: " + fault);
    return findings.outcome("a second createBuffers was " + second +
                            "; disposeBuffers, then createBuffers ran again");
}

Outcome judgeBadCreate(const BadCreateObservation& seen) {
    Findings findings;
    std::vector<std::string> refused;
    for (const BadRequest& request : seen.requests) {
        if (request.status == ASE_OK)
            findings.fault("createBuffers with " + request.what + " answered 0 (success)");
        else
            refused.push_back(request.what);
        if (request.switchesAfter > 0)
            findings.fault("after createBuffers with " + request.what + ", " +
                           counted(request.switchesAfter, "switch", "switches") + " came");
    }
    if (seen.goodAfter != ASE_OK)
        findings.fault("a proper createBuffers afterwards answered " + statusText(seen.goodAfter));
    return findings.outcome("refused " + joined(refused, "; ") + "; nothing left running");
}

} // namespace conform
