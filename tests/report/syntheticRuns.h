// Synthetic runs whose truth is known, for the report's browser check and benchmark:
// the switches of a run at 48000 Hz in buffers of 300 samples, with events at chosen
// switches, turned into the report's timing data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/reportData.h"

namespace samples {

inline constexpr double rate = 48000;
inline constexpr int32_t buffer = 300;
inline constexpr double periodUs = buffer / rate * 1e6; // 6250 µs

struct Special {
    int64_t switchIndex;
    report::EventKind kind;
};

// Simulates a run's switches: jittered entries on the period; at a late switch the
// callback arrives 1.6 periods late and the next one catches up, as a driver thread
// does after a stall. Each special's event is at the entry of its switch.
report::TimingData simulateTiming(double seconds, const std::vector<Special>& specials, uint64_t seed);

// The tool, the reference loopback driver, its figures and channels.
report::ReportData baseReport(const std::string& commandLine);

// An hour at 48000 Hz: 576,000 switches, a gap or late switch every 193 switches (about
// 3000 events), and a loopback burst every half second.
report::ReportData hourReport();

} // namespace samples
