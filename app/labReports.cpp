#include "app/labReports.h"

#include <chrono>

#include "lab/junitReport.h"
#include "lab/openMetrics.h"

lab::RunMode labModeOf(const programOptions& options) {
    if (options.conform) return lab::RunMode::conformance;
    if (options.allDrivers) return lab::RunMode::everyDriver;
    if (options.sweep) return lab::RunMode::sweep;
    return lab::RunMode::measured;
}

double unixSecondsNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

labReports::labReports(const std::optional<telText>& metricsPath, const std::optional<telText>& junitPath,
                       lab::RunMode mode)
    : f_metrics(metricsPath, u"metrics"), f_junit(junitPath, u"JUnit"), f_mode(mode) {}

bool labReports::writable(telText* why) {
    return f_metrics.writable(why) && f_junit.writable(why);
}

bool labReports::write(const nlohmann::json& document, telText* why) {
    const double now = unixSecondsNow();
    telText metricsWhy, junitWhy;
    const bool metricsWritten = f_metrics.write(lab::metricsText(document, f_mode, now), &metricsWhy);
    const bool junitWritten =
        !f_junit.active() || f_junit.write(lab::junitReport(document, f_mode, now), &junitWhy);
    if (why != nullptr) *why = !metricsWritten ? metricsWhy : junitWhy;
    return metricsWritten && junitWritten;
}

void labReports::writeRefusal(const nlohmann::json& document) {
    f_junit.discard();
    if (f_metrics.writable(nullptr))
        f_metrics.write(lab::metricsText(document, f_mode, unixSecondsNow()), nullptr);
}
