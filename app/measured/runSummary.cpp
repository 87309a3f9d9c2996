// The health summary printed after the driver stopped, in the report's style: a label
// of ten characters, a colon, the figures.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "app/measured/measuredRun.h"
#include "util/telUtils.h"

namespace {

// printf-style figures into one line of the summary.
void printLine(const char* label, const char* format, ...) {
    char figures[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(figures, sizeof figures, format, arguments);
    va_end(arguments);
    char line[600];
    std::snprintf(line, sizeof line, "%-10s: %s", label, figures);
    printMessage(plat::fromNarrow(line));
}

uint64_t messagesOf(const runFindings& findings, int32_t selector) {
    auto found = findings.messages.bySelector.find(selector);
    return found == findings.messages.bySelector.end() ? 0 : found->second;
}

std::string otherMessages(const runFindings& findings) {
    std::string text;
    for (const auto& [selector, count] : findings.messages.bySelector) {
        if (selector == 3 || selector == 4 || selector == 5 || selector == 6 || selector == 15) continue;
        text += ", " + measure::messageName(selector) + "=" + std::to_string(count);
    }
    return text;
}

void printLatency(const measure::LatencyFacts& facts) {
    const measure::LatencyResult& r = facts.result;
    const double msPerSample = facts.sampleRate > 0 ? 1000.0 / facts.sampleRate : 0.0;
    if (r.burstsFound == 0) {
        printLine("Latency", "no burst came back from output %d to input %d (%" PRId64 " sent): is the loop connected?",
                  facts.output, facts.input, r.burstsSent);
        return;
    }
    printLine("Latency", "round trip %" PRId64 " samples (%.3f ms) from output %d to input %d, over %" PRId64
              " of %" PRId64 " bursts: min=%" PRId64 ", max=%" PRId64 "%s",
              r.lagMedian, static_cast<double>(r.lagMedian) * msPerSample, facts.output, facts.input, r.burstsFound,
              r.burstsSent, r.lagMin, r.lagMax, r.lagConsistent ? "" : " (the round trip changed: a driver fault)");
    printLine("Reported", "input + output latency %" PRId64 " samples, unreported latency %" PRId64 " samples (%.3f ms)",
              facts.reportedSamples, r.lagMedian - facts.reportedSamples,
              static_cast<double>(r.lagMedian - facts.reportedSamples) * msPerSample);
    if (!r.integrityMeasured) {
        printLine("Loop", "gain %.2f dB, %s", r.gainDb, r.inverted ? "inverted" : "not inverted");
        return;
    }
    std::string where;
    for (size_t i = 0; i < r.glitchPositions.size() && i < 5; ++i)
        where += (i == 0 ? " at " : ", ") + std::to_string(r.glitchPositions[i]);
    if (r.glitchPositions.size() > 5) where += ", ...";
    printLine("Loop", "gain %.2f dB, %s, %" PRId64 " glitch%s%s", r.gainDb, r.inverted ? "inverted" : "not inverted",
              r.glitches, r.glitches == 1 ? "" : "es", where.c_str());
}

void printRecording(const measure::RecordingFacts& r, const telText& path) {
    printMessage(u"Recording : " + intToText(r.frames) + u" frames to " + path +
                 (r.written ? telText() : u", not completed: " + plat::fromNarrow(r.error)));
    if (r.driverGapFrames > 0)
        printLine("Recording", "%" PRIu64 " frames of silence where the driver skipped positions", r.driverGapFrames);
    if (r.lostFrames > 0)
        printLine("Recording", "%" PRIu64 " frames lost: the disk could not keep up (silence in their place)",
                  r.lostFrames);
    if (r.full) printLine("Recording", "stopped at the largest size a WAV file can hold");
}

} // namespace

void printRunSummary(const runFindings& findings) {
    const measure::SwitchSummary& s = findings.stats;
    printMessage(u""); // ends the status line
    printLine("Run", "%.3f s, stopped by %s", findings.seconds, stopCauseName(findings.cause));
    printLine("Switches", "%" PRIu64 " (%" PRIu64 " expected)", s.switches, s.expectedSwitches);
    printLine("Continuity",
              "gaps=%" PRIu64 " (%" PRId64 " samples lost), repeats=%" PRIu64 ", backwards=%" PRIu64
              ", short steps=%" PRIu64 ", half errors=%" PRIu64,
              s.gaps, s.samplesLost, s.repeats, s.backwards, s.shortSteps, s.halfErrors);
    printLine("Intervals", "min=%.1f us, mean=%.1f us, max=%.1f us, p99=%.0f us, late=%" PRIu64, s.intervalUs.min,
              s.intervalUs.mean, s.intervalUs.max, s.intervalUs.p99, s.intervalUs.late);
    printLine("Host time", "mean=%.1f us, max=%.1f us, load=%.2f%%", s.hostUs.mean, s.hostUs.max, 100.0 * s.hostLoad);
    if (s.measuredRate)
        printLine("Rate", "measured=%.2f Hz, error=%.1f ppm", *s.measuredRate, s.rateErrorPpm.value_or(0.0));
    else
        printLine("Rate", "not measured (the run was too short)");
    printLine("Messages",
              "reset requests=%" PRIu64 ", resync requests=%" PRIu64 ", latencies changed=%" PRIu64
              ", buffer size changes=%" PRIu64 ", overloads=%" PRIu64 ", rate changes=%" PRIu64 "%s",
              messagesOf(findings, 3), messagesOf(findings, 5), messagesOf(findings, 6), messagesOf(findings, 4),
              messagesOf(findings, 15), findings.messages.rateChanges, otherMessages(findings).c_str());
    const bool every = findings.messages.outputReadyWanted ? findings.messages.outputReadyCalls == s.switches
                                                           : findings.messages.outputReadyCalls == 0;
    printLine("Notice", "outputReady %s by the driver, %s (%" PRIu64 " calls)",
              findings.messages.outputReadyWanted ? "wanted" : "not wanted",
              every ? (findings.messages.outputReadyWanted ? "called after every switch" : "never called")
                    : "called irregularly",
              findings.messages.outputReadyCalls);
    if (findings.stopFailure) printLine("Stop", "the driver's stop failed, error code=%s", findings.stopFailure->c_str());
    if (findings.lostRecords > 0)
        printLine("Summary", "%" PRIu64 " switches could not be noted (the program fell behind)", findings.lostRecords);
    if (findings.latency) printLatency(*findings.latency);
    if (findings.recording) printRecording(*findings.recording, findings.recordingPath);

    std::string verdict = findings.verdict.pass ? "Verdict: pass" : "Verdict: fail";
    for (size_t i = 0; i < findings.verdict.reasons.size(); ++i)
        verdict += (i == 0 ? ": " : ", ") + findings.verdict.reasons[i];
    printMessage(plat::fromNarrow(verdict));
}
