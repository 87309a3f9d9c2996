// The parts of the report page, each from its part of the data. Each returns HTML that
// stands on its own (a <section> with its heading), or nothing when its data is empty.
#pragma once

#include <cstdint>
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
// "1 gap", "3 late switches".
std::string countedEvents(uint64_t count, EventKind kind);

std::string headerSection(const ReportData& data);
std::string driverSection(const ReportData& data);
std::string timingSection(const TimingData& timing);
std::string latencySection(const LatencyData& latency);
std::string sweepSection(const std::vector<SweepRow>& rows);
std::string conformanceSection(const std::vector<ConformanceDriver>& drivers);

} // namespace report
