// What a channel map found, in the verdict's words: the console lists every finding, the
// verdict takes the faults and what could not be told.
//
// fail: an input that hears no output although one is expected, hears the wrong one (a
// swap, a slip, or any other), hears another beside its own above the mix level (a
// mix), a round trip that changes between bursts, glitches or bursts that did not come
// back in any pair, a reported latency larger than a loop or short of one by more than
// a buffer. inconclusive: an input in which no burst window could be searched, a round
// trip whose whole cycles could not be told apart. Round trips that differ between
// ports are said, not judged: each port's is steady, and a host compensates each alike.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "measure/channelMap/channelMapResult.h"
#include "measure/reportedLatency.h"
#include "measure/verdict.h"

namespace measure {

struct MapFinding {
    VerdictWord word; // pass: said, not judged
    std::string text;
};

// The findings, faults first; none for a map in which every input hears its own output
// cleanly.
std::vector<MapFinding> channelMapFindings(const ChannelMapResult& map,
                                           const std::optional<ReportedLatency>& report);

// Adds every finding but those said only to the verdict.
void judgeChannelMap(const ChannelMapResult& map, const std::optional<ReportedLatency>& report,
                     Verdict& verdict);

// "input 3", "inputs 1 and 4", "inputs 1 to 8, 10 and 12": numbers ascending.
std::string inputsText(std::vector<int> inputs);

} // namespace measure
