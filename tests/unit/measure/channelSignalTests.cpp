// Every output's signal: output 1 is the single-pair signal to the bit, the rendering
// matches the exact values for every output across cycles, and the sequences keep apart
// as the README says: ±1 of 4095 at the same lag, at most -24 dB at any lag.
#include <gtest/gtest.h>

#include <cmath>

#include "measure/channelSignals.h"
#include "measure/fft.h"

using namespace measure;

namespace {

TEST(ChannelSignals, OutputOneIsTheSinglePairSignal) {
    for (double rate : {44100.0, 48000.0}) {
        const auto single = makeLoopbackSignal(rate);
        const auto all = makeChannelSignals(rate, 64);
        ASSERT_TRUE(single && all);
        const int64_t total = 2 * single->cycleLength + 700;
        std::vector<float> a(static_cast<size_t>(total)), b(static_cast<size_t>(total));
        single->render(-5, a.data(), a.size());
        all->render(1, -5, b.data(), b.size());
        EXPECT_EQ(a, b) << rate;
    }
    EXPECT_FALSE(makeChannelSignals(8000.0, 2));
    EXPECT_FALSE(makeChannelSignals(48000.0, 0));
    EXPECT_FALSE(makeChannelSignals(48000.0, maxSignalOutputs + 1));
    EXPECT_TRUE(makeChannelSignals(768000.0, maxSignalOutputs));
}

TEST(ChannelSignals, RenderMatchesTheExactValuesOfEveryOutput) {
    const auto signals = makeChannelSignals(44100.0, 300);
    ASSERT_TRUE(signals);
    const int64_t total = 2 * signals->base.cycleLength + 5000;
    for (int output : {2, 3, 64, 255, 300, 301}) {
        std::vector<float> rendered(static_cast<size_t>(total));
        for (int64_t q = -100; q < total - 100; q += 333)
            signals->render(output, q, &rendered[size_t(q + 100)],
                            size_t(std::min<int64_t>(333, total - 100 - q)));
        for (int64_t q = -100; q < total - 100; ++q)
            ASSERT_EQ(rendered[size_t(q + 100)], float(signals->signalAt(output, q)))
                << output << " at " << q;
        // The sine between the bursts is every output's alike.
        EXPECT_EQ(signals->signalAt(output, 5000), output <= 300 ? signals->signalAt(1, 5000) : 0.0);
    }
}

TEST(ChannelSignals, SequencesAreOrthogonalAtOneLagAndApartAtEveryOther) {
    const auto signals = makeChannelSignals(48000.0, 32);
    ASSERT_TRUE(signals);
    const size_t n = 8192; // no wrap for lags of ±4094
    RealFft fft(n);
    std::vector<std::vector<std::complex<double>>> spectra;
    for (int output = 1; output <= 32; ++output) {
        std::vector<double> padded(n, 0.0);
        const std::vector<float> sequence = signals->sequence(output);
        ASSERT_EQ(sequence.size(), 4095u);
        std::copy(sequence.begin(), sequence.end(), padded.begin());
        spectra.emplace_back();
        fft.forward(padded, spectra.back());
    }
    double worst = 0.0;
    std::vector<std::complex<double>> product(n / 2 + 1);
    std::vector<double> correlation;
    for (size_t a = 0; a < spectra.size(); ++a)
        for (size_t b = a + 1; b < spectra.size(); ++b) {
            for (size_t k = 0; k <= n / 2; ++k)
                product[k] = spectra[a][k] * std::conj(spectra[b][k]);
            fft.inverse(product, correlation);
            ASSERT_NEAR(std::abs(correlation[0]), 1.0, 1e-6) << a << ", " << b;
            for (double value : correlation)
                worst = std::max(worst, std::abs(value));
        }
    EXPECT_LT(20.0 * std::log10(worst / 4095.0), -24.0);
}

} // namespace
