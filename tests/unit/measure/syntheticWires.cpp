#include "syntheticWires.h"

#include <cmath>
#include <random>

#include "testdriver/wireKernel.h"

namespace synthetic {

std::vector<std::vector<float>> wireInputs(const measure::ChannelSignals& signals, int inputs,
                                           const std::vector<Wire>& wires, int64_t length, double noiseDb,
                                           uint32_t seed) {
    std::vector<std::vector<double>> mixed(static_cast<size_t>(inputs),
                                           std::vector<double>(size_t(length), 0.0));
    // Blocks of constant delay for a drifting wire, as the driver moves it per buffer.
    constexpr int64_t block = 64;
    for (const Wire& wire : wires) {
        std::vector<float> played(static_cast<size_t>(length));
        signals.render(wire.output, 0, played.data(), played.size());
        auto output = [&played](int64_t q) { return q < 0 ? 0.0 : double(played[size_t(q)]); };
        const double gain = std::pow(10.0, wire.gainDb / 20.0) * (wire.invert ? -1.0 : 1.0);
        std::vector<double>& target = mixed[static_cast<size_t>(wire.input - 1)];
        for (int64_t from = 0; from < length; from += block) {
            const double delay = wire.delay + wire.drift * double(from) / double(length);
            const int64_t whole = static_cast<int64_t>(std::floor(delay));
            const double fraction = delay - double(whole);
            const std::vector<double> taps =
                fraction > 0.0 ? refdrv::wireFractionTaps(fraction) : std::vector<double>{};
            for (int64_t p = from; p < std::min(from + block, length); ++p) {
                double value = 0.0;
                if (taps.empty()) {
                    value = output(p - whole);
                } else {
                    for (int j = -refdrv::fractionReach; j <= refdrv::fractionReach; ++j)
                        value += taps[size_t(j + refdrv::fractionReach)] * output(p - whole - j);
                }
                target[size_t(p)] += gain * value;
            }
        }
    }
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0,
                                           std::isfinite(noiseDb) ? std::pow(10.0, noiseDb / 20.0) : 0.0);
    std::vector<std::vector<float>> channels;
    for (const std::vector<double>& input : mixed) {
        std::vector<float> samples;
        for (double value : input)
            samples.push_back(static_cast<float>(value + (std::isfinite(noiseDb) ? gauss(random) : 0.0)));
        channels.push_back(std::move(samples));
    }
    return channels;
}

std::vector<Wire> straightWires(const std::vector<double>& delays) {
    std::vector<Wire> wires;
    for (size_t k = 0; k < delays.size(); ++k)
        wires.push_back({int(k) + 1, int(k) + 1, delays[k]});
    return wires;
}

} // namespace synthetic
