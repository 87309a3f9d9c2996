// The health summary printed after the driver stopped, in the report's style: a label
// of ten characters, a colon, the figures.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "app/measured/mapSummary.h"
#include "app/measured/measuredRun.h"
#include "util/telUtils.h"

namespace {

// Where the lines go: the console, or a list (the HTML report's copy of the summary).
std::vector<std::string>* collected = nullptr;

void emit(const telText& line) {
    if (collected != nullptr)
        collected->push_back(utf8Text(line));
    else
        printMessage(line);
}

// printf-style figures into one line of the summary.
void printLine(const char* label, const char* format, ...) {
    char figures[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(figures, sizeof figures, format, arguments);
    va_end(arguments);
    char line[600];
    std::snprintf(line, sizeof line, "%-10s: %s", label, figures);
    emit(plat::fromNarrow(line));
}

// A line whose figures are text already, of any length.
void printText(const std::string& label, const std::string& figures) {
    std::string line = label;
    line.resize(std::max<size_t>(line.size(), 10), ' ');
    emit(plat::fromNarrow(line + ": " + figures));
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

// A figure to two decimals that never shows as "-0.00".
double twoDecimals(double value) {
    return std::round(value * 100.0) / 100.0 + 0.0;
}

void printLatency(const measure::LatencyFacts& facts) {
    measure::LatencyResult r = facts.result;
    r.gainDb = twoDecimals(r.gainDb);
    const double msPerSample = facts.sampleRate > 0 ? 1000.0 / facts.sampleRate : 0.0;
    if (r.burstsFound == 0) {
        if (r.burstsSent == 0)
            printLine("Latency", "no measurement burst could be searched for from output %d to input %d",
                      facts.output, facts.input);
        else
            printLine("Latency",
                      "no burst came back from output %d to input %d (%" PRId64
                      " sent): is the loop connected?",
                      facts.output, facts.input, r.burstsSent);
    } else if (r.lagAmbiguous) {
        printLine("Latency",
                  "%" PRId64 " of %" PRId64
                  " bursts came back from output %d to input %d, but how long the round trip "
                  "is cannot be told: the input before the first one was not all received",
                  r.burstsFound, r.burstsSent, facts.output, facts.input);
    } else {
        printLine("Latency",
                  "round trip %.1f samples (%.3f ms) from output %d to input %d, over %" PRId64 " of %" PRId64
                  " bursts: min=%.1f, max=%.1f%s",
                  r.lagMedian, r.lagMedian * msPerSample, facts.output, facts.input, r.burstsFound,
                  r.burstsSent, r.lagMin, r.lagMax,
                  r.lagConsistent ? "" : " (the round trip changed: a driver fault)");
        const double unreported = r.lagMedian - static_cast<double>(facts.reportedSamples);
        printLine("Reported",
                  "input + output latency %" PRId64 " samples, unreported latency %.1f samples (%.3f ms)",
                  facts.reportedSamples, unreported, unreported * msPerSample);
    }
    if (r.unknownSamples > 0 || r.rebases > 0)
        printLine("Loop",
                  "%" PRId64 " input samples the host lost were not judged, %" PRId64 " position re-base%s",
                  r.unknownSamples, r.rebases, r.rebases == 1 ? "" : "s");
    if (r.burstsFound == 0 && r.nonFiniteRuns == 0) return;
    if (!r.integrityMeasured && r.nonFiniteRuns == 0) {
        printLine("Loop", "gain %.2f dB, %s", r.gainDb, r.inverted ? "inverted" : "not inverted");
        return;
    }
    std::string where;
    for (size_t i = 0; i < r.glitchPositions.size() && i < 5; ++i)
        where += (i == 0 ? " at " : ", ") + std::to_string(r.glitchPositions[i]);
    if (r.glitchPositions.size() > 5) where += ", ...";
    const std::string notNumbers = r.nonFiniteRuns > 0 ? " (" + std::to_string(r.nonFiniteRuns) +
                                                             " of them samples that are not numbers)"
                                                       : "";
    if (r.burstsFound == 0)
        printLine("Loop", "%" PRId64 " glitch%s%s%s", r.glitches, r.glitches == 1 ? "" : "es",
                  notNumbers.c_str(), where.c_str());
    else
        printLine("Loop", "gain %.2f dB, %s, %" PRId64 " glitch%s%s%s", r.gainDb,
                  r.inverted ? "inverted" : "not inverted", r.glitches, r.glitches == 1 ? "" : "es",
                  notNumbers.c_str(), where.c_str());
}

void printRecording(const measure::RecordingFacts& r, const telText& path) {
    emit(u"Recording : " + intToText(r.frames) + u" frames to " + path +
         (r.written ? telText() : u", not completed: " + plat::fromNarrow(r.error)));
    if (r.channelsLeftOut > 0)
        printLine("Recording", "%d inputs beyond the first 256 are not in it", r.channelsLeftOut);
    if (r.driverGapFrames > 0)
        printLine("Recording", "%" PRIu64 " frames of silence where the driver skipped positions",
                  r.driverGapFrames);
    if (r.lostFrames > 0)
        printLine("Recording", "%" PRIu64 " frames lost: the disk could not keep up (silence in their place)",
                  r.lostFrames);
    if (r.rebases > 0)
        printLine("Recording",
                  "the driver re-based its positions %" PRIu64 " time%s; the recording went on in "
                  "arrival order",
                  r.rebases, r.rebases == 1 ? "" : "s");
    if (r.rf64) printLine("Recording", "over 4 GiB of data: written as RF64");
    if (r.full) printLine("Recording", "stopped at its frame limit");
}

// "Lost time : 100.0 ms at 1.003 s without a position gap", or every pause (the first
// five) with the sum.
void printLostTime(const measure::SwitchSummary& s) {
    std::string where;
    for (size_t i = 0; i < s.lostTime.size() && i < 5; ++i) {
        char pause[64];
        std::snprintf(pause, sizeof pause, "%s%.1f ms at %.3f s", i == 0 ? "" : ", ", s.lostTime[i].ms,
                      s.lostTime[i].atSeconds);
        where += pause;
    }
    if (s.lostTimePauses > 5) where += ", ...";
    if (s.lostTimePauses == 1)
        printLine("Lost time", "%s without a position gap", where.c_str());
    else
        printLine("Lost time", "%.1f ms in %" PRIu64 " pauses without a position gap: %s", s.lostTimeMs,
                  s.lostTimePauses, where.c_str());
}

// "Behind    : 12 times over a period behind the driver's clock with no late interval, by
// up to 16.0 ms: at 0.512 s, 1.024 s, ..."
void printBehind(const measure::SwitchSummary& s) {
    std::string when;
    for (size_t i = 0; i < s.behind.size() && i < 5; ++i) {
        char at[32];
        std::snprintf(at, sizeof at, "%s%.3f s", i == 0 ? "" : ", ", s.behind[i].atSeconds);
        when += at;
    }
    if (s.behindEpisodes > 5) when += ", ...";
    printLine("Behind",
              "%" PRIu64 " time%s over a period behind the driver's clock with no late interval, by up to "
              "%.1f ms: at %s",
              s.behindEpisodes, s.behindEpisodes == 1 ? "" : "s", s.behindWorstMs, when.c_str());
}

// The driver calls that took longer than a host can wait without freezing.
void printLongCalls(const measure::CallTimes& calls) {
    const std::pair<const char*, std::optional<double>> timed[] = {
        {"start", calls.start}, {"stop", calls.stop}, {"disposeBuffers", calls.disposeBuffers}};
    for (const auto& [name, seconds] : timed)
        if (seconds && *seconds > measure::longCallSeconds)
            printLine("Calls", "the driver's %s took %.3f s", name, *seconds);
}

void summarise(const runFindings& findings) {
    const measure::SwitchSummary& s = findings.stats;
    printLine("Run", "%.3f s, stopped by %s", findings.seconds, stopCauseName(findings.cause));
    printLine("Switches", "%" PRIu64 " (%" PRIu64 " expected)", s.switches, s.expectedSwitches);
    printLine("Continuity",
              "gaps=%" PRIu64 " (%" PRId64 " samples lost), repeats=%" PRIu64 ", backwards=%" PRIu64
              ", short steps=%" PRIu64 ", half errors=%" PRIu64,
              s.gaps, s.samplesLost, s.repeats, s.backwards, s.shortSteps, s.halfErrors);
    if (s.positionJumps > 0)
        printLine("Continuity", "%" PRIu64 " position jump%s (the driver re-based its positions)",
                  s.positionJumps, s.positionJumps == 1 ? "" : "s");
    if (s.overlaps > 0)
        printLine("Overlaps", "%" PRIu64 " switch%s came while another was still inside (only counted)",
                  s.overlaps, s.overlaps == 1 ? "" : "es");
    if (s.switches > 0 && s.positionless == s.switches)
        printLine("Positions", "the driver gave none: continuity and rate were not checked");
    else if (s.positionless > 0)
        printLine("Positions", "%" PRIu64 " switches came without one", s.positionless);
    if (s.intervalsKnown)
        printLine("Intervals", "min=%.1f us, mean=%.1f us, max=%.1f us, p99=%.0f us, late=%" PRIu64,
                  s.intervalUs.min, s.intervalUs.mean, s.intervalUs.max, s.intervalUs.p99, s.intervalUs.late);
    else
        printLine("Intervals", "none (fewer than two switches)");
    if (s.hostTimeKnown)
        printLine("Host time", "mean=%.1f us, max=%.1f us, load=%.2f%%", s.hostUs.mean, s.hostUs.max,
                  100.0 * s.hostLoad);
    else
        printLine("Host time", "none (no switch)");
    if (s.lostTimePauses > 0) printLostTime(s);
    if (s.behindEpisodes > 0) printBehind(s);
    if (s.measuredRate)
        printLine("Rate", "measured=%.2f Hz, error=%.1f ppm", *s.measuredRate, s.rateErrorPpm.value_or(0.0));
    else if (s.switches > 0 && s.positionless == s.switches)
        printLine("Rate", "not measured (no sample positions)");
    else
        printLine("Rate", "not measured (the run was too short)");
    printLine("Messages",
              "reset requests=%" PRIu64 ", resync requests=%" PRIu64 ", latencies changed=%" PRIu64
              ", buffer size changes=%" PRIu64 ", overloads=%" PRIu64 ", rate changes=%" PRIu64 "%s",
              messagesOf(findings, 3), messagesOf(findings, 5), messagesOf(findings, 6),
              messagesOf(findings, 4), messagesOf(findings, 15), findings.messages.rateChanges,
              otherMessages(findings).c_str());
    const bool every = findings.messages.outputReadyWanted ? findings.messages.outputReadyCalls == s.switches
                                                           : findings.messages.outputReadyCalls == 0;
    printLine("Notice", "outputReady %s by the driver, %s (%" PRIu64 " calls)",
              findings.messages.outputReadyWanted ? "wanted" : "not wanted",
              every ? (findings.messages.outputReadyWanted ? "called after every switch" : "never called")
                    : "called irregularly",
              findings.messages.outputReadyCalls);
    if (findings.toneShortages > 0)
        printLine("Notice",
                  "the tone made ahead ran short %" PRIu64 " time%s: the callback computed it itself",
                  findings.toneShortages, findings.toneShortages == 1 ? "" : "s");
    if (findings.stopFailure)
        printLine("Stop", "the driver's stop failed, error code=%s", findings.stopFailure->c_str());
    if (findings.switchesAfterStop > 0)
        printLine("After stop", "%" PRIu64 " switch%s came after the driver's stop returned (only counted)",
                  findings.switchesAfterStop, findings.switchesAfterStop == 1 ? "" : "es");
    printLongCalls(findings.calls);
    if (s.hostLostRecords > 0 || findings.host.lostInputBlocks > 0)
        printLine("Host",
                  "lost %" PRIu64 " switch records and %" PRIu64 " input blocks (%" PRIu64
                  " frames): the program fell behind, not the driver",
                  s.hostLostRecords, findings.host.lostInputBlocks, findings.host.lostInputFrames);
    // The machine's stalls are said where they weigh in the verdict: late switches
    // beyond what is forgiven fell in them, or the driver was late while a stall of its
    // own threads held the probe back. A probe that could not judge says so always.
    const measure::MachineFacts& machine = findings.machine;
    if (!machine.notJudgedWhy.empty())
        printLine("Machine", "stalls not judged: %s", machine.notJudgedWhy.c_str());
    if (measure::machineStallsWeigh(s, machine))
        printLine("Machine", "%" PRIu64 " stall%s of up to %.1f ms; %" PRIu64 " late switch%s fell in them",
                  machine.stalls, machine.stalls == 1 ? "" : "s", machine.longestStallMs,
                  machine.lateSwitchesInStalls, machine.lateSwitchesInStalls == 1 ? "" : "es");
    if (machine.ownStalls > 0 && s.intervalUs.late > 0)
        printLine("Machine",
                  "%" PRIu64 " stall%s of the probe came from the process's own threads (the driver's busy on "
                  "its processor), not the machine",
                  machine.ownStalls, machine.ownStalls == 1 ? "" : "s");
    if (findings.latency) printLatency(*findings.latency);
    if (findings.channelMap)
        for (const auto& [label, figures] : channelMapLines(*findings.channelMap))
            printText(label, figures);
    if (findings.recording) printRecording(*findings.recording, findings.recordingPath);
}

} // namespace

void printRunSummary(const runFindings& findings) {
    printMessage(u""); // ends the status line
    summarise(findings);
}

std::vector<std::string> runSummaryLines(const runFindings& findings) {
    std::vector<std::string> lines;
    collected = &lines;
    summarise(findings);
    collected = nullptr;
    return lines;
}

void printVerdict(const measure::Verdict& verdict) {
    std::string line = std::string("Verdict: ") + measure::verdictName(verdict.word);
    for (size_t i = 0; i < verdict.reasons.size(); ++i)
        line += (i == 0 ? ": " : ", ") + verdict.reasons[i];
    printMessage(plat::fromNarrow(line));
}
