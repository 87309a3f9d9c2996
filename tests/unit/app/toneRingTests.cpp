// The tone made ahead: the callback gets exactly the samples it would have computed
// itself, whether the ring is full, short, or drained for longer than it holds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
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

namespace {

// A ring whose filler can be held between publishing a chunk and marking it filled.
class heldToneRing : public toneRing {
  public:
    using toneRing::toneRing;
    std::atomic<bool> hold{false}, held{false};

  protected:
    void publishedNotYetMarked() override {
        if (!hold) return;
        held = true;
        while (hold)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

} // namespace

// The callback empties the ring; the filler then publishes the next chunk and is held
// before it marks it filled. The samples are in the ring: the callback takes them from
// there, each the one computed in order, and that is no shortage.
TEST(ToneRing, AFillerHeldBeforeItsFillMarkLeavesNoSilenceAndNoShortage) {
    constexpr size_t take = 300;
    const std::vector<double> expected = referenceTone(1024 + take);
    heldToneRing ring(1024);
    std::vector<double> got(1024);
    ring.take(got.data(), 1024); // empty: everything filled is taken
    ring.hold = true;
    std::thread filler([&] { ring.fill(); });
    while (!ring.held)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    got.assign(take, 99.0);
    ring.take(got.data(), take);
    ring.hold = false;
    filler.join();
    EXPECT_EQ(std::memcmp(got.data(), &expected[1024], take * sizeof(double)), 0);
    EXPECT_EQ(ring.dryTakes(), 0u);
}

// The callback has run twenty rings ahead of a filler that never ran (a machine so
// loaded that the callback computed its own tone). One fill does a ring's worth of work
// and returns, still behind, so the status loop that calls it goes on reading keys and
// signals; the filler catches up over the next calls, and every sample stays the one
// computed in order.
TEST(ToneRing, AFillerFarBehindDoesARingsWorthPerCallAndCatchesUp) {
    constexpr size_t ahead = 20 * 1024, take = 300;
    const std::vector<double> expected = referenceTone(ahead + 40 * take);
    toneRing ring(1024);
    std::vector<double> got(take);
    for (size_t at = 0; at < ahead; at += 1024) {
        std::vector<double> block(1024);
        ring.take(block.data(), block.size());
    }
    const uint64_t dryBefore = ring.dryTakes();
    ring.fill();
    ring.take(got.data(), take);
    EXPECT_EQ(std::memcmp(got.data(), &expected[ahead], take * sizeof(double)), 0);
    EXPECT_EQ(ring.dryTakes(), dryBefore + 1) << "one fill caught up twenty rings at once";

    size_t next = ahead + take, fills = 1;
    for (; ring.dryTakes() > dryBefore && fills < 40; ++fills) {
        const uint64_t dry = ring.dryTakes();
        ring.fill();
        ring.take(got.data(), take);
        ASSERT_EQ(std::memcmp(got.data(), &expected[next], take * sizeof(double)), 0) << "fill " << fills;
        next += take;
        if (ring.dryTakes() == dry) break; // served from the ring again
    }
    EXPECT_LT(fills, 40u) << "the filler never caught up";
    EXPECT_GT(fills, 10u) << "it caught up faster than a ring a call allows";
}
