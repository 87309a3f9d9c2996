// Judging buffer creation: the sizes a driver takes (buffer-sizes), subsets of its
// channels (channel-subsets), a second createBuffers (create-twice) and requests it must
// refuse (bad-create).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "conform/judge/stream.h"
#include "measure/bufferSizes.h"

namespace conform {

// The sizes to run at: min, preferred and max, and up to eight legal sizes spread between
// them, ascending. With granularity 0 and min ≠ max, which hosts read differently, only
// the preferred size.
std::vector<int32_t> sizesToTry(const measure::BufferSizeRule& rule);

// A size the rule refuses, for the driver to refuse too: a size between min and max off
// the rule's steps where there is one, else one above max (or below min).
std::optional<int32_t> illegalSize(const measure::BufferSizeRule& rule);

struct BufferSizesObservation {
    ASIOError ruleStatus = ASE_OK;
    measure::BufferSizeRule rule{};
    std::vector<RunTrace> legal;        // one run per size to try
    std::optional<RunTrace> illegal;    // the illegal size, run when it was accepted
    std::optional<RunTrace> afterwards; // a legal size after the illegal one
};

// Every legal size is created, runs, and its positions step by exactly that size; the
// illegal one is refused (or really run at); a legal one still works afterwards.
Outcome judgeBufferSizes(const BufferSizesObservation& seen);

struct SubsetRun {
    std::string what; // "one input only", ...
    bool possible = true;
    RunTrace run;
};

// Each subset that the driver's channels allow runs with advancing positions.
Outcome judgeChannelSubsets(const std::vector<SubsetRun>& runs);

struct CreateTwiceObservation {
    ASIOError first = ASE_OK;
    ASIOError second = ASE_InvalidMode;
    bool secondNullBuffer = false;
    std::optional<RunTrace> secondRun; // when the second was accepted
    ASIOError dispose = ASE_OK;
    RunTrace again; // dispose, then createBuffers and a run
};

// A second createBuffers without disposeBuffers is refused, or handled (the new buffers
// run); disposeBuffers and a new createBuffers then work.
Outcome judgeCreateTwice(const CreateTwiceObservation& seen);

struct BadRequest {
    std::string what;           // "0 channels"
    ASIOError status = ASE_OK;  // createBuffers' answer
    uint32_t switchesAfter = 0; // buffer switches that came through its callbacks
};

struct BadCreateObservation {
    std::vector<BadRequest> requests;
    ASIOError goodAfter = ASE_OK; // a proper createBuffers after all of them
};

// Each bad request is refused and leaves nothing running: no switch comes, and a proper
// createBuffers afterwards works.
Outcome judgeBadCreate(const BadCreateObservation& seen);

} // namespace conform
