// A channel map in the JSON document's `latency` (/latency=all).
//
// `pairs` holds every pair an input hears (output, input, the round trip to a tenth and
// to a fraction of a sample with its interval, gain, polarity, the loudest other output
// in the input with its floor, glitches, bursts); `map` holds per input what it was
// expected to hear, what it hears and every output's level and floor in it, and the
// map's slip, swaps and spread of round trips; `findings` the map's findings as the
// console says them. The loops' round trips as a whole (`measuredSamples`, `min`, `max`:
// the median, shortest and longest of every input's loudest pair) stand beside the
// report they are held against, as for a single pair.
#pragma once

#include <nlohmann/json.hpp>

#include "measure/channelMap/mapFacts.h"

namespace measure {

nlohmann::json channelMapJson(const ChannelMapFacts& map);

} // namespace measure
