#include "baseline/comparison.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <regex>

#include "baseline/documentKind.h"
#include "lab/documentReading.h"
#include "lab/metricSet.h"

namespace baseline {

using nlohmann::json;

namespace {

// Whether a verdict moved for the worse (to fail), for the better (from fail or
// inconclusive to pass), or only changed: a run that could not judge (inconclusive)
// shows nothing of the driver, an error or an interrupted run has no result at all.
std::optional<bool> verdictWorse(const std::string& before, const std::string& after) {
    auto judged = [](const std::string& word) {
        return word == "pass" || word == "inconclusive" || word == "fail";
    };
    if (!judged(before) || !judged(after)) return std::nullopt;
    if (after == "fail") return true;
    if (after == "pass") return false;
    return std::nullopt;
}

// A check's result: warn between pass and fail; skip has none.
std::optional<int> checkRank(const std::string& word) {
    if (word == "pass") return 0;
    if (word == "warn") return 1;
    if (word == "fail") return 2;
    return std::nullopt;
}

// "PREFIX: WHAT", or WHAT alone.
std::string named(const std::string& prefix, const std::string& what) {
    return prefix.empty() ? what : prefix + ": " + what;
}

// The late switches a run's verdict holds against the driver: its reason "N late
// switches", where it has one.
uint64_t judgedLateSwitches(const json& run) {
    static const std::regex lateReason(R"(^(\d{1,18}) late switch(es)?$)");
    const json& reasons = lab::nodeAt(run, {"reasons"});
    if (!reasons.is_array()) return 0;
    for (const json& reason : reasons) {
        std::smatch found;
        if (!reason.is_string()) continue;
        const std::string text = reason.get<std::string>();
        if (std::regex_match(text, found, lateReason)) return std::stoull(found[1].str());
    }
    return 0;
}

class Comparer {
  public:
    explicit Comparer(Comparison& out) : f_out(out) {}

    void add(const std::string& what, const json& before, const json& after, std::optional<bool> worse,
             Weight weight, const std::string& unit = {}) {
        f_out.changes.push_back({what, before, after, unit, worse, weight});
    }
    void lacks(const std::string& line) {
        if (std::find(f_out.lacks.begin(), f_out.lacks.end(), line) == f_out.lacks.end())
            f_out.lacks.push_back(line);
    }

    void verdict(const std::string& prefix, const json& before, const json& after) {
        const std::string wordBefore = lab::textAt(before, {"verdict"}),
                          wordAfter = lab::textAt(after, {"verdict"});
        if (wordBefore == wordAfter) return;
        auto known = [](const std::string& word) { return word.empty() ? json() : json(word); };
        auto result = [](const std::string& word) { return word != "error" && word != "interrupted"; };
        const bool comparable = result(wordBefore) && result(wordAfter);
        const std::string word = result(wordAfter) ? wordBefore : wordAfter;
        add(named(prefix, comparable ? "verdict" : "verdict (" + word + " is no comparable result)"),
            known(wordBefore), known(wordAfter), verdictWorse(wordBefore, wordAfter), Weight::result);
    }

    // A round trip that moved by a sample or more; one that is no longer found is worse.
    void roundTrip(const std::string& what, const json& before, const json& after) {
        if (before.is_number() && after.is_number()) {
            const double change = after.get<double>() - before.get<double>();
            if (std::fabs(change) >= 1.0) add(what, before, after, change > 0, Weight::figure, "samples");
        } else if (before.is_number() != after.is_number()) {
            add(what, before, after, before.is_number(), Weight::figure, "samples");
        }
    }

    // A count of faults that was 0 and is not any more is worse where `judged` (this run's
    // verdict holds it against the driver), else reported; one that went to 0 is better.
    void count(const std::string& prefix, const std::string& what, const json& baselineSection,
               const json& before, const json& after, bool judged) {
        if (baselineSection.is_object() && before.is_null() && after.is_number()) {
            lacks("no count of " + what);
            return;
        }
        if (!before.is_number() || !after.is_number()) return;
        const double from = before.get<double>(), to = after.get<double>();
        if (from == 0 && to > 0)
            add(named(prefix, what), before, after, judged ? std::optional<bool>(true) : std::nullopt,
                Weight::count);
        else if (from > 0 && to == 0)
            add(named(prefix, what), before, after, false, Weight::count);
    }

    void reported(const std::string& what, const json& before, const json& after,
                  const std::string& unit = {}) {
        if (before.is_null() && after.is_null()) return;
        if (before != after) add(what, before, after, std::nullopt, Weight::reported, unit);
    }

    // The loopback measurement of a run or a sweep's setting.
    void latency(const std::string& prefix, const json& before, const json& after) {
        if (before.is_object() != after.is_object()) {
            add(named(prefix, "setting /latency"), before.is_object() ? "given" : "not given",
                after.is_object() ? "given" : "not given", std::nullopt, Weight::reported);
            return;
        }
        if (!after.is_object()) return;
        const json& pairsAfter = lab::nodeAt(after, {"pairs"});
        if (pairsAfter.is_array()) {
            const json& pairsBefore = lab::nodeAt(before, {"pairs"});
            if (!pairsBefore.is_array()) {
                lacks("no per-pair round trips");
                roundTrip(named(prefix, "round trip, middle of the pairs"),
                          lab::nodeAt(before, {"measuredSamples"}), lab::nodeAt(after, {"measuredSamples"}));
            } else {
                for (const json& pair : pairsAfter) {
                    const json* match = nullptr;
                    for (const json& old : pairsBefore)
                        if (old.value("output", -1) == pair.value("output", -2) &&
                            old.value("input", -1) == pair.value("input", -2))
                            match = &old;
                    if (match == nullptr) continue;
                    roundTrip(named(prefix, "round trip, output " + valueText(pair["output"], "") +
                                                " to input " + valueText(pair["input"], "")),
                              lab::nodeAt(*match, {"roundTrip"}), lab::nodeAt(pair, {"roundTrip"}));
                }
            }
        } else {
            roundTrip(named(prefix, "round trip"), lab::nodeAt(before, {"measuredSamples"}),
                      lab::nodeAt(after, {"measuredSamples"}));
        }
        reported(named(prefix, "reported latency"), lab::nodeAt(before, {"reportedSamples"}),
                 lab::nodeAt(after, {"reportedSamples"}), "samples");
    }

    // What a measured run, a start and a sweep's setting have alike.
    void run(const std::string& prefix, const json& before, const json& after) {
        verdict(prefix, before, after);
        latency(prefix, lab::nodeAt(before, {"latency"}), lab::nodeAt(after, {"latency"}));
        const json& statsBefore = lab::nodeAt(before, {"stats"});
        const json& statsAfter = lab::nodeAt(after, {"stats"});
        // A new kind of fault counts against the driver where the run failed; in a run the
        // machine made inconclusive it is only said.
        const bool failing = lab::textAt(after, {"verdict"}) == "fail";
        // Late switches count against the driver only as the run's verdict counts them
        // ("3 late switches"): those that fell into the machine's stalls are left out.
        auto driverLate = [](const json& run) {
            if (!lab::nodeAt(run, {"stats", "late"}).is_number()) return json();
            return json(judgedLateSwitches(run));
        };
        count(prefix, "late switches", statsBefore, driverLate(before), driverLate(after), true);
        for (const auto& [key, what] : {std::pair{"gaps", "gaps (switches missing)"},
                                        {"repeats", "repeats"},
                                        {"backwards", "backwards steps"},
                                        {"shortSteps", "short steps"},
                                        {"halfErrors", "half errors"},
                                        {"positionJumps", "position jumps"}})
            count(prefix, what, statsBefore, lab::nodeAt(statsBefore, {key}), lab::nodeAt(statsAfter, {key}),
                  failing);
        const json& latencyBefore = lab::nodeAt(before, {"latency"});
        count(prefix, "glitches", latencyBefore, lab::nodeAt(latencyBefore, {"glitches"}),
              lab::nodeAt(after, {"latency", "glitches"}), failing);
        count(prefix, "switches after stop", lab::nodeAt(before, {"run"}),
              lab::nodeAt(before, {"run", "switchesAfterStop"}),
              lab::nodeAt(after, {"run", "switchesAfterStop"}), failing);
        reported(named(prefix, "reported input latency"), lab::nodeAt(before, {"reportedLatency", "input"}),
                 lab::nodeAt(after, {"reportedLatency", "input"}), "samples");
        reported(named(prefix, "reported output latency"), lab::nodeAt(before, {"reportedLatency", "output"}),
                 lab::nodeAt(after, {"reportedLatency", "output"}), "samples");
    }

    // The driver's version and figures, reported only.
    void driver(const std::string& prefix, const json& before, const json& after) {
        reported(named(prefix, "driver version"), lab::nodeAt(before, {"driver", "version"}),
                 lab::nodeAt(after, {"driver", "version"}));
        const json& figuresBefore = lab::nodeAt(before, {"figures"});
        const json& figuresAfter = lab::nodeAt(after, {"figures"});
        reported(named(prefix, "inputs"), lab::nodeAt(figuresBefore, {"inputs"}),
                 lab::nodeAt(figuresAfter, {"inputs"}));
        reported(named(prefix, "outputs"), lab::nodeAt(figuresBefore, {"outputs"}),
                 lab::nodeAt(figuresAfter, {"outputs"}));
        for (const char* key : {"min", "max", "preferred", "granularity", "actual"})
            reported(named(prefix, std::string("buffer size ") + key),
                     lab::nodeAt(figuresBefore, {"bufferSizes", key}),
                     lab::nodeAt(figuresAfter, {"bufferSizes", key}), "samples");
        reported(named(prefix, "sample rate"), lab::nodeAt(figuresBefore, {"sampleRate"}),
                 lab::nodeAt(figuresAfter, {"sampleRate"}), "Hz");
        reported(named(prefix, "reported input latency"), lab::nodeAt(figuresBefore, {"latencies", "input"}),
                 lab::nodeAt(figuresAfter, {"latencies", "input"}), "samples");
        reported(named(prefix, "reported output latency"),
                 lab::nodeAt(figuresBefore, {"latencies", "output"}),
                 lab::nodeAt(figuresAfter, {"latencies", "output"}), "samples");
        const bool recordedBefore = lab::nodeAt(before, {"recording"}).is_object();
        const bool recordedAfter = lab::nodeAt(after, {"recording"}).is_object();
        if (recordedBefore != recordedAfter)
            add(named(prefix, "setting /record"), recordedBefore ? "given" : "not given",
                recordedAfter ? "given" : "not given", std::nullopt, Weight::reported);
    }

    void measured(const std::string& prefix, const json& before, const json& after) {
        driver(prefix, before, after);
        run(prefix, before, after);
    }

    // Rows compared by their index: the first start with the first.
    void starts(const std::string& prefix, const json& before, const json& after) {
        driver(prefix, before, after);
        verdict(prefix, before, after);
        const json& rowsBefore = lab::nodeAt(before, {"starts"});
        const json& rowsAfter = lab::nodeAt(after, {"starts"});
        if (!rowsBefore.is_array() || !rowsAfter.is_array()) return;
        if (rowsBefore.size() != rowsAfter.size())
            add(named(prefix, "starts"), rowsBefore.size(), rowsAfter.size(), std::nullopt, Weight::reported);
        for (size_t index = 0; index < std::min(rowsBefore.size(), rowsAfter.size()); ++index)
            run(named(prefix, "start " + std::to_string(index + 1)), rowsBefore[index], rowsAfter[index]);
    }

    // Setting by setting; the sweep's own verdict is that of its settings.
    void sweep(const std::string& prefix, const json& before, const json& after) {
        driver(prefix, before, after);
        const json& rowsBefore = lab::nodeAt(before, {"sweep"});
        const json& rowsAfter = lab::nodeAt(after, {"sweep"});
        if (!rowsBefore.is_array() || !rowsAfter.is_array()) return verdict(prefix, before, after);
        auto settingOf = [](const json& row) {
            return lab::textAt(row, {"rate"}) + " Hz, " + lab::textAt(row, {"buffer"}) + " samples";
        };
        auto find = [&](const json& rows, const std::string& setting) -> const json* {
            for (const json& row : rows)
                if (settingOf(row) == setting) return &row;
            return nullptr;
        };
        for (const json& row : rowsAfter) {
            const std::string setting = named(prefix, settingOf(row));
            if (const json* old = find(rowsBefore, settingOf(row)))
                run(setting, *old, row);
            else
                add(setting, "not swept", "swept", std::nullopt, Weight::reported);
        }
        for (const json& row : rowsBefore)
            if (find(rowsAfter, settingOf(row)) == nullptr)
                add(named(prefix, settingOf(row)), "swept", "not swept", std::nullopt, Weight::reported);
        // The smallest buffer that passed, rate by rate: one that grew (or is gone) is worse.
        const auto smallestBefore = smallestPassing(rowsBefore), smallestAfter = smallestPassing(rowsAfter);
        for (const auto& [rate, size] : smallestAfter) {
            const auto old = smallestBefore.find(rate);
            if (old == smallestBefore.end() || old->second == size) continue;
            const bool grew = !size || (old->second && *size > *old->second);
            add(named(prefix, "smallest passing buffer at " + lab::metricNumber(rate) + " Hz"),
                old->second ? json(*old->second) : json(), size ? json(*size) : json(), grew, Weight::figure,
                "samples");
        }
    }

    // The checks first: the verdict follows from them.
    void conformance(const std::string& prefix, const json& before, const json& after) {
        conformanceChecks(prefix, before, after);
        verdict(prefix, before, after);
        driver(prefix, before, after);
    }

    void conformanceChecks(const std::string& prefix, const json& before, const json& after) {
        const json& checksBefore = lab::nodeAt(before, {"conformance", "checks"});
        const json& checksAfter = lab::nodeAt(after, {"conformance", "checks"});
        if (!checksBefore.is_array() || !checksAfter.is_array()) return;
        auto find = [](const json& checks, const std::string& id) -> const json* {
            for (const json& check : checks)
                if (lab::textAt(check, {"id"}) == id) return &check;
            return nullptr;
        };
        for (const json& check : checksAfter) {
            const std::string id = lab::textAt(check, {"id"});
            const json* old = find(checksBefore, id);
            if (old == nullptr) {
                add(named(prefix, "check " + id), "not run", "run", std::nullopt, Weight::reported);
                continue;
            }
            const std::string from = lab::textAt(*old, {"result"}), to = lab::textAt(check, {"result"});
            if (from == to) continue;
            const auto rankFrom = checkRank(from), rankTo = checkRank(to);
            add(named(prefix, "check " + id), from, to,
                rankFrom && rankTo ? std::optional<bool>(*rankTo > *rankFrom) : std::nullopt, Weight::result);
        }
        for (const json& check : checksBefore)
            if (find(checksAfter, lab::textAt(check, {"id"})) == nullptr)
                add(named(prefix, "check " + lab::textAt(check, {"id"})), "run", "not run", std::nullopt,
                    Weight::reported);
    }

    // Each driver's run against the baseline's run of the driver of the same name.
    void everyDriver(const json& before, const json& after) {
        verdict("", before, after);
        const json& runsBefore = lab::nodeAt(before, {"runs"});
        const json& runsAfter = lab::nodeAt(after, {"runs"});
        auto nameOf = [](const json& run) { return lab::textAt(run, {"driver", "description"}); };
        for (const json& run : runsAfter) {
            const json* old = nullptr;
            for (const json& candidate : runsBefore)
                if (nameOf(candidate) == nameOf(run)) old = &candidate;
            if (old == nullptr) {
                add(nameOf(run), "not run", "run", std::nullopt, Weight::reported);
                continue;
            }
            const DocumentKind kind = kindOf(run);
            if (kind == DocumentKind::sweep)
                sweep(nameOf(run), *old, run);
            else
                measured(nameOf(run), *old, run);
        }
        for (const json& run : runsBefore) {
            const bool kept = std::any_of(runsAfter.begin(), runsAfter.end(),
                                          [&](const json& now) { return nameOf(now) == nameOf(run); });
            if (!kept) add(nameOf(run), "run", "not run", std::nullopt, Weight::reported);
        }
    }

  private:
    static std::map<double, std::optional<int64_t>> smallestPassing(const json& rows) {
        std::map<double, std::optional<int64_t>> smallest;
        for (const json& row : rows) {
            const auto rate = lab::numberAt(row, {"rate"});
            const auto buffer = lab::numberAt(row, {"buffer"});
            if (!rate || !buffer) continue;
            std::optional<int64_t>& size = smallest[*rate];
            if (lab::textAt(row, {"verdict"}) == "pass" && (!size || *buffer < *size))
                size = static_cast<int64_t>(*buffer);
        }
        return smallest;
    }

    Comparison& f_out;
};

} // namespace

bool Comparison::regressed() const {
    return std::any_of(changes.begin(), changes.end(),
                       [](const Change& change) { return change.worse == true; });
}

Comparison compareDocuments(const json& baselineDocument, const json& current) {
    Comparison comparison;
    Comparer comparer(comparison);
    switch (kindOf(current)) {
    case DocumentKind::measured:
        comparer.measured("", baselineDocument, current);
        break;
    case DocumentKind::starts:
        comparer.starts("", baselineDocument, current);
        break;
    case DocumentKind::sweep:
        comparer.sweep("", baselineDocument, current);
        break;
    case DocumentKind::conformance:
        comparer.conformance("", baselineDocument, current);
        break;
    case DocumentKind::everyDriver:
        comparer.everyDriver(baselineDocument, current);
        break;
    }
    orderChanges(comparison.changes);
    return comparison;
}

} // namespace baseline
