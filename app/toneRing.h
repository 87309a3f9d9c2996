// The swept test tone, computed ahead of the callback. Its samples depend only on how
// many came before, so a thread the run already has (the status loop, ten times a
// second) computes them into a ring, and the callback copies them out: a copy instead
// of two extended-precision functions per sample.
//
// The ring holds half a second or more. Should it ever run dry (the thread that fills it
// held up), the callback computes the samples it lacks itself, from the phases the
// filler last published, exactly as the filler would have: the values are the same
// either way, and the times it happened are counted. What the filler published is in
// the ring before it is marked filled, so a filler held up between the two is no
// shortage.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

class toneRing {
  public:
    // Room for at least `samples` samples. The ring is filled at once, so its memory is
    // touched before any callback writes or reads it.
    explicit toneRing(size_t samples);
    virtual ~toneRing() = default;

    // ---------------------------------------------------------------- filler side
    // Computes samples until the ring is full again, or a ring's worth of them at most:
    // a filler far behind the callback catches up over several calls, and each call
    // returns in bounded time.
    void fill();

    // ---------------------------------------------------------------- callback side
    // The next `count` tone samples into `target`. No allocation, no lock, no system call.
    void take(double* target, size_t count) noexcept;

    // Takes that found the ring short: every one, whether it computed what it lacked or
    // (never in practice: the phases could not be read) wrote silence.
    uint64_t dryTakes() const { return f_dryTakes.load(std::memory_order_relaxed); }
    size_t capacity() const { return f_mask + 1; }

  protected:
    // The filler has published the phases of a chunk and not yet marked its samples
    // filled, where it may be pre-empted; tests hold it here.
    virtual void publishedNotYetMarked() {}

  private:
    // The tone's phases after `index` samples.
    struct Phases {
        double sine = 0.0;
        double cosine = 0.0;
        uint64_t index = 0;
    };
    static double nextSample(Phases& phases) noexcept;
    // The phases the filler last published (a sequence lock: the filler never waits, the
    // callback reads again while a publication is under way).
    bool readPublished(Phases& phases) const noexcept;
    void publish(const Phases& phases) noexcept;
    // Copies the ring's samples from `from` up to `limit` (at most up to `end`) into
    // `target`, which starts at sample `first`; where the copy stopped.
    uint64_t copyOut(double* target, uint64_t first, uint64_t from, uint64_t limit,
                     uint64_t end) const noexcept;

    std::unique_ptr<double[]> f_samples;
    size_t f_mask = 0;
    Phases f_filler;                   // filler thread only
    Phases f_ownPhases;                // callback only: where its last shortage left the tone
    alignas(64) std::atomic<uint64_t> f_filled{0}; // samples the ring holds up to (exclusive)
    alignas(64) std::atomic<uint64_t> f_taken{0};  // samples the callback has taken
    std::atomic<uint64_t> f_dryTakes{0};
    alignas(64) std::atomic<uint64_t> f_sequence{0};
    std::atomic<double> f_publishedSine{0.0}, f_publishedCosine{0.0};
    std::atomic<uint64_t> f_publishedIndex{0};
};
