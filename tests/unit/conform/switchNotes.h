// Buffer switches as the suite's callbacks note them, made up for the judges' tests.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "conform/judge/stream.h"

namespace conform::testing {

// `count` switches of `size` samples, one every `period` seconds on one thread, each
// 20 µs inside the host.
inline std::vector<SwitchNote> steadySwitches(int count, int32_t size, double period) {
    std::vector<SwitchNote> notes;
    for (int i = 0; i < count; ++i) {
        SwitchNote note;
        note.half = i % 2;
        note.position = static_cast<int64_t>(i) * size;
        note.positionKnown = true;
        note.systemTime = static_cast<int64_t>(i * period * 1e9);
        note.systemTimeKnown = true;
        note.hostBegin = 1'000'000'000 + static_cast<int64_t>(i * period * 1e9);
        note.hostEnd = note.hostBegin + 20'000;
        note.thread = 7;
        notes.push_back(note);
    }
    return notes;
}

inline RunTrace runOf(std::vector<SwitchNote> notes, int32_t size) {
    RunTrace run;
    run.size = size;
    run.notes = std::move(notes);
    run.waited = 1.0;
    return run;
}

} // namespace conform::testing
