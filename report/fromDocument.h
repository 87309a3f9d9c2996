// The report's data from the run's JSON document, the one record of what a run (a plain
// measured run, a sweep or the conformance suite) found: the driver, its figures and
// channels, the verdict and its reasons, the round trip's figures, the sweep's rows and
// the checks of the suite. What only the run itself holds (the timeline, the intervals,
// the correlation and the glitches' waveforms) the program adds afterwards.
#pragma once

#include <nlohmann/json.hpp>

#include "report/reportData.h"

namespace report {

// Fills what the document holds; a key that is missing or null leaves its part out.
ReportData reportDataFromDocument(const nlohmann::json& document);

// Adds the series of the baseline's document (its sweep's rows, its starts, its loop's
// round trip) to what the run's document said of the baseline.
void addBaselineSeries(BaselineData& baseline, const nlohmann::json& baselineDocument);

} // namespace report
