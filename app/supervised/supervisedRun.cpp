#include "app/supervised/supervisedRun.h"

#include <chrono>
#include <cmath>
#include <optional>
#include <string>

#include "app/html/htmlFile.h"
#include "app/html/timingRelay.h"
#include "app/labReports.h"
#include "app/measured/measuredRun.h"
#include "app/options.h"
#include "app/supervised/childLink.h"
#include "app/switchReading.h"
#include "asio/callBeacon.h"
#include "conform/judge/supervision.h"
#include "conform/suiteSettings.h"
#include "measure/runDocument.h"
#include "measure/wavFile.h"
#include "platform/childProcess.h"
#include "platform/platform.h"
#include "util/reportFile.h"
#include "util/telUtils.h"

namespace {

using json = nlohmann::json;

// How far the run got: a sweep's next setting starts afresh, the driver's start and the
// measured run's progress are noted with the moment they were told.
void takeProgress(const json& message, supervisedOutcome& outcome) {
    const auto now = std::chrono::steady_clock::now();
    if (const auto setting = message.find("setting"); setting != message.end() && setting->is_object()) {
        outcome.setting = *setting;
        outcome.startedAt.reset();
        outcome.measured.reset();
        outcome.timing.reset();
    }
    if (message.contains("started")) outcome.startedAt = now;
    if (const auto measured = message.find("measured"); measured != message.end() && measured->is_object())
        outcome.measured = supervisedOutcome::progress{measured->value("seconds", 0.0),
                                                       measured->value("switches", uint64_t{0}), now};
    if (const auto timing = message.find("timing"); timing != message.end()) {
        if (!outcome.timing) outcome.timing = std::make_shared<report::TimingData>();
        applyTimingNews(*outcome.timing, *timing);
    }
}

// Takes every whole line the child sent (what is left is the start of a line).
void takeNews(std::string& received, supervisedOutcome& outcome, std::string& toolFailure) {
    for (size_t end; (end = received.find('\n')) != std::string::npos; received.erase(0, end + 1)) {
        const json message = json::parse(received.substr(0, end), nullptr, false);
        if (!message.is_object()) continue;
        if (message.contains("document")) outcome.told = message["document"];
        if (message.contains("started")) outcome.driverStarted = true;
        if (message.contains("recording")) outcome.recording = message["recording"];
        if (message.contains("ending")) outcome.ending = true;
        if (message.contains("toolFailure") && message["toolFailure"].is_string())
            toolFailure = message["toolFailure"].get<std::string>();
        takeProgress(message, outcome);
    }
}

json roundedSeconds(double seconds) {
    return std::round(seconds * 1000.0) / 1000.0;
}

// When the run ended, from what the child last told: the seconds since the driver (or
// the sweep's setting) started, the switches counted by then, and the setting.
json failureMoment(const supervisedOutcome& outcome, std::chrono::steady_clock::time_point endedAt) {
    const auto since = [&](std::chrono::steady_clock::time_point then) {
        return std::chrono::duration<double>(endedAt - then).count();
    };
    json seconds = nullptr;
    if (outcome.measured)
        seconds = roundedSeconds(outcome.measured->seconds + since(outcome.measured->toldAt));
    else if (outcome.startedAt)
        seconds = roundedSeconds(since(*outcome.startedAt));
    return {
        {"seconds", seconds},
        {"switchesCounted", outcome.measured ? json(outcome.measured->switches) : json(nullptr)},
        {"countedAtSeconds", outcome.measured ? roundedSeconds(outcome.measured->seconds) : json(nullptr)},
        {"sweepSetting", outcome.setting ? *outcome.setting : json(nullptr)}};
}

// A recording the child was writing when it ended: the header is patched to the
// frames that reached the file whole, so any reader opens it.
struct patchedRecording {
    uint64_t frames = 0;
    bool rf64 = false;
};
std::optional<patchedRecording> makeRecordingReadable(const json& recording, const telText& path) {
    measure::WavPlan plan;
    plan.recordable = true;
    plan.channels = recording.value("channels", uint16_t{0});
    plan.sampleRate = recording.value("rate", uint32_t{0});
    plan.bitsPerSample = recording.value("bits", uint16_t{0});
    plan.validBits = recording.value("validBits", uint16_t{0});
    plan.isFloat = recording.value("float", false);
    if (plan.frameBytes() == 0 || path.empty()) return std::nullopt;
    const plat::Handle file =
        plat::createFile(path, true, true, plat::Disposition::openExisting, plat::fileAttributeNormal);
    if (file == plat::invalidHandle) return std::nullopt;
    const uint64_t headerBytes = measure::wavHeader(plan, std::nullopt).size();
    const int64_t size = plat::fileSize(file);
    const uint64_t frames =
        size > int64_t(headerBytes) ? (uint64_t(size) - headerBytes) / plan.frameBytes() : 0;
    const uint64_t dataBytes = frames * plan.frameBytes();
    // Whole frames only, and the pad byte of an odd data size.
    plat::truncateFile(file, headerBytes + dataBytes + (dataBytes & 1));
    const std::vector<uint8_t> header = measure::wavHeader(plan, frames);
    uint32_t written = 0;
    const bool patched =
        plat::seekFile(file, 0) &&
        plat::writeFile(file, header.data(), static_cast<uint32_t>(header.size()), written) &&
        written == header.size();
    plat::closeHandle(file);
    if (!patched) return std::nullopt;
    return patchedRecording{frames, dataBytes > measure::plainWavDataLimit(plan)};
}

// The recording's part of the report: what the file holds now; what the run would
// have counted at its end is not known.
json recordingFacts(const json& recording, const std::optional<patchedRecording>& patched) {
    return {{"path", recording.value("path", std::string())},
            {"channels", recording.value("channels", 0)},
            {"channelsLeftOut", nullptr},
            {"frames", patched ? json(patched->frames) : json(nullptr)},
            {"driverGapFrames", nullptr},
            {"lostFrames", nullptr},
            {"overlapFrames", nullptr},
            {"rebases", nullptr},
            {"framesNotWritten", nullptr},
            {"rf64", patched && patched->rf64},
            {"full", false},
            {"written", false},
            {"error",
             patched
                 ? "the run ended before the file was closed; its header was patched to the frames it holds"
                 : "the run ended before the file was closed; its header could not be patched"}};
}

} // namespace

json supervisedOutcome::document() const {
    json document = told ? *told : measure::RunDocument().document();
    if (!started) {
        // No process ran: an error, with the line that says why, as every document has one.
        const std::string line = "the run's process could not be started";
        document["failure"] = line;
        document["verdict"] = measure::verdictName(measure::VerdictWord::error);
        document["reasons"] = json::array({line});
        return document;
    }
    if (failureLine.empty()) return document;
    // What the child could not finish: the failure, when it came, and the verdict it brings.
    if (recording) document["recording"] = *recording;
    document["failure"] = failureLine;
    document["failureAt"] = failureAt;
    document["verdict"] = measure::verdictName(verdictWord());
    document["reasons"] = json::array({failureLine});
    return document;
}

measure::VerdictWord supervisedOutcome::verdictWord() const {
    using measure::VerdictWord;
    if (!started) return VerdictWord::error;
    if (stopSignal != 0) return VerdictWord::interrupted;
    if (!failureLine.empty()) return toolFailed ? VerdictWord::error : VerdictWord::fail;
    if (told && told->contains("verdict") && (*told)["verdict"].is_string()) {
        const std::string word = (*told)["verdict"].get<std::string>();
        for (const VerdictWord each : {VerdictWord::pass, VerdictWord::inconclusive, VerdictWord::fail,
                                       VerdictWord::error, VerdictWord::interrupted})
            if (word == measure::verdictName(each)) return each;
    }
    // A child that ended by itself without telling a verdict: what its exit status says.
    return exitCode == 0 ? VerdictWord::pass : exitCode == 1 ? VerdictWord::fail : VerdictWord::error;
}

int32_t supervisedTimeLimit() {
    const std::optional<int64_t> seconds = readWholeNumber(switchValue(u"timeout"));
    return seconds && *seconds >= 1 && *seconds <= 86400 ? static_cast<int32_t>(*seconds)
                                                         : conform::defaultTimeLimitSeconds;
}

supervisedOutcome superviseRun(std::vector<telText> arguments, int32_t timeLimitSeconds,
                               const std::optional<telText>& recordPath) {
    supervisedOutcome outcome;
    plat::ChildOptions childOptions;
    childOptions.arguments = std::move(arguments);
    childOptions.sharedBytes = supervisedSharedBytes();
    // The child is the run a person sees and stops: it reads SPACE and prints; Ctrl+C
    // at the console reaches it as well as this process.
    childOptions.inheritInput = true;
    childOptions.inheritOutput = true;
    childOptions.ownProcessGroup = false;
    // The console was prepared before the main block: signals sent to this process
    // alone are caught (and passed on below), and the terminal's settings were saved, so
    // they are put back at this process's end whatever becomes of the child.
    plat::ChildProcess child;
    if (!child.start(childOptions)) return outcome;
    outcome.started = true;
    // However many signals come, this process passes the first on and ends with the
    // child, which dies with it: ended before the child, it would take the run's report.
    plat::holdThroughInterrupts();

    std::string received, toolFailure;
    std::optional<uint32_t> watchedCall; // the host thread's call being timed, by its serial
    auto callBegan = std::chrono::steady_clock::now();
    bool forwarded = false;
    plat::ChildEnd end;
    for (;;) {
        end = child.wait(100, received);
        takeNews(received, outcome, toolFailure);
        if (end.over()) break;
        // A signal this process received alone (a job's TERM) goes on to the run.
        if (plat::interruptRequested() && !forwarded) {
            askChildToStop(child.shared(), plat::interruptSignal());
            forwarded = true;
        }
        // A call of the host thread that has not returned within the limit hangs, however
        // busy the driver's own threads are meanwhile. The control panel waits for its user.
        const CallBeaconReading beacon = readCallBeacon(child.shared());
        const auto now = std::chrono::steady_clock::now();
        const bool timed =
            beacon.hostCall != telDriverCall::none && beacon.hostCall != telDriverCall::controlPanel;
        const std::optional<uint32_t> call =
            timed ? std::optional<uint32_t>(beacon.hostCallSerial) : std::nullopt;
        if (call != watchedCall) {
            watchedCall = call;
            callBegan = now;
        } else if (call && now - callBegan > std::chrono::seconds(timeLimitSeconds)) {
            child.kill();
            outcome.failureLine =
                "The run ended: the driver gave " + conform::hangDetail(beacon, timeLimitSeconds) + ".";
            break;
        }
    }
    takeNews(received, outcome, toolFailure);
    // A child that told of its own failure aborted right after (on Windows that is an
    // exit status, elsewhere a signal).
    if (outcome.failureLine.empty() && !toolFailure.empty()) {
        outcome.failureLine = toolFailure;
        outcome.toolFailed = true;
    }
    // A child that a repeated Ctrl+C ended outright was stopped, not crashed.
    if (outcome.failureLine.empty() && plat::interruptOfEnd(end) != 0) {
        outcome.stopSignal = plat::interruptOfEnd(end);
        outcome.failureLine = "The run ended: stopped by signal " + std::to_string(outcome.stopSignal) + ".";
    }
    if (outcome.failureLine.empty() && !end.abnormal()) {
        outcome.exitCode = static_cast<int>(end.code);
        return outcome;
    }
    outcome.failureAt = failureMoment(outcome, std::chrono::steady_clock::now());
    if (outcome.failureLine.empty())
        outcome.failureLine =
            "The run ended: the driver " +
            conform::crashDetail(readCallBeacon(child.shared()), plat::toUtf8(plat::childEndText(end))) + ".";
    // The child's status line may still stand on its line.
    if (outcome.driverStarted) printMessage(u"");
    printMessage(plat::fromNarrow(outcome.failureLine));
    if (outcome.recording && recordPath)
        outcome.recording =
            recordingFacts(*outcome.recording, makeRecordingReadable(*outcome.recording, *recordPath));
    else
        outcome.recording.reset();
    return outcome;
}

bool wantsSupervision() {
    if (argumentCount() == 0 || switchGiven(supervisedSwitch)) return false;
    const bool measuring = switchGiven(u"seconds") || switchGiven(u"json") || switchGiven(u"latency") ||
                           switchGiven(u"record") || switchGiven(u"sweep") || switchGiven(u"html") ||
                           switchGiven(u"metrics") || switchGiven(u"junit");
    return measuring && upperCaseText(switchValue(u"isolate")) != u"NO" && !switchGiven(u"conform") &&
           !switchGiven(u"list") && !switchGiven(u"probe") && !switchGiven(u"help") && !switchGiven(u"?") &&
           upperCaseText(switchValue(u"index")) != u"ALL";
}

int runSupervised() {
    std::optional<telText> jsonPath, recordPath, htmlPath, metricsPath, junitPath;
    if (switchGiven(u"json") && !switchValue(u"json").empty()) jsonPath = switchValue(u"json");
    if (switchGiven(u"metrics") && !switchValue(u"metrics").empty()) metricsPath = switchValue(u"metrics");
    if (switchGiven(u"junit") && !switchValue(u"junit").empty()) junitPath = switchValue(u"junit");
    if (switchGiven(u"html") && !switchValue(u"html").empty()) htmlPath = switchValue(u"html");
    if (switchGiven(u"record") && !switchValue(u"record").empty()) recordPath = switchValue(u"record");
    std::vector<telText> arguments = plat::arguments();
    arguments.erase(arguments.begin(), arguments.begin() + (arguments.empty() ? 0 : 1));
    arguments.push_back(u"/" + telText(supervisedSwitch));

    const supervisedOutcome outcome = superviseRun(arguments, supervisedTimeLimit(), recordPath);
    if (!outcome.started) {
        printBanner();
        printMessage(u"echoprobe: the run's process could not be started.");
        return measure::exitStatusOf(measure::VerdictWord::error);
    }
    if (outcome.failureLine.empty()) return outcome.exitCode;

    // The reports the child could not write, from what it had told.
    const json document = outcome.document();
    if (htmlPath) {
        reportFile file(htmlPath, u"HTML");
        telText why;
        if (!file.writable(&why) ||
            !file.write(htmlOfDocumentAndTiming(document, outcome.timing.get()), &why))
            printMessage(why);
    }
    if (jsonPath) {
        reportFile file(jsonPath, u"JSON");
        telText why;
        if (!file.writable(&why) ||
            !file.write(document.dump(2, ' ', false, json::error_handler_t::replace) + "\n", &why))
            printMessage(why);
    }
    if (metricsPath || junitPath) {
        labReports lab(metricsPath, junitPath,
                       switchGiven(u"sweep") ? lab::RunMode::sweep : lab::RunMode::measured);
        telText why;
        if (!lab.writable(&why) || !lab.write(document, &why)) printMessage(why);
    }
    // A child that was done had said its verdict and its shutdown already: the verdict
    // is said again as it now stands.
    if (outcome.ending) printVerdict(measure::Verdict{outcome.verdictWord(), {outcome.failureLine}});
    if (!outcome.ending) printMessage(u"\r\n\r\nASIO Loopback: normal shutdown.\r\nHave a nice DOS.");
    return measure::exitStatusOf(outcome.verdictWord(), outcome.stopSignal);
}
