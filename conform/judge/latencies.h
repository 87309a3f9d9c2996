// Judging the reported latencies against the buffer size (latency-report).
#pragma once

#include <cstdint>
#include <vector>

#include "asio/asioTypes.h"
#include "conform/outcome.h"

namespace conform {

// What the driver reported after createBuffers at one size.
struct LatenciesAtSize {
    int32_t size = 0;
    ASIOError createStatus = ASE_OK;
    ASIOError latenciesStatus = ASE_OK; // getLatencies, when the buffers were made
    int32_t input = 0, output = 0;
};

// At every size made, each latency is at least that size (a sample passes through at
// least one buffer each way), and from one size to the next larger it grows by at least
// what the size grew, give or take a sample: a latency holds its buffer. One that stays
// as it was across sizes is stale, a report hosts cannot see through: they misalign every
// recording at every size but one. Sizes the driver could not make are buffer-sizes' to
// judge; sizes ascending.
Outcome judgeLatencyReport(const std::vector<LatenciesAtSize>& seen);

} // namespace conform
