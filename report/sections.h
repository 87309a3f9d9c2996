// The parts of the report page, each from its part of the data. Each returns HTML that
// stands on its own (a <section> with its heading), or nothing when its data is empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/reportData.h"
#include "report/svgPlot.h"

namespace report {

// A plot in its figure: the title as a heading, the drawing and a caption that says how
// to read it.
std::string plotFigure(const std::string& title, const SvgPlot& plot, const std::string& caption);

// The marks' colour and shape of each kind of timing event, and its name for people.
Colour eventColour(EventKind kind);
Shape eventShape(EventKind kind);
const char* eventKindLabel(EventKind kind);
// "setting 2 of 8 (48000 Hz, 256 samples)".
std::string settingText(const SweepSetting& setting);

// "1 gap", "3 late switches".
std::string countedEvents(uint64_t count, EventKind kind);

std::string headerSection(const ReportData& data);
std::string driverSection(const ReportData& data);
// The run's timing plots and events: data.timing, over the run's length where it is
// known, without the machine's stalls where the probe could not resolve them, and up
// to where a run that crashed or hung ended.
std::string timingSection(const ReportData& data);
// The time axis ends at the run's length where it is known. With a baseline, its round
// trip is drawn faintly under every burst's.
std::string latencySection(const LatencyData& latency, const std::optional<double>& runSeconds,
                           const BaselineData* baseline = nullptr);
// The level matrix of a channel map and the round trip of every pair heard.
std::string channelMapSection(const ChannelMapData& map);
// A sweep's rows; `crashed`: the setting that was running when the run crashed or hung
// (it has no row), with the line that says so.
// With a baseline, each row gains what the baseline had where it differs, and the
// baseline's round trips are drawn faintly under this run's.
std::string sweepSection(const std::vector<SweepRow>& rows, const std::optional<SweepSetting>& crashed = {},
                         const std::string& crashLine = {}, const BaselineData* baseline = nullptr);
// The starts of /starts: the round trip and the first callback of every start; with a
// baseline, its starts' round trips drawn faintly under this run's.
std::string startsSection(const StartsData& starts, const BaselineData* baseline = nullptr);
std::string probeSection(const ProbeFacts& probe);
// With a baseline, each check gains the baseline's result.
std::string conformanceSection(const std::vector<ConformanceDriver>& drivers,
                               const BaselineData* baseline = nullptr);
// "Compared with baseline": a row per change, worse first, or that nothing changed.
std::string baselineSection(const BaselineData& baseline);
// A table cell of what the baseline had for the changes named "PREFIXWHAT" ("round trip
// 544 samples, verdict pass"), `same` (in the style of a note) where none is.
std::string baselineCell(const BaselineData& baseline, const std::string& prefix, const std::string& same);

} // namespace report
