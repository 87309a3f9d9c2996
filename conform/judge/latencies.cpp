#include "conform/judge/latencies.h"

#include <string>

#include "conform/texts.h"

namespace conform {

namespace {

// The room for rounding when a latency follows the size.
constexpr int64_t roundingRoom = 1;

std::string at(int32_t size) {
    return "at " + std::to_string(size) + " samples";
}

} // namespace

Outcome judgeLatencyReport(const std::vector<LatenciesAtSize>& seen) {
    // A report that does not follow the buffer leads: it is what hosts cannot see.
    Findings findings;
    std::vector<std::string> shortOfTheBuffer;
    std::vector<const LatenciesAtSize*> made;
    for (const LatenciesAtSize& size : seen) {
        if (size.createStatus != ASE_OK) continue;
        if (size.latenciesStatus != ASE_OK) {
            findings.fault("getLatencies after createBuffers " + at(size.size) + " answered " +
                           statusText(size.latenciesStatus));
            continue;
        }
        made.push_back(&size);
        const struct {
            const char* name;
            int32_t value;
        } latencies[] = {{"input", size.input}, {"output", size.output}};
        for (const auto& latency : latencies)
            if (latency.value < size.size)
                shortOfTheBuffer.push_back(at(size.size) + " the " + latency.name + " latency " +
                                           std::to_string(latency.value) + " is shorter than the buffer");
    }
    if (made.empty() && !findings.anyFault())
        return skipped("no buffer size could be made (see buffer-sizes)");
    for (size_t k = 1; k < made.size(); ++k) {
        const LatenciesAtSize& before = *made[k - 1];
        const LatenciesAtSize& after = *made[k];
        const int64_t grew = int64_t{after.size} - before.size;
        const struct {
            const char* name;
            int32_t from, to;
        } latencies[] = {{"input", before.input, after.input}, {"output", before.output, after.output}};
        for (const auto& latency : latencies) {
            const std::string span = "from " + std::to_string(before.size) + " to " +
                                     std::to_string(after.size) + " samples the " + latency.name +
                                     " latency ";
            if (latency.to == latency.from)
                findings.fault(span + "stayed " + std::to_string(latency.from) + ": a stale report");
            else if (int64_t{latency.to} - latency.from < grew - roundingRoom)
                findings.fault(span + "went from " + std::to_string(latency.from) + " to " +
                               std::to_string(latency.to) + ", less than the buffer grew");
        }
    }
    for (std::string& fault : shortOfTheBuffer)
        findings.fault(std::move(fault));
    if (made.empty()) return findings.outcome("");
    const LatenciesAtSize& first = *made.front();
    const LatenciesAtSize& last = *made.back();
    std::string detail =
        std::to_string(first.input) + " in, " + std::to_string(first.output) + " out " + at(first.size);
    if (made.size() == 1)
        return findings.outcome(detail + ", at least the buffer; one size only, so whether they follow it "
                                         "cannot be told");
    return findings.outcome(detail + " to " + std::to_string(last.input) + " in, " +
                            std::to_string(last.output) + " out " + at(last.size) + ": over " +
                            std::to_string(made.size()) +
                            " sizes each latency holds its buffer and follows it");
}

} // namespace conform
