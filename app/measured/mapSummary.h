// The console's lines of a channel map (/latency=all), in the summary's style: a label
// and its figures. One line says what was mapped, one line per input says which output
// it hears with the round trip, gain, polarity, glitches and the loudest other output,
// one the reported latency against the loops, then the map's findings.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "measure/channelMap/mapFacts.h"

// (label, figures) of each line.
std::vector<std::pair<std::string, std::string>> channelMapLines(const measure::ChannelMapFacts& facts);
