#include "app/options.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "app/baselineRun.h"
#include "app/html/htmlFile.h"
#include "app/inventory/driverInventory.h"
#include "app/optionRules.h"
#include "app/switchReading.h"
#include "conform/caseChild.h"
#include "conform/checkList.h"
#include "platform/childProcess.h"
#include "util/telUtils.h"

namespace {

// Every switch the program knows, by the name its routines match.
constexpr const char16_t* knownSwitches[] = {u"index",
                                             u"skipcp",
                                             u"nosine",
                                             u"noloop",
                                             u"seconds",
                                             u"stats",
                                             u"json",
                                             u"list",
                                             u"probe",
                                             u"buffer",
                                             u"rate",
                                             u"latency",
                                             u"wiring",
                                             u"record",
                                             u"help",
                                             u"?",
                                             u"conform",
                                             u"timeout",
                                             u"isolate",
                                             u"junit",
                                             u"check",
                                             u"sweep",
                                             u"starts",
                                             u"html",
                                             u"metrics",
                                             u"baseline",
                                             u"supervised",
                                             conform::caseSwitch,
                                             plat::childEndsSwitch};

bool isSwitchLead(char16_t ch) {
    return ch == u'/' || ch == u'-' || ch == u'\\';
}

// The name of a switch argument: what follows its lead up to "=" or ":".
telText switchName(const telText& argument) {
    const size_t end = argument.find_first_of(u"=:", 1);
    return argument.substr(1, end == telText::npos ? telText::npos : end - 1);
}

} // namespace

bool isSwitchNamed(const telText& argument, const char16_t* name) {
    return argument.size() >= 2 && isSwitchLead(argument[0]) &&
           upperCaseText(switchName(argument)) == upperCaseText(name);
}

namespace {

bool nameIn(const telText& upperName, std::initializer_list<const char16_t*> names) {
    for (const char16_t* candidate : names)
        if (upperName == upperCaseText(candidate)) return true;
    return false;
}

bool isKnown(const telText& upperName) {
    for (const char16_t* candidate : knownSwitches)
        if (upperName == upperCaseText(candidate)) return true;
    return false;
}

// The switch arguments, by name in capitals, as given.
std::vector<std::pair<telText, telText>> switchArguments() {
    std::vector<std::pair<telText, telText>> found;
    for (int32_t position = 1; position <= argumentCount(); ++position) {
        const telText argument = argumentText(position);
        if (argument.size() >= 2 && isSwitchLead(argument[0]))
            found.emplace_back(upperCaseText(switchName(argument)), argument);
    }
    return found;
}

// True when a switch beyond the original four (and those the program gives its own
// child processes) is given: the run is one of the new kinds.
bool newSwitchGiven() {
    for (const auto& [name, argument] : switchArguments())
        if (isKnown(name) && !nameIn(name, {u"index", u"skipcp", u"nosine", u"noloop"}) &&
            !nameIn(name, {u"supervised", conform::caseSwitch, plat::childEndsSwitch}))
            return true;
    return false;
}

// Edits (a letter added, dropped, changed or two swapped) that turn one name into the other.
size_t editDistance(const telText& from, const telText& to) {
    std::vector<std::vector<size_t>> cost(from.size() + 1, std::vector<size_t>(to.size() + 1));
    for (size_t i = 0; i <= from.size(); ++i)
        cost[i][0] = i;
    for (size_t j = 0; j <= to.size(); ++j)
        cost[0][j] = j;
    for (size_t i = 1; i <= from.size(); ++i)
        for (size_t j = 1; j <= to.size(); ++j) {
            cost[i][j] = std::min({cost[i - 1][j] + 1, cost[i][j - 1] + 1,
                                   cost[i - 1][j - 1] + (from[i - 1] == to[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && from[i - 1] == to[j - 2] && from[i - 2] == to[j - 1])
                cost[i][j] = std::min(cost[i][j], cost[i - 2][j - 2] + 1);
        }
    return cost[from.size()][to.size()];
}

// The switch a misspelt name most likely meant; empty when none is close.
telText likelySwitch(const telText& upperName) {
    telText best;
    size_t bestDistance = 3;
    for (const char16_t* candidate : knownSwitches) {
        const telText name = upperCaseText(candidate);
        if (nameIn(name, {u"supervised", conform::caseSwitch, plat::childEndsSwitch, u"?"})) continue;
        const size_t distance = editDistance(upperName, name);
        if (distance < bestDistance && distance * 3 <= name.size()) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best;
}

// A switch the program does not know. Beside the original four alone it gets one line on
// standard error and the run goes on as it always did; with any other switch it is a
// typo the run must not go on without (/jsn=run.json would otherwise leave no report).
void checkUnknownSwitches(programOptions& options) {
    const bool strict = newSwitchGiven();
    for (const auto& [name, argument] : switchArguments()) {
        if (isKnown(name)) continue;
        if (!strict) {
            plat::writeErrorLine(u"unknown switch " + argument + u", ignored");
            continue;
        }
        const telText meant = likelySwitch(name);
        refuseSwitch(options, u"unknown switch " + argument +
                                  (meant.empty() ? telText() : u" (did you mean /" + meant + u"?)"));
    }
}



// A value that cannot be used: one line naming the switch, the value and what it takes.
void refuseValue(programOptions& options, const telText& name, const telText& value, const telText& wanted) {
    refuseSwitch(options, u"/" + name + u" needs " + wanted + u", not \"" + value + u"\"");
}

// A switch that names a file: its value, or one line with an example when it has none.
// Returns whether the switch was given at all.
bool readFileSwitch(programOptions& options, const char16_t* name, const char16_t* example,
                    std::optional<telText>& path) {
    if (!switchGiven(name)) return false;
    const telText value = switchValue(name);
    if (value.empty())
        refuseSwitch(options, u"/" + telText(name) + u" needs a file name, as in /" + name + u"=" + example);
    else
        path = value;
    return true;
}

// How often a switch is on the command line, by the name its routines match.
int32_t occurrences(const char16_t* name) {
    int32_t count = 0;
    for (int32_t position = 1; position <= argumentCount(); ++position) {
        if (isSwitchNamed(argumentText(position), name)) ++count;
    }
    return count;
}

// The switches that measure and judge; sets usageError for a value the run cannot go on
// with. A switch that takes a value may be given once: which of two would count is
// not for the tool to guess.
void readMeasuringSwitches(programOptions& options) {
    for (const char16_t* name : {u"seconds", u"json", u"record", u"buffer", u"rate", u"latency", u"wiring",
                                 u"html", u"metrics", u"baseline", u"starts"})
        if (occurrences(name) > 1)
            refuseSwitch(options, u"/" + telText(name) + u" is given more than once; give it once.");
    if (switchGiven(u"seconds")) {
        options.secondsGiven = true;
        const telText value = switchValue(u"seconds");
        const std::optional<int64_t> seconds = readWholeNumber(value);
        if (seconds && *seconds >= 1 && *seconds <= INT32_MAX)
            options.seconds = static_cast<int32_t>(*seconds);
        else
            refuseValue(options, u"seconds", value, u"a whole number of seconds from 1 up");
    }
    options.stats = switchGiven(u"stats") || options.secondsGiven;

    options.jsonGiven = readFileSwitch(options, u"json", u"run.json", options.jsonPath);
    options.recordGiven = readFileSwitch(options, u"record", u"inputs.wav", options.recordPath);

    options.list = switchGiven(u"list");
    options.probe = switchGiven(u"probe");
    // A sweep runs every setting for a while of its own: 2 s unless /seconds says otherwise.
    options.sweep = switchGiven(u"sweep");
    if (options.sweep && !options.secondsGiven) options.seconds = sweepDefaultSeconds;
    // Every start is measured for a while of its own: 2 s unless /seconds says otherwise.
    if (switchGiven(u"starts")) {
        options.startsGiven = true;
        const telText value = switchValue(u"starts");
        const std::optional<int64_t> starts = readWholeNumber(value);
        if (starts && *starts >= fewestStarts && *starts <= mostStarts)
            options.starts = static_cast<int32_t>(*starts);
        else
            refuseValue(options, u"starts", value, u"a number of stream starts from 2 to 1000");
        if (!options.secondsGiven) options.seconds = sweepDefaultSeconds;
    }
    options.htmlGiven = readFileSwitch(options, u"html", u"report.html", options.htmlPath);
    options.metricsGiven = readFileSwitch(options, u"metrics", u"echoprobe.prom", options.metricsPath);
    options.baselineGiven = readFileSwitch(options, u"baseline", u"last-good.json", options.baselinePath);

    if (switchGiven(u"buffer")) {
        const telText value = switchValue(u"buffer");
        const std::optional<int64_t> size = readWholeNumber(value);
        if (size && *size >= 1 && *size <= INT32_MAX)
            options.bufferSize = static_cast<int32_t>(*size);
        else
            refuseValue(options, u"buffer", value, u"a buffer size in samples from 1 up");
    }
    if (switchGiven(u"rate")) {
        const telText value = switchValue(u"rate");
        const std::optional<double> rate = readRate(value);
        if (rate)
            options.sampleRate = *rate;
        else
            refuseValue(options, u"rate", value, u"a sample rate in Hz above 0, such as 48000");
    }
    if (switchGiven(u"latency")) {
        options.latencyGiven = true;
        const telText value = switchValue(u"latency");
        std::optional<latencyChannels> channels =
            value.empty() ? std::optional<latencyChannels>(latencyChannels{}) : readLatencyChannels(value);
        if (upperCaseText(value) == u"ALL") channels = latencyChannels{1, 1, true};
        if (channels)
            options.latency = channels;
        else
            refuseValue(options, u"latency", value,
                        u"an output and an input channel numbered from 1, as in /latency=1,2");
    }
    if (switchGiven(u"wiring")) {
        const telText value = switchValue(u"wiring");
        std::string error = "give at least one pair";
        const auto pairs = value.empty() ? std::nullopt : measure::parseWiring(plat::toUtf8(value), error);
        if (pairs)
            options.wiring = pairs;
        else
            refuseSwitch(options, u"/wiring needs pairs OUT:IN of channels numbered from 1, as in "
                                  u"/wiring=1:2,2:1: " +
                                      plat::fromNarrow(error));
    }
    options.help = switchGiven(u"help") || switchGiven(u"?");
}

// /check=ID,...: every id must name a check; a wrong one is named with the list of those
// there are.
void readCheckIds(programOptions& options) {
    const telText value = switchValue(u"check");
    const std::string text = plat::toNarrow(value);
    if (text.empty()) {
        refuseSwitch(options,
                     u"/check needs ids of checks separated by commas, as in /check=figures,start-stop");
        return;
    }
    std::string unknown;
    for (size_t begin = 0; begin <= text.size();) {
        const size_t end = std::min(text.find(',', begin), text.size());
        const std::string id = text.substr(begin, end - begin);
        if (conform::findCheck(id) != nullptr)
            options.checks.push_back(id);
        else
            unknown += (unknown.empty() ? "\"" : ", \"") + id + "\"";
        begin = end + 1;
    }
    if (unknown.empty()) return;
    options.checks.clear();
    std::string every;
    for (const conform::CheckEntry& check : conform::allChecks())
        every += (every.empty() ? "" : ", ") + std::string(check.id);
    refuseSwitch(options, u"/check names no check " + plat::fromNarrow(unknown) + u"; the checks are " +
                              plat::fromNarrow(every) + u".");
}

// /conform and its switches; sets usageError for a value the suite cannot go on with.
void readConformanceSwitches(programOptions& options) {
    for (const char16_t* name : {u"timeout", u"isolate", u"junit", u"check"})
        if (occurrences(name) > 1)
            refuseSwitch(options, u"/" + telText(name) + u" is given more than once; give it once.");
    options.conform = switchGiven(u"conform");
    // "/index=all" asks the suite, or timed measured runs, for every installed driver in
    // turn. A run of one driver reads the value as it always has (the number reader's
    // own way with letters), unless it measures: then "all" would quietly mean one.
    const bool everyDriver = upperCaseText(switchValue(u"index")) == u"ALL";
    options.allDrivers =
        everyDriver && (options.conform || options.secondsGiven || options.sweep || options.startsGiven);
    if (options.allDrivers) options.requestedIndex = 0;
    if (everyDriver && !options.allDrivers && (options.measures() || switchGiven(u"junit")))
        refuseSwitch(options, u"/index=all runs every installed driver in turn only with /seconds, /sweep, "
                              u"/starts or /conform.");
    if (options.allDrivers && !options.conform && options.recordGiven)
        refuseSwitch(options,
                     u"/record writes one file for one driver; give /index=N with it, not /index=all.");
    if (options.allDrivers && !options.conform && options.htmlPath)
        refuseSwitch(options,
                     u"/html writes the report of one driver; give /index=N with it, not /index=all.");
    // A sweep is a run of its own kind: it does not go with another one.
    if (options.sweep && options.recordGiven)
        refuseSwitch(options,
                     u"/record writes one file for one setting; record with /rate=R /buffer=N, not /sweep.");
    if (options.sweep && (options.probe || options.list || options.conform))
        refuseSwitch(
            options,
            u"/sweep runs the driver at every setting; it does not go with /probe, /list or /conform.");
    if (options.startsGiven && options.recordGiven)
        refuseSwitch(options, u"/record writes one file for one stream start; record without /starts.");
    if (options.startsGiven && (options.probe || options.list || options.conform))
        refuseSwitch(options,
                     u"/starts starts the driver's stream again and again; it does not go with /probe, /list "
                     u"or /conform.");
    if (options.htmlPath && options.list)
        refuseSwitch(options, u"/html reports a run of one driver; /list runs none.");
    if (switchGiven(u"timeout")) {
        const telText value = switchValue(u"timeout");
        const std::optional<int64_t> seconds = readWholeNumber(value);
        if (seconds && *seconds >= 1 && *seconds <= 86400)
            options.timeoutSeconds = static_cast<int32_t>(*seconds);
        else
            refuseValue(options, u"timeout", value, u"a time limit in seconds from 1 to 86400");
    }
    if (switchGiven(u"isolate")) {
        const telText value = upperCaseText(switchValue(u"isolate"));
        if (value == u"NO" || value == u"YES" || value.empty())
            options.isolate = value != u"NO";
        else
            refuseValue(options, u"isolate", switchValue(u"isolate"), u"yes or no");
    }
    options.junitGiven = readFileSwitch(options, u"junit", u"conformance.xml", options.junitPath);
    if (switchGiven(u"check")) readCheckIds(options);
}

} // namespace

void printBanner() {
    printMessage(u"ASIO Loopback Test Application. Version 1.0 Made by the echoprobe project.");
}

void printUsage() {
    printMessage(u"\r\nusage: echoprobe [/index=N] [/skipcp] [/nosine] [/noloop]");
    printMessage(u"");
    printMessage(u"         N - index of driver to use (0 - first driver)");
    printMessage(u"         skipcp - do not show control panel");
    printMessage(u"         nosine - do not add sines to output buffers");
    printMessage(u"         noloop - do not loop input to output channels");
    printMessage(u"");
}

void printFullUsage() {
    printMessage(u"\r\nusage: echoprobe [/index=N] [/skipcp] [/nosine] [/noloop]");
    printMessage(u"       echoprobe [/index=N] [/skipcp] [/buffer=N] [/rate=R] [/seconds=N] [/stats]");
    printMessage(u"                 [/json=FILE] [/latency[=OUT,IN|=all]] [/wiring=OUT:IN,...]");
    printMessage(u"                 [/record=FILE.wav] [/html=FILE] [/metrics=FILE] [/junit=FILE]");
    printMessage(u"                 [/baseline=FILE] [/timeout=S] [/isolate=no] [/starts=N]");
    printMessage(u"       echoprobe [/index=N] [/skipcp] /sweep [/buffer=N] [/rate=R] [/seconds=N]");
    printMessage(u"                 [/latency[=OUT,IN|=all]] [/wiring=OUT:IN,...] [/json=FILE]");
    printMessage(u"                 [/html=FILE] [/metrics=FILE] [/junit=FILE] [/baseline=FILE]");
    printMessage(u"                 [/timeout=S] [/isolate=no] [/starts=N]");
    printMessage(
        u"       echoprobe [/index=N] [/skipcp] /probe [/buffer=N] [/rate=R] [/json=FILE] [/html=FILE]");
    printMessage(u"       echoprobe [/index=N] [/skipcp] /conform [/check=ID,...] [/junit=FILE]");
    printMessage(u"                 [/metrics=FILE] [/json=FILE] [/html=FILE] [/timeout=S] [/isolate=no]");
    printMessage(u"       echoprobe [/index=N] /list [/json=FILE]");
    printMessage(u"       echoprobe /help");
    printMessage(u"");
    printMessage(u"         N - index of driver to use (0 - first driver)");
    printMessage(u"         skipcp - do not show control panel");
    printMessage(u"         nosine - do not add sines to output buffers");
    printMessage(u"         noloop - do not loop input to output channels");
    printMessage(u"         seconds - stop after N seconds and judge the run (/index=all: every installed");
    printMessage(u"                   driver in turn)");
    printMessage(u"         stats - print a health summary of the run after the driver stopped");
    printMessage(u"         json - write the report and the summary to FILE as one JSON document");
    printMessage(u"         list - list the installed drivers and what keeps any of them from loading");
    printMessage(u"         probe - report what the driver supports instead of running it");
    printMessage(u"         buffer - run with a buffer of N samples");
    printMessage(u"         rate - run at R Hz");
    printMessage(u"         latency - measure the round trip from output OUT to input IN (default 1,1)");
    printMessage(u"                   through a cable or the driver's own loopback; all: every output");
    printMessage(u"                   into every input at once, which output each input hears");
    printMessage(u"         wiring - the output each input is wired to for /latency=all (default: output");
    printMessage(u"                   k to input k)");
    printMessage(u"         record - record the inputs to a WAV file");
    printMessage(
        u"         sweep - run at every rate and a choice of buffer sizes, /seconds each (default 2)");
    printMessage(u"         starts - start the stream N times (2 to 1000), /seconds each (default 2), and");
    printMessage(u"                  judge every start and whether the round trip stays the same");
    printMessage(u"         html - write a report with plots of what was measured to FILE");
    printMessage(u"         conform - check the driver against what hosts rely on, each check in a process");
    printMessage(u"                   of its own (/index=all: every installed driver in turn)");
    printMessage(u"         check - run only the named checks");
    printMessage(u"         timeout - the time limit of any driver call, of a check or of a measuring run,");
    printMessage(u"                   in seconds (default 20)");
    printMessage(u"         isolate - no: run every check, or the measuring run, in this process (a crash");
    printMessage(u"                   then ends the program)");
    printMessage(u"         junit - write the results to FILE as a JUnit XML report: a case per check, per");
    printMessage(u"                 class of finding of a run or per setting of a sweep");
    printMessage(u"         metrics - write the run's figures to FILE in the text format Prometheus");
    printMessage(u"                   scrapes (for the node exporter's textfile collector)");
    printMessage(u"         baseline - compare the run with an earlier run's JSON document in FILE: what");
    printMessage(u"                    got worse fails the run (regressed), a baseline that cannot be");
    printMessage(u"                    compared is an error");
    printMessage(u"         help - show this text");
    printMessage(u"");
    printMessage(u"         /index=all runs every installed driver in turn: with /conform, or with /seconds");
    printMessage(u"         or /sweep and without /record, /html and /isolate. nosine and noloop shape any");
    printMessage(u"         run of the driver. With any switch after the first four, a switch the tool does");
    printMessage(u"         not know, or one that would do nothing in the run asked for, stops the run with");
    printMessage(u"         a line that says why.");
    printMessage(u"");
    printMessage(u"         With /seconds, /json, /latency, /record, /junit, /metrics, /baseline, /sweep,");
    printMessage(u"         /html or /conform the exit status tells the outcome: 0 pass, 1 fail or");
    printMessage(u"         inconclusive, 2 error (the run could not be made as asked), 128+N stopped by");
    printMessage(u"         signal N.");
    printMessage(u"");
}

programOptions readOptions() {
    programOptions options;
    if (argumentCount() == 0) {
        printUsage();
        return options;
    }
    telText index;
    switchArgument(u"index", telFalse, u"0", index);
    options.requestedIndex = textToInt(index, int32_t{0}, 10, telFalse);
    options.showControlPanel = toTelBool(!switchPresent(u"skipcp", telFalse));

    checkUnknownSwitches(options);
    readMeasuringSwitches(options);
    readConformanceSwitches(options);
    refuseValuesOfPlainSwitches(options);
    refuseSwitchesWithoutEffect(options);
    refuseSharedFiles(options);
    if (options.usageError || options.help) printFullUsage();
    return options;
}

std::optional<int64_t> readWholeNumber(const telText& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    int64_t value = 0;
    for (char16_t ch : text) {
        if (ch < u'0' || ch > u'9') return std::nullopt;
        value = value * 10 + (ch - u'0');
    }
    return value;
}

std::optional<double> readRate(const telText& text) {
    const size_t point = text.find(u'.');
    const telText whole = text.substr(0, point);
    const telText fraction = point == telText::npos ? telText() : text.substr(point + 1);
    if (whole.empty() || whole.size() > 9 || (point != telText::npos && fraction.empty()) ||
        fraction.size() > 9)
        return std::nullopt;
    const std::optional<int64_t> wholePart = readWholeNumber(whole);
    const std::optional<int64_t> fractionPart = fraction.empty() ? 0 : readWholeNumber(fraction);
    if (!wholePart || !fractionPart) return std::nullopt;
    const double rate =
        static_cast<double>(*wholePart) +
        static_cast<double>(*fractionPart) / std::pow(10.0, static_cast<double>(fraction.size()));
    if (!(rate > 0.0)) return std::nullopt;
    return rate;
}

std::optional<latencyChannels> readLatencyChannels(const telText& text) {
    const size_t comma = text.find(u',');
    if (comma == telText::npos) return std::nullopt;
    const std::optional<int64_t> output = readWholeNumber(text.substr(0, comma));
    const std::optional<int64_t> input = readWholeNumber(text.substr(comma + 1));
    if (!output || !input || *output < 1 || *input < 1 || *output > INT32_MAX || *input > INT32_MAX)
        return std::nullopt;
    return latencyChannels{static_cast<int32_t>(*output), static_cast<int32_t>(*input)};
}

conform::SuiteSettings suiteSettings(const programOptions& options) {
    conform::SuiteSettings settings;
    settings.allDrivers = options.allDrivers;
    settings.index = options.requestedIndex;
    settings.skipControlPanel = !options.showControlPanel;
    settings.timeLimitSeconds = options.timeoutSeconds;
    settings.isolate = options.isolate;
    settings.checks = options.checks;
    settings.jsonPath = options.jsonPath;
    settings.junitPath = options.junitPath;
    settings.metricsPath = options.metricsPath;
    settings.htmlPath = options.htmlPath;
    settings.htmlPage = htmlOfDocument;
    settings.creationDiagnosis = creationDiagnosis;
    if (options.baselinePath) {
        auto earlierRun = std::make_shared<baselineRun>(options.baselinePath);
        settings.baselineReadable = [earlierRun](telText* why) { return earlierRun->readable(why); };
        settings.judgeAgainstBaseline = [earlierRun](measure::RunDocument& document,
                                                     measure::Verdict& verdict) {
            earlierRun->judge(document, verdict);
        };
    }
    return settings;
}
