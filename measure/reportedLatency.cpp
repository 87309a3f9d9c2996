#include "measure/reportedLatency.h"

#include <cmath>
#include <cstdio>

namespace measure {

namespace {

// The room on each side, in samples.
constexpr double room = 1.0;

} // namespace

ReportCheck checkReport(const ReportedLatency& report, double roundTrip) {
    const double reported = static_cast<double>(report.samples);
    if (reported - roundTrip >= room) return ReportCheck::larger;
    if (roundTrip - reported > static_cast<double>(report.bufferSize) + room) return ReportCheck::tooShort;
    return ReportCheck::within;
}

const char* reportCheckName(ReportCheck check) {
    switch (check) {
    case ReportCheck::within:
        return "within";
    case ReportCheck::larger:
        return "larger";
    case ReportCheck::tooShort:
        return "short";
    }
    return "within";
}

std::string reportFaultText(const ReportedLatency& report, double roundTrip, const std::string& loop) {
    const double tenths = std::round(roundTrip * 10.0) / 10.0;
    char measured[32];
    if (tenths == std::round(tenths))
        std::snprintf(measured, sizeof measured, "%.0f", tenths);
    else
        std::snprintf(measured, sizeof measured, "%.1f", tenths);
    return "reports " + std::to_string(report.samples) + " samples at " + std::to_string(report.bufferSize) +
           "-sample buffers; " + loop + " measured " + measured;
}

} // namespace measure
