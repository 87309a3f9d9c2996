#include "measure/startsSummary.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "measure/roundTripFigures.h"

namespace measure {

namespace {

std::string fixed1(double value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

bool isDigits(const std::string& word) {
    return !word.empty() &&
           std::all_of(word.begin(), word.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The kind with every word's plural ending taken off: "1 switch missing" and "3 switches
// missing" are one kind.
std::string singularKey(const std::string& kind) {
    std::string key, word;
    auto flush = [&] {
        if (word.size() > 3 && word.compare(word.size() - 2, 2, "es") == 0)
            word.resize(word.size() - 2);
        else if (word.size() > 2 && word.back() == 's')
            word.pop_back();
        key += (key.empty() ? "" : " ") + word;
        word.clear();
    };
    for (char c : kind) {
        if (c == ' ')
            flush();
        else
            word += c;
    }
    flush();
    return key;
}

// "1, 2, 4": the starts named, the first ten of a long list.
std::string startList(const std::vector<int32_t>& starts) {
    std::string text;
    for (size_t i = 0; i < starts.size() && i < 10; ++i)
        text += (i == 0 ? "" : ", ") + std::to_string(starts[i]);
    if (starts.size() > 10) text += ", ...";
    return text;
}

} // namespace

std::string reasonKind(const std::string& reason) {
    std::string kind = reason;
    // Leading counts: "12 switches missing", "3 of 20 bursts missing".
    const size_t space = kind.find(' ');
    if (space != std::string::npos && isDigits(kind.substr(0, space))) {
        kind.erase(0, space + 1);
        if (kind.compare(0, 3, "of ") == 0) {
            const size_t next = kind.find(' ', 3);
            if (next != std::string::npos && isDigits(kind.substr(3, next - 3))) kind.erase(0, next + 1);
        }
    }
    // The details that differ from one start to the next.
    const size_t detail = std::min(kind.find(" ("), kind.find(": "));
    if (detail != std::string::npos) kind.resize(detail);
    return kind;
}

bool sameRoundTrip(double a, double halfWidthA, double b, double halfWidthB) {
    const double apart = std::fabs(a - b);
    return apart < minRoundTripChange || apart < halfWidthA + halfWidthB;
}

StartsSummary summariseStarts(const std::vector<StartOutcome>& starts) {
    StartsSummary summary;
    summary.starts = static_cast<int32_t>(starts.size());
    std::vector<std::string> keys; // of summary.failures, alike
    auto strike = [&](const std::string& kind, VerdictWord word, int32_t start) {
        const std::string key = singularKey(kind);
        auto found = std::find(keys.begin(), keys.end(), key);
        if (found == keys.end()) {
            keys.push_back(key);
            summary.failures.push_back({kind, word, {}});
            found = keys.end() - 1;
        }
        FailureKind& failure = summary.failures[static_cast<size_t>(found - keys.begin())];
        failure.word = std::max(failure.word, word);
        if (failure.starts.empty() || failure.starts.back() != start) failure.starts.push_back(start);
    };
    for (const StartOutcome& start : starts) {
        if (start.roundTrip) {
            auto group =
                std::find_if(summary.groups.begin(), summary.groups.end(), [&](const RoundTripGroup& g) {
                    return sameRoundTrip(g.roundTrip, g.halfWidth, *start.roundTrip,
                                         start.roundTripHalfWidth);
                });
            if (group == summary.groups.end())
                summary.groups.push_back({*start.roundTrip, start.roundTripHalfWidth, {start.start}});
            else
                group->starts.push_back(start.start);
        } else if (start.roundTripMissing) {
            summary.roundTripMissing.push_back(start.start);
        }
        if (start.ran && (!start.firstCallbackMs || *start.firstCallbackMs > firstCallbackLimitMs))
            strike("no first callback within 1 s", VerdictWord::fail, start.start);
        if (start.verdict.passed()) continue;
        for (size_t i = 0; i < start.verdict.reasons.size(); ++i) {
            const std::string& reason = start.verdict.reasons[i];
            // A start without a switch has its kind above already; a signal that ended a
            // start ended the run, which says so once.
            if (start.ran && !start.firstCallbackMs && reason == "no buffer switch came") continue;
            if (reason.rfind("stopped by signal", 0) == 0) continue;
            strike(reasonKind(reason), std::min(start.verdict.wordOf(i), VerdictWord::fail), start.start);
        }
        if (start.verdict.reasons.empty() && start.verdict.word != VerdictWord::interrupted)
            strike(verdictName(start.verdict.word), start.verdict.word, start.start);
    }
    // The most common round trip first; among as common ones, the one seen first.
    std::stable_sort(
        summary.groups.begin(), summary.groups.end(),
        [](const RoundTripGroup& a, const RoundTripGroup& b) { return a.starts.size() > b.starts.size(); });

    for (const FailureKind& failure : summary.failures)
        summary.verdict.add(failure.word, failureRateText(failure, summary.starts) + " (start" +
                                              (failure.starts.size() == 1 ? " " : "s ") +
                                              startList(failure.starts) + ")");
    if (summary.groups.size() > 1) {
        std::string values;
        for (const RoundTripGroup& group : summary.groups)
            values += (values.empty() ? "" : "; ") + fixed1(group.roundTrip) + " at start" +
                      (group.starts.size() == 1 ? " " : "s ") + startList(group.starts);
        summary.verdict.add(VerdictWord::fail, "the round trip changed between starts: " + values);
    }
    return summary;
}

std::string roundTripSpreadText(const StartsSummary& summary, int32_t bufferSize) {
    if (summary.groups.empty()) return {};
    const RoundTripGroup& common = summary.groups.front();
    std::string text = fixed1(common.roundTrip) + " in " + std::to_string(common.starts.size()) + " of " +
                       std::to_string(summary.starts) + " starts";
    for (size_t i = 1; i < summary.groups.size(); ++i) {
        const RoundTripGroup& group = summary.groups[i];
        const double difference = group.roundTrip - common.roundTrip;
        const double buffers = bufferSize > 0 ? difference / bufferSize : 0.0;
        const double whole = std::round(buffers);
        std::string said;
        if (bufferSize > 0 && whole != 0 && std::fabs(buffers - whole) * bufferSize < 0.05) {
            const long count = std::lround(std::fabs(whole));
            said = (count == 1 ? std::string("one buffer") : std::to_string(count) + " buffers") +
                   (whole > 0 ? " more" : " less");
        } else {
            said = fixed1(std::fabs(difference)) + " samples" + (difference > 0 ? " more" : " less");
        }
        text += ", " + fixed1(group.roundTrip) + " in " + std::to_string(group.starts.size()) + ": " + said;
    }
    if (!summary.roundTripMissing.empty())
        text += ", not found in " + std::to_string(summary.roundTripMissing.size());
    return text;
}

std::string failureRateText(const FailureKind& failure, int32_t starts) {
    return failure.kind + ": " + std::to_string(failure.starts.size()) + " of " + std::to_string(starts);
}

} // namespace measure
