#include "lab/findingClasses.h"

#include <initializer_list>

namespace lab {

namespace {

bool holdsAny(const std::string& text, std::initializer_list<const char*> parts) {
    for (const char* part : parts)
        if (text.find(part) != std::string::npos) return true;
    return false;
}

} // namespace

const char* findingClassName(FindingClass finding) {
    switch (finding) {
    case FindingClass::run:
        return "run";
    case FindingClass::timing:
        return "timing";
    case FindingClass::continuity:
        return "continuity";
    case FindingClass::rate:
        return "rate";
    case FindingClass::latency:
        return "latency";
    case FindingClass::recording:
        return "recording";
    }
    return "run";
}

// The reasons are the verdict's own words; the order below matters where one reason
// holds another's word (time lost "without a position gap" is timing, not a gap).
FindingClass classOfReason(const std::string& reason) {
    if (holdsAny(reason,
                 {"measurement burst", "round trip", "bursts did not come back", "glitch", "loopback"}))
        return FindingClass::latency;
    if (holdsAny(reason, {"recording"})) return FindingClass::recording;
    if (holdsAny(reason, {"without a position gap", "late switch", "no buffer switch came", " missing (",
                          "the driver's start took", "the driver's stop took",
                          "the driver's disposeBuffers took", "reset request", "the driver's stop failed"}))
        return FindingClass::timing;
    if (holdsAny(reason, {"rate off by", "rate could not be measured", "too short to judge"}))
        return FindingClass::rate;
    if (holdsAny(reason, {"gap", "repeated buffer", "backward step", "short step", "position jump",
                          "half error", "sample position"}))
        return FindingClass::continuity;
    return FindingClass::run;
}

} // namespace lab
