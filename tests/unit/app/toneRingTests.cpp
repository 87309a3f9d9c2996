// The tone made ahead: the callback gets exactly the samples it would have computed
// itself, whether the ring is full, short, or drained for longer than it holds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "app/toneRing.h"

namespace {

// The swept tone computed the processor's way, sample by sample.
std::vector<double> referenceTone(size_t samples) {
    std::vector<double> tone;
    double sine = 0.0, cosine = 0.0;
    const long double twoPi = 6.283185307179586477L;
    for (size_t s = 0; s < samples; ++s) {
        tone.push_back(static_cast<double>(std::sin(static_cast<long double>(sine))));
        cosine = static_cast<double>(cosine + 0.00004L);
        sine = static_cast<double>(sine + std::cos(static_cast<long double>(cosine)));
        if (sine > twoPi) sine = static_cast<double>(sine - twoPi);
        if (cosine > twoPi) cosine = static_cast<double>(cosine - twoPi);
    }
    return tone;
}

} // namespace

// Takes of 300 samples from a ring of 1024 that is filled only now and then: the
// first three come from the ring, the rest run it dry (the filler held up for longer
// than the ring holds), then the filler catches up and the ring serves again. Every
// sample must be bit for bit the one computed in order.
TEST(ToneRing, EverySampleIsTheOneComputedInOrderWhateverTheRingHolds) {
    constexpr size_t take = 300;
    const std::vector<double> expected = referenceTone(40 * take);
    toneRing ring(1024);
    ASSERT_EQ(ring.capacity(), 1024u);
    std::vector<double> got(take);
    for (size_t k = 0; k < 40; ++k) {
        if (k >= 20 && k % 5 == 0) ring.fill(); // held up until switch 20, then now and then
        ring.take(got.data(), take);
        ASSERT_EQ(std::memcmp(got.data(), &expected[k * take], take * sizeof(double)), 0) << "switch " << k;
    }
    EXPECT_GE(ring.dryTakes(), 17u); // switches 3 to 19 found it short
    EXPECT_LT(ring.dryTakes(), 40u);
}
