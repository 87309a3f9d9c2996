// A channel map as one measured run gathered it: the analysis's result with what the
// driver reported and the wiring it was held to.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "measure/channelMap/channelMapResult.h"
#include "measure/channelMap/wiring.h"
#include "measure/reportedLatency.h"

namespace measure {

struct ChannelMapFacts {
    ChannelMapResult result;
    std::optional<std::vector<WiredPair>> wiring; // as stated; none: output k to input k
    ReportedLatency reported;                     // after the run's createBuffers
    double sampleRate = 0.0;
};

// The loudest output other than `except` measured in an input, with its level and floor
// (output 0 when none was measured).
struct OtherOutput {
    int output = 0;
    double levelDb = 0.0, floorDb = 0.0;
};
OtherOutput loudestOtherOutput(const InputFindings& input, int except);

// The pairs an input hears: those whose bursts came back, the loudest first.
std::vector<const PairFigures*> heardPairs(const InputFindings& input);

// The pair of the output an input hears loudest; null when it hears none.
const PairFigures* loudestPair(const InputFindings& input);

// The round trip of an input's loudest pair to a tenth, when it was heard and its whole
// cycles placed.
std::optional<double> placedRoundTrip(const InputFindings& input);

} // namespace measure
