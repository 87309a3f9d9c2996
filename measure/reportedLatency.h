// The driver's reported latency held against a measured round trip.
//
// A host aligns what it records by the driver's input + output latency. No real path is
// shorter than what its driver reports (the report counts buffers the audio must pass),
// so a report larger than the measured round trip is false. A report may leave out what
// the driver cannot know (a converter's filters, a cable), but a host that trusts a
// report short by more than a buffer misaligns every recording by a buffer or more: the
// driver left out buffers of its own. Each side gets a sample of room for the fraction a
// whole-sample report cannot hold and the measurement's tenth.
#pragma once

#include <cstdint>
#include <string>

namespace measure {

// What the driver reported once its buffers existed.
struct ReportedLatency {
    int64_t samples = 0;    // input + output latency
    int32_t bufferSize = 0; // the buffers it was reported for
};

enum class ReportCheck {
    within,  // the round trip is the report, give or take, or longer by up to a buffer
    larger,  // the report is larger than the round trip
    tooShort // the round trip exceeds the report by more than a buffer
};

ReportCheck checkReport(const ReportedLatency& report, double roundTrip);

// "within", "larger", "short": the JSON's word.
const char* reportCheckName(ReportCheck check);

// "reports 600 samples at 64-sample buffers; the loop measured 224": `loop` names the
// loop ("the loop", "the loop of output 2 to input 2"), the round trip to a tenth where
// it is not whole.
std::string reportFaultText(const ReportedLatency& report, double roundTrip, const std::string& loop);

} // namespace measure
