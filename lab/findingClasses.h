// The classes of finding a measured run is judged in, one JUnit test case each, and the
// class each of the verdict's reasons belongs to.
#pragma once

#include <array>
#include <string>

namespace lab {

enum class FindingClass {
    run,        // the run itself: made as asked, ended as planned, nothing the host lost
    timing,     // switches late, missing or lost with time, slow calls, resets
    continuity, // the sample positions: gaps, repeats, steps back or short, jumps, halves
    rate,       // the rate the positions advance at
    latency,    // the loopback: round trip, bursts, glitches
    recording,  // the recording of the inputs
};

inline constexpr std::array<FindingClass, 6> allFindingClasses = {
    FindingClass::run,  FindingClass::timing,  FindingClass::continuity,
    FindingClass::rate, FindingClass::latency, FindingClass::recording};

const char* findingClassName(FindingClass finding);

// The class of one reason of a verdict; a reason of no other class is the run's.
FindingClass classOfReason(const std::string& reason);

} // namespace lab
