#include "measure/channelMap/wiring.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace measure {

namespace {

std::optional<int> channelNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    int value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc() || end != text.data() + text.size() || value < 1)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::vector<WiredPair>> parseWiring(const std::string& text, std::string& error) {
    std::vector<WiredPair> pairs;
    std::set<int> inputs;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = std::min(text.find(',', from), text.size());
        const std::string entry = text.substr(from, comma - from);
        const size_t colon = entry.find(':');
        const auto output = colon == std::string::npos ? std::nullopt : channelNumber(entry.substr(0, colon));
        const auto input = colon == std::string::npos ? std::nullopt : channelNumber(entry.substr(colon + 1));
        if (!output || !input) {
            error = "\"" + entry + "\" is no pair OUT:IN of channel numbers from 1";
            return std::nullopt;
        }
        if (!inputs.insert(*input).second) {
            error = "input " + std::to_string(*input) + " is named twice (an input hears one output)";
            return std::nullopt;
        }
        pairs.push_back({*output, *input});
        from = comma + 1;
    }
    return pairs;
}

std::optional<std::vector<int>> expectedOutputs(int inputs, int outputs,
                                                const std::optional<std::vector<WiredPair>>& stated,
                                                std::string& error) {
    std::vector<int> expected(static_cast<size_t>(std::max(inputs, 0)), 0);
    if (!stated) {
        for (int k = 1; k <= std::min(inputs, outputs); ++k)
            expected[static_cast<size_t>(k - 1)] = k;
        return expected;
    }
    for (const WiredPair& pair : *stated) {
        if (pair.output > outputs || pair.input > inputs) {
            error = "the pair " + std::to_string(pair.output) + ":" + std::to_string(pair.input) +
                    " names a channel the driver does not have (" + std::to_string(outputs) + " outputs, " +
                    std::to_string(inputs) + " inputs)";
            return std::nullopt;
        }
        expected[static_cast<size_t>(pair.input - 1)] = pair.output;
    }
    return expected;
}

} // namespace measure
