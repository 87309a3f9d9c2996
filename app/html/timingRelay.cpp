#include "app/html/timingRelay.h"

#include "app/html/plotData.h"

namespace {

using json = nlohmann::json;

// Interval counts beyond this many microseconds would be no histogram of this run.
constexpr size_t countsLimit = size_t(measure::SwitchTiming::histogramMicroseconds);

json binText(const report::TimelineBin& bin) {
    return json::array({bin.switches, bin.intervals, bin.intervalMinUs, bin.intervalMeanUs, bin.intervalMaxUs,
                        bin.hostMeanUs, bin.hostMaxUs});
}

double numberAt(const json& list, size_t i) {
    return i < list.size() && list[i].is_number() ? list[i].get<double>() : 0.0;
}

} // namespace

json timingNews::since(const measure::SwitchTiming& timing, const measure::SwitchSummary& counts,
                       int64_t originNs) {
    json news = json::object();
    if (!f_told) {
        const report::TimingData frame = timingPlotFrame(timing);
        news["first"] = true;
        news["periodUs"] = frame.periodUs;
        news["lateThresholdUs"] = frame.lateThresholdUs;
        news["binSeconds"] = frame.binSeconds;
    }
    const std::vector<measure::TimelineBin>& bins = timing.timeline();
    if (bins.size() > f_finalBins || !f_told) {
        json told = json::array();
        for (size_t i = f_finalBins; i < bins.size(); ++i)
            told.push_back(binText(timelineBinOf(bins[i], i)));
        news["from"] = f_finalBins;
        news["bins"] = std::move(told);
        // The last bin may still fill: it is told again next time.
        f_finalBins = bins.empty() ? 0 : bins.size() - 1;
    }
    const std::vector<measure::SwitchEvent>& events = timing.events();
    if (events.size() > f_events) {
        json told = json::array();
        for (size_t i = f_events; i < events.size(); ++i) {
            const report::TimingEvent event = timingEventOf(events[i], originNs);
            told.push_back(json::array({event.t, report::eventKindName(event.kind), event.detail}));
        }
        news["events"] = std::move(told);
        f_events = events.size();
    }
    const std::vector<uint64_t>& histogram = timing.intervalHistogram();
    f_counts.resize(histogram.size(), 0);
    json changed = json::array();
    for (size_t us = 0; us < histogram.size(); ++us)
        if (histogram[us] != f_counts[us]) {
            changed.push_back(json::array({us, histogram[us]}));
            f_counts[us] = histogram[us];
        }
    for (const auto& [us, count] : timing.longIntervals())
        if (uint64_t& known = f_longCounts[us]; known != count) {
            changed.push_back(json::array({us, count}));
            known = count;
        }
    if (!changed.empty()) news["counts"] = std::move(changed);
    const std::array<uint64_t, report::eventKindCount> totals = eventTotalsOf(counts);
    if (totals != f_totals || !f_told) {
        news["totals"] = totals;
        f_totals = totals;
    }
    f_told = true;
    return news.empty() ? json() : news;
}

void applyTimingNews(report::TimingData& timing, const json& news) {
    if (!news.is_object()) return;
    if (news.value("first", false)) {
        timing = report::TimingData{};
        timing.periodUs = news.value("periodUs", 0.0);
        timing.lateThresholdUs = news.value("lateThresholdUs", 0.0);
        timing.binSeconds = news.value("binSeconds", 0.1);
        if (!(timing.binSeconds > 0)) timing.binSeconds = 0.1;
    }
    if (const auto bins = news.find("bins"); bins != news.end() && bins->is_array()) {
        const size_t from = news.value("from", timing.timeline.size());
        timing.timeline.resize(std::min(from, timing.timeline.size()));
        for (const json& bin : *bins) {
            report::TimelineBin entry;
            entry.t = static_cast<double>(timing.timeline.size()) * timing.binSeconds;
            entry.switches = static_cast<uint32_t>(numberAt(bin, 0));
            entry.intervals = static_cast<uint32_t>(numberAt(bin, 1));
            entry.intervalMinUs = numberAt(bin, 2);
            entry.intervalMeanUs = numberAt(bin, 3);
            entry.intervalMaxUs = numberAt(bin, 4);
            entry.hostMeanUs = numberAt(bin, 5);
            entry.hostMaxUs = numberAt(bin, 6);
            timing.timeline.push_back(entry);
        }
    }
    if (const auto events = news.find("events"); events != news.end() && events->is_array())
        for (const json& event : *events) {
            if (!event.is_array() || event.size() != 3 || !event[1].is_string() || !event[2].is_string())
                continue;
            if (const auto kind = report::eventKindNamed(event[1].get<std::string>()))
                timing.events.push_back({numberAt(event, 0), *kind, event[2].get<std::string>()});
        }
    if (const auto counts = news.find("counts"); counts != news.end() && counts->is_array())
        for (const json& count : *counts) {
            if (!count.is_array() || count.size() != 2 || !count[0].is_number_unsigned() ||
                !count[1].is_number_unsigned())
                continue;
            const uint64_t us = count[0].get<uint64_t>(), value = count[1].get<uint64_t>();
            if (us < countsLimit) {
                if (timing.intervalCounts.size() <= us) timing.intervalCounts.resize(countsLimit, 0);
                timing.intervalCounts[us] = value;
            } else {
                timing.longIntervals[static_cast<int64_t>(us)] = value;
            }
        }
    if (const auto totals = news.find("totals"); totals != news.end() && totals->is_array())
        for (size_t k = 0; k < report::eventKindCount && k < totals->size(); ++k)
            timing.eventTotals[k] = static_cast<uint64_t>(numberAt(*totals, k));
}
