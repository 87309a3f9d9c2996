#include "app/toneRing.h"

#include <algorithm>
#include <cmath>

#include "app/sweptTone.h"

namespace {

// The filler publishes its phases after each chunk.
constexpr uint64_t chunk = 1024;
// Reads of the published phases the callback tries before it gives up (a publication
// takes three stores; this is never reached in practice).
constexpr int publishedReadTries = 1024;

} // namespace

toneRing::toneRing(size_t samples) {
    size_t rounded = 1024;
    while (rounded < samples)
        rounded <<= 1;
    f_samples = std::make_unique<double[]>(rounded);
    f_mask = rounded - 1;
    publish(f_filler);
    fill();
}

double toneRing::nextSample(Phases& p) noexcept {
    const double value = nextSweptToneSample(p.sine, p.cosine);
    ++p.index;
    return value;
}

void toneRing::publish(const Phases& phases) noexcept {
    const uint64_t sequence = f_sequence.load(std::memory_order_relaxed);
    f_sequence.store(sequence + 1, std::memory_order_relaxed);
    // Release stores keep the odd sequence ahead of the values: a reader that sees a
    // value of this publication then sees the sequence moved (no fences, which the
    // thread sanitizer cannot follow).
    f_publishedSine.store(phases.sine, std::memory_order_release);
    f_publishedCosine.store(phases.cosine, std::memory_order_release);
    f_publishedIndex.store(phases.index, std::memory_order_release);
    f_sequence.store(sequence + 2, std::memory_order_release);
}

bool toneRing::readPublished(Phases& phases) const noexcept {
    for (int attempt = 0; attempt < publishedReadTries; ++attempt) {
        const uint64_t before = f_sequence.load(std::memory_order_acquire);
        if (before & 1) continue;
        phases.sine = f_publishedSine.load(std::memory_order_acquire);
        phases.cosine = f_publishedCosine.load(std::memory_order_acquire);
        phases.index = f_publishedIndex.load(std::memory_order_acquire);
        if (f_sequence.load(std::memory_order_relaxed) == before) return true;
    }
    return false;
}

void toneRing::fill() {
    uint64_t taken = f_taken.load(std::memory_order_acquire);
    const uint64_t room = f_mask + 1;
    // At most a ring's worth of samples per call, so the caller's loop goes on reading
    // keys and signals even when the callback outruns this thread (a machine so loaded
    // that the callback computes its own tone); the next call goes on from there.
    uint64_t budget = room;
    for (;;) {
        // The callback may have computed past what was filled while the ring was dry:
        // the filler follows it, the values being the same either way.
        while (f_filler.index < taken && budget > 0) {
            nextSample(f_filler);
            --budget;
        }
        if (f_filler.index < taken || budget == 0 || f_filler.index - taken >= room) return;
        const uint64_t end = std::min({f_filler.index + chunk, taken + room, f_filler.index + budget});
        budget -= end - f_filler.index;
        while (f_filler.index < end) {
            const uint64_t at = f_filler.index;
            f_samples[at & f_mask] = nextSample(f_filler);
        }
        publish(f_filler);
        publishedNotYetMarked();
        f_filled.store(f_filler.index, std::memory_order_release);
        taken = f_taken.load(std::memory_order_acquire);
    }
}

uint64_t toneRing::copyOut(double* target, uint64_t first, uint64_t from, uint64_t limit,
                           uint64_t end) const noexcept {
    const uint64_t stop = std::min(limit, end);
    for (; from < stop; ++from)
        target[from - first] = f_samples[from & f_mask];
    return from;
}

void toneRing::take(double* target, size_t count) noexcept {
    const uint64_t taken = f_taken.load(std::memory_order_relaxed);
    const uint64_t end = taken + count;
    uint64_t at = copyOut(target, taken, taken, f_filled.load(std::memory_order_acquire), end);
    if (at < end) {
        // The filler publishes a chunk's phases once its samples are in the ring, and marks
        // them filled just after: what it published is there, mark or not.
        Phases published;
        const bool read = readPublished(published);
        if (read) at = copyOut(target, taken, at, published.index, end);
        if (at < end) {
            f_dryTakes.fetch_add(1, std::memory_order_relaxed);
            // The phases at the first sample lacking: the filler's publication, or this
            // side's own from an earlier shortage when it reaches further.
            Phases phases = f_ownPhases;
            if (read && published.index <= at && published.index > phases.index) phases = published;
            if (at - phases.index <= capacity()) {
                while (phases.index < at)
                    nextSample(phases);
                for (; at < end; ++at)
                    target[at - taken] = nextSample(phases);
                f_ownPhases = phases;
            } else {
                // Never in practice: the phases could not be read, and this side's own are
                // too far behind to catch up within a callback.
                std::fill(target + (at - taken), target + count, 0.0);
            }
        }
    }
    f_taken.store(end, std::memory_order_release);
}
