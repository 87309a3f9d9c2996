#include "app/optionRules.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/switchReading.h"
#include "platform/platform.h"
#include "util/reportFile.h"
#include "util/telUtils.h"

namespace {

// The kind of run the switches ask for, chosen in the order the main block chooses it.
enum class runKind { plain, measured, probe, list, sweep, conform, everyDriver };

runKind kindOf(const programOptions& options) {
    if (options.conform) return runKind::conform;
    if (options.allDrivers) return runKind::everyDriver;
    if (options.list) return runKind::list;
    if (options.probe) return runKind::probe;
    if (options.sweep) return runKind::sweep;
    if (options.measures()) return runKind::measured;
    return runKind::plain;
}

// The switch that chose the kind, for the lines below.
const char16_t* kindSwitch(runKind kind, const programOptions& options) {
    switch (kind) {
    case runKind::conform:
        return u"/conform";
    case runKind::everyDriver:
        return options.sweep ? u"/sweep" : u"/index=all";
    case runKind::list:
        return u"/list";
    case runKind::probe:
        return u"/probe";
    case runKind::sweep:
        return u"/sweep";
    default:
        return u"";
    }
}

// A measured run or a sweep of one driver happens in a watched process of its own with
// one of these switches (unless /isolate=no).
bool measuresInChild() {
    return switchGiven(u"seconds") || switchGiven(u"json") || switchGiven(u"latency") ||
           switchGiven(u"record") || switchGiven(u"sweep") || switchGiven(u"html") ||
           switchGiven(u"metrics") || switchGiven(u"junit") || switchGiven(u"starts");
}

// A file an output is written to; a report goes to its name with ".partial" first.
struct outputFile {
    const char16_t* name;
    telText path;
    bool throughPartial;
};

std::vector<outputFile> outputFiles(const programOptions& options) {
    std::vector<outputFile> files;
    if (options.jsonPath) files.push_back({u"json", *options.jsonPath, true});
    if (options.recordPath) files.push_back({u"record", *options.recordPath, false});
    if (options.htmlPath) files.push_back({u"html", *options.htmlPath, true});
    if (options.junitPath) files.push_back({u"junit", *options.junitPath, true});
    if (options.metricsPath) files.push_back({u"metrics", *options.metricsPath, true});
    return files;
}

} // namespace

void refuseSwitch(programOptions& options, const telText& line) {
    printMessage(line);
    options.usageErrors.push_back(line);
    options.usageError = true;
}

// What the value should do is not for the tool to guess.
void refuseValuesOfPlainSwitches(programOptions& options) {
    for (const char16_t* name : {u"stats", u"list", u"probe", u"sweep", u"conform"})
        if (switchGiven(name) && !switchValue(name).empty())
            refuseSwitch(options,
                         u"/" + telText(name) + u" takes no value, not \"" + switchValue(name) + u"\"");
}

// Every switch must do something in the run it is given with: one that would be ignored
// is refused, so a script never waits on a run that quietly left out what it asked for.
void refuseSwitchesWithoutEffect(programOptions& options) {
    const runKind kind = kindOf(options);
    const bool eachRunMeasured =
        kind == runKind::measured || (kind == runKind::everyDriver && !options.sweep);
    const bool driverRun = kind != runKind::list && kind != runKind::conform;
    auto nothingWith = [&](const char16_t* name) {
        refuseSwitch(options,
                     u"/" + telText(name) + u" does nothing with " + kindSwitch(kind, options) + u".");
    };
    if (options.secondsGiven && kind != runKind::measured && kind != runKind::sweep &&
        kind != runKind::everyDriver)
        nothingWith(u"seconds");
    if (switchGiven(u"stats") && !eachRunMeasured) nothingWith(u"stats");
    // The starts have their table: no run's summary of its own.
    if (switchGiven(u"stats") && eachRunMeasured && options.startsGiven)
        refuseSwitch(options, u"/stats does nothing with /starts, which prints a row for every start.");
    // A recording with /sweep or every driver has a line of its own.
    if (options.recordGiven && kind != runKind::measured && !options.sweep && kind != runKind::everyDriver)
        nothingWith(u"record");
    if (switchGiven(u"latency") && (!driverRun || kind == runKind::probe)) nothingWith(u"latency");
    if (switchGiven(u"wiring") && !(options.latency && options.latency->all))
        refuseSwitch(options, u"/wiring states which output each input hears in /latency=all; without it "
                              u"nothing is mapped.");
    if (switchGiven(u"buffer") && !driverRun) nothingWith(u"buffer");
    if (switchGiven(u"rate") && !driverRun) nothingWith(u"rate");
    // Runs of their own kind; /sweep with either has a line of its own.
    if (options.list && kind != runKind::list && !options.sweep) nothingWith(u"list");
    if (options.probe && kind != runKind::probe && !options.sweep) nothingWith(u"probe");

    const bool isolable = kind == runKind::conform ||
                          ((kind == runKind::measured || kind == runKind::sweep) && measuresInChild());
    if (switchGiven(u"timeout") && (isolable || kind == runKind::everyDriver) && !options.isolate)
        refuseSwitch(options,
                     u"/timeout limits what runs in a process of its own; with /isolate=no nothing does.");
    else if (switchGiven(u"timeout") && !isolable && kind != runKind::everyDriver)
        refuseSwitch(options,
                     u"/timeout limits /conform's checks and the driver calls of a measuring run (/seconds, "
                     u"/json, /latency, /record, /sweep, /html); here it would limit nothing.");
    if (switchGiven(u"isolate") && kind == runKind::everyDriver)
        refuseSwitch(
            options,
            u"/isolate does nothing with /index=all, which runs every driver in a process of its own.");
    else if (switchGiven(u"isolate") && !isolable)
        refuseSwitch(options, u"/isolate says where /conform's checks and a measuring run (/seconds, /json, "
                              u"/latency, /record, /sweep, /html) run; here it would change nothing.");
    // What /list and /probe find is not judged: nothing to write as results or figures.
    if (options.junitGiven && (kind == runKind::list || kind == runKind::probe)) nothingWith(u"junit");
    if (options.metricsGiven && (kind == runKind::list || kind == runKind::probe)) nothingWith(u"metrics");
    // A baseline is compared with a measured run, a sweep, the suite or every driver's runs.
    if (options.baselineGiven && (kind == runKind::list || kind == runKind::probe || kind == runKind::plain))
        refuseSwitch(options,
                     u"/baseline compares a measuring run (/seconds, /json, /latency, /sweep, /conform) "
                     u"with an earlier one; without one there is nothing to compare.");
    if (switchGiven(u"check") && kind != runKind::conform)
        refuseSwitch(options, u"/check chooses which of /conform's checks run; without /conform none do.");
    const bool onlyControlPanel =
        !options.checks.empty() && std::all_of(options.checks.begin(), options.checks.end(),
                                               [](const std::string& id) { return id == "control-panel"; });
    if (kind == runKind::conform && onlyControlPanel && !options.showControlPanel)
        refuseSwitch(
            options,
            u"/check=control-panel runs only the check that /skipcp skips: nothing would be checked.");
}

// Two outputs in one file would leave only the one written last: each needs a file of its
// own, whatever the spelling or the link it is named through. Each output is named once,
// with the first it meets.
void refuseSharedFiles(programOptions& options) {
    const std::vector<outputFile> files = outputFiles(options);
    auto place = [](const telText& path) { return plat::fileIdentity(path); };
    auto partialPlace = [](const outputFile& file) {
        return file.throughPartial ? plat::fileIdentity(file.path + partialSuffix) : telText();
    };
    for (size_t later = 1; later < files.size(); ++later)
        for (size_t earlier = 0; earlier < later; ++earlier) {
            const outputFile& one = files[later];
            const outputFile& other = files[earlier];
            telText line;
            if (place(one.path) == place(other.path))
                line = u"/" + telText(one.name) + u" and /" + other.name + u" name the same file (" +
                       (one.path == other.path ? one.path : one.path + u", " + other.path) + u")";
            else if (place(one.path) == partialPlace(other))
                line = u"/" + telText(one.name) + u" names " + one.path + u", the file /" + other.name +
                       u" is first written to";
            else if (partialPlace(one) == place(other.path))
                line = u"/" + telText(other.name) + u" names " + other.path + u", the file /" + one.name +
                       u" is first written to";
            if (line.empty()) continue;
            refuseSwitch(options, line + u"; give each output a file of its own.");
            break;
        }
}
