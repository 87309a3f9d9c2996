// Which output each input is expected to hear. By default output k to input k, as the
// tool's own loopback pairs; a stated wiring "OUT:IN,OUT:IN,…" (channels from 1) says
// otherwise, and then every input it does not name is expected to hear nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace measure {

struct WiredPair {
    int output = 0, input = 0; // 1-based
};

// The pairs of a stated wiring, or nothing with `error` set: a pair that is not two
// channel numbers from 1 joined by ':', or an input named twice (an input hears one
// output; one output may feed several inputs).
std::optional<std::vector<WiredPair>> parseWiring(const std::string& text, std::string& error);

// The output each input (index 0 for input 1) is expected to hear, 0 for none: output k
// for input k up to the smaller count without a stated wiring; the stated pairs else.
// A stated pair beyond the channels there are sets `error` and gives nothing.
std::optional<std::vector<int>> expectedOutputs(int inputs, int outputs,
                                                const std::optional<std::vector<WiredPair>>& stated,
                                                std::string& error);

} // namespace measure
