#include "measure/channelMap/mapFacts.h"

#include <cmath>

namespace measure {

OtherOutput loudestOtherOutput(const InputFindings& input, int except) {
    OtherOutput loudest;
    for (size_t j = 0; j < input.levelDb.size(); ++j) {
        const int output = int(j) + 1;
        if (output == except || std::isnan(input.levelDb[j])) continue;
        if (loudest.output != 0 && !(input.levelDb[j] > loudest.levelDb)) continue;
        loudest = {output, input.levelDb[j], j < input.floorDb.size() ? input.floorDb[j] : NAN};
    }
    return loudest;
}

std::vector<const PairFigures*> heardPairs(const InputFindings& input) {
    std::vector<const PairFigures*> heard;
    for (const PairFigures& pair : input.pairs)
        if (pair.burstsFound > 0) heard.push_back(&pair);
    return heard;
}

const PairFigures* loudestPair(const InputFindings& input) {
    for (const PairFigures& pair : input.pairs)
        if (pair.output == input.heardOutput && pair.burstsFound > 0) return &pair;
    return nullptr;
}

std::optional<double> placedRoundTrip(const InputFindings& input) {
    const PairFigures* loudest = loudestPair(input);
    if (loudest == nullptr || loudest->lagAmbiguous) return std::nullopt;
    return loudest->lagMedian;
}

} // namespace measure
